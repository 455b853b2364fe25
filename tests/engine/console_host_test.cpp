// The console host: its output lines, the note file, prompts read from an
// input descriptor, and a stop that cuts a waiting prompt short.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/console_host.h"
#include "platform/display.h"
#include "support/test_support.h"

namespace velmar {
namespace {

using testing::TempDir;

// A pipe whose write end the host uses as its output (or input).
struct Pipe {
  Pipe() {
    if (pipe(fds) != 0) std::abort();
  }
  ~Pipe() {
    if (fds[0] >= 0) close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  void closeWrite() {
    close(fds[1]);
    fds[1] = -1;
  }
  void write(const std::string& text) {
    ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Reads until `marker` has arrived (or the other end is closed).
  std::string readUntil(const std::string& marker) {
    while (collected.find(marker) == std::string::npos) {
      char buffer[256];
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      collected.append(buffer, static_cast<std::size_t>(n));
    }
    return collected;
  }
  int fds[2] = {-1, -1};
  std::string collected;
};

class ConsoleHostTest : public ::testing::Test {
 protected:
  ScriptInstance* Start(ConsoleHost& host, const std::string& script) {
    const auto path = dir.Write("Script/t.vlm", script);
    return host.startScript("t", path.string(), "");
  }
  static std::string ReadAll(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
  }

  TempDir dir;
  EngineEnvironment env = EngineEnvironment::ForHome(dir.path(), KeywordFlavor::kRunner);
};

TEST(ConsoleText, EscapesBackslashAndLineEndsOnly) {
  EXPECT_EQ(EscapeConsoleText("a\\b\r\nc\td"), "a\\\\b\\r\\nc\td");
  EXPECT_EQ(EscapeConsoleText("\xE4\xB8\xAD\x5C"), "\xE4\xB8\xAD\\\\");
  EXPECT_EQ(EscapeConsoleText(""), "");
}

TEST(ConsoleText, NoDisplayGivesAZeroScreen) {
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  const platform::DisplaySize size = platform::QueryDisplaySize();
  if (display) setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(size.width, 0);
  EXPECT_EQ(size.height, 0);
}

// A `Temp` planted as a link to a folder elsewhere never receives a note:
// the note line is not printed and the diagnostics say why.
TEST_F(ConsoleHostTest, NotesAreNeverWrittenThroughAPlantedTempLink) {
  testing::TempDir outside;
  std::filesystem::create_symlink(outside.path(), dir.path() / "Temp");
  std::vector<std::string> said;
  env.diagnostic = [&said](int32_t, std::string_view text) { said.emplace_back(text); };
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    ConsoleHost host(env, out);
    ScriptInstance* s = Start(host, "note secret\n");
    ASSERT_TRUE(host.run(*s));
    s->worker.join();
  }
  EXPECT_EQ(ReadAll(out), "state: exit\n");
  std::fclose(out);
  EXPECT_TRUE(std::filesystem::is_empty(outside.path()));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_NE(said[0].find("symbolic link"), std::string::npos) << said[0];
}

TEST_F(ConsoleHostTest, AnswersRequestsWithOneFlushedLineEach) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  Pipe input;
  input.write("Ann\r\nBob");
  input.closeWrite();
  {
    ConsoleHost host(env, out, input.fds[0]);
    ScriptInstance* s = Start(host,
                              "show a\\b  \nline two\nright r\nleft l\nstate s\n"
                              "alert x\nnote hello\nsecond\nprompt name?\n"
                              "jswindow w\nopenwindow w\nprompt more?\nprompt end?\n");
    ASSERT_TRUE(host.run(*s));
    s->worker.join();
    EXPECT_EQ(ReadAll(out),
              "show: a\\\\b  \\nline two\nright: r\nleft: l\nstate: s\nalert: x\nnote: " +
                  host.NotePath(s->id) +
                  "\nprompt: name?\nprompt: more?\nprompt: end?\nstate: exit\n");
    EXPECT_EQ(host.NotePath(s->id), (dir.path() / "Temp" / "note_1.txt").string());
    EXPECT_EQ(testing::ReadFile(host.NotePath(s->id)), "hello\r\nsecond");
    // The last line had no line end; after it the input is at its end.
    EXPECT_EQ(s->variables["input"], "");
    EXPECT_EQ(s->variables["status"], "0");  // no windows in a terminal
  }
  std::fclose(out);
}

TEST_F(ConsoleHostTest, JsSetsStatusAndReturn) {
  std::FILE* out = std::tmpfile();
  ConsoleHost host(env, out, -1);
  ScriptInstance* s = Start(host, "js 1+1\n");
  ASSERT_TRUE(host.run(*s));
  s->worker.join();
  const std::string status = s->variables["status"];
  ASSERT_TRUE(status == "0" || status == "1") << status;
  if (status == "1") {
    EXPECT_EQ(s->variables["return"], "2");
  }
  std::fclose(out);
}

TEST_F(ConsoleHostTest, StopCutsAWaitingPromptShort) {
  Pipe output;
  Pipe input;  // never written: the prompt would wait for ever
  std::FILE* out = fdopen(output.fds[1], "w");
  ASSERT_NE(out, nullptr);
  output.fds[1] = -1;  // now owned by `out`
  {
    ConsoleHost host(env, out, input.fds[0]);
    ScriptInstance* s = Start(host, "prompt who?\nshow after\n");
    ASSERT_TRUE(host.run(*s));
    output.readUntil("prompt: who?\n");
    host.stop(*s);
    s->worker.join();
    EXPECT_EQ(s->variables.Find("input"), nullptr);
  }
  std::fclose(out);
  EXPECT_EQ(output.readUntil("state: exit\n"), "prompt: who?\nstate: stop\nstate: exit\n");
}

}  // namespace
}  // namespace velmar

// End-to-end runs of `velmar run`: standard output, standard input for
// prompts, exit statuses and the stop by SIGINT/SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "engine/script_context.h"
#include "support/test_support.h"
#include "engine/statements/expansion.h"

namespace velmar {
namespace {

using testing::RunVelmar;
using testing::TempDir;

// Skips (fails in CI) when the `velmar` program cannot be run.
#define REQUIRE_RUN_COMMAND()                                                      \
  do {                                                                             \
    const auto probe = RunVelmar({"run"});                                         \
    if (probe.exitCode == 2 && probe.err.find("velmar run:") == std::string::npos) \
      VELMAR_SKIP_WITHOUT("velmar run (" + probe.err + ")");                       \
  } while (0)

// How a run prints each request, a refused pattern's diagnostic and the
// system's texts in GBK are cases of tests/cases.

TEST(Cli, FindsBareNamesInTheHomeScriptFolder) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  home.Write("Script/greet.vlm", "show hi\n");
  for (const char* name : {"greet", "greet.vlm"}) {
    const auto result = RunVelmar({"run", "--home=" + home.path().string(), name});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "show: hi\nstate: exit\n");
  }
  // VELMAR_HOME stands in for --home.
  const auto viaEnv = RunVelmar({"run", "greet"}, "", 60, {"VELMAR_HOME=" + home.path().string()});
  EXPECT_EQ(viaEnv.out, "show: hi\nstate: exit\n");
}

TEST(Cli, ScriptErrorsExitWithOne) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  const auto script = home.Write("Script/bad.vlm", "show before\ncall <missing>\nshow after\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), script.string()});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out,
            "show: before\nalert: 出错：\"CALL <missing>\"\\r\\n原因：使用了未定义的代码段名称．\n"
            "state: exit\n");

  // A control statement whose text fails to expand ends the run the same way.
  for (const char* statement : {"goto [%x]", "while [%x]\n{\nshow loop\n}", "if [%x]\n{\n}"}) {
    const auto control = home.Write("Script/control.vlm",
                                    "show before\n" + std::string(statement) + "\nshow after\n");
    const auto run = RunVelmar({"run", "--home", home.path().string(), control.string()});
    EXPECT_EQ(run.exitCode, 1) << statement;
    EXPECT_EQ(run.out, "show: before\nalert: 出错：\"x\"\\r\\n原因：格式有误．\nstate: exit\n")
        << statement;
  }
}

TEST(Cli, ErrorsNameTheirFileAndLineOnStandardError) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  home.Write("Script/lib.vlm", "<sub>\nshow in lib\ncall <nowhere>\n");
  home.Write("Script/t.vlm",
             "show start\nusing lib\nusing gone.away\n<main>\n"
             "show [@readfile] [@readfile] [@readfile]\ncall <sub>\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), "t"});
  EXPECT_EQ(result.exitCode, 1);
  // Each failing call of one text shows its alert, in order; the run ends
  // after the statement.
  const std::string alert = "alert: 出错：\"readfile\"\\r\\n原因：格式有误．\n";
  EXPECT_EQ(result.out, alert + alert + alert + "show:   \nstate: exit\n");
  const std::string script = (home.path() / "Script" / "t.vlm").string();
  EXPECT_EQ(result.err, "velmar run: " + script + ":3: cannot read include file " +
                            (home.path() / "Script" / "gone" / "away.vlm").string() + "\n" + script +
                            ":5: error: wrong format (readfile)\n" + script +
                            ":5: error: wrong format (readfile)\n" + script +
                            ":5: error: wrong format (readfile)\n");

  // An error in an include names the include's file.
  const auto u = home.Write("Script/u.vlm", "using lib\n<main>\ncall <sub>\n");
  const auto inLib = RunVelmar({"run", "--home", home.path().string(), u.string()});
  EXPECT_EQ(inLib.err, (home.path() / "Script" / "lib.vlm").string() +
                           ":3: error: use of an undefined section name (CALL <nowhere>)\n");
}

TEST(Cli, UsageErrorsAndUnreadableScriptsExitWithTwo) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  const std::string h = home.path().string();
  const std::vector<std::vector<std::string>> calls = {
      {},
      {"frobnicate"},
      {"run"},
      {"run", "--home", h},
      {"run", "--home", h, "--codepage", "1252", "x.vlm"},
      {"run", "--home", h, "--bogus", "x.vlm"},
      {"run", "--home", h, "a.vlm", "b.vlm"},
      {"run", "--home", h, "--time-limit", "0", "x.vlm"},
      {"run", "--home", h, "--time-limit=-5", "x.vlm"},
      {"run", "--home", h, "--time-limit", "soon", "x.vlm"},
      {"run", "--home", h, "--time-limit", "nan", "x.vlm"},
      {"run", "--home", h, "x.vlm", "--time-limit"},
  };
  for (const auto& args : calls) {
    const auto result = RunVelmar(args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_FALSE(result.err.empty()) << ::testing::PrintToString(args);
    EXPECT_TRUE(result.out.empty()) << ::testing::PrintToString(args);
  }
  // A script that cannot be read is no usage error: the command line was
  // right, the file was not.
  for (const std::string& unreadable : {(home.path() / "missing.vlm").string(), h}) {
    const auto result = RunVelmar({"run", "--home", h, "--jsonl", unreadable});
    EXPECT_EQ(result.exitCode, 3) << unreadable;
    EXPECT_NE(result.err.find("cannot read script"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  const auto help = RunVelmar({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("velmar run"), std::string::npos);
  const auto version = RunVelmar({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("velmar ", 0), 0u);
}

// Starts `velmar run` with a pipe on its output, waits for `marker`, sends
// `sig`, and returns the exit status and the whole output.
std::pair<int, std::string> RunAndSignal(const std::vector<std::string>& args,
                                         const std::string& marker, int sig) {
  int out[2];
  if (pipe(out) != 0) return {-1, ""};
  int in[2];
  if (pipe(in) != 0) return {-1, ""};
  std::vector<std::string> argv{VELMAR_CLI_PATH, "run"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);  // a test runner in the background may ignore them
    signal(SIGTERM, SIG_DFL);
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    execv(argp[0], argp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  std::string text;
  char buffer[256];
  bool signalled = false;
  for (;;) {
    if (!signalled && text.find(marker) != std::string::npos) {
      kill(pid, sig);
      signalled = true;
    }
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, text};
}

TEST(Cli, SignalsStopTheScriptLikeTheStopCommand) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  const auto sleeper = home.Write("Script/sleep.vlm", "show go\npause 100000000\nshow never\n");
  const auto [intCode, intOut] =
      RunAndSignal({"--home", home.path().string(), sleeper.string()}, "state: sleep\n", SIGINT);
  EXPECT_EQ(intCode, 130);
  EXPECT_EQ(intOut, "show: go\nstate: sleep\nstate: stop\nstate: exit\n");

  // A prompt waiting for standard input is cut short as well.
  const auto prompter = home.Write("Script/ask.vlm", "prompt q\nshow never\n");
  const auto [termCode, termOut] =
      RunAndSignal({"--home", home.path().string(), prompter.string()}, "prompt: q\n", SIGTERM);
  EXPECT_EQ(termCode, 143);
  EXPECT_EQ(termOut, "prompt: q\nstate: stop\nstate: exit\n");
}

// `velmar run` of a script that prints in an endless loop, with its output
// a pipe that the test reads only when it wants to.
class ChattyRun {
 public:
  explicit ChattyRun(const TempDir& home) {
    const auto script =
        home.Write("Script/chatty.vlm", "while 1\n{\nshow " + std::string(200, 'x') + "\n}\n");
    int out[2];
    if (pipe(out) != 0) return;
    std::vector<std::string> argv{VELMAR_CLI_PATH, "run", "--home=" + home.path().string(),
                                  script.string()};
    std::vector<char*> argp;
    for (std::string& arg : argv) argp.push_back(arg.data());
    argp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execv(argp[0], argp.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  ~ChattyRun() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }

  // Waits until the pipe holds a good part of its capacity and stops
  // growing: the script is then stuck writing its next line.
  bool WaitUntilTheOutputIsFull() {
    int held = 0;
    int previous = -1;
    for (int i = 0; i < 200 && (held < 16384 || held != previous); ++i) {
      previous = held;
      usleep(50 * 1000);
      ioctl(fd_, FIONREAD, &held);
    }
    return held >= 16384;
  }
  void Signal(int sig) { kill(pid_, sig); }
  std::string ReadAll() {
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    return text;
  }
  // The exit status, or -1 when the program has not ended within the time.
  int WaitForExit(int timeoutMs) {
    for (int waited = 0; status_ < 0 && waited <= timeoutMs; waited += 20) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else {
        usleep(20 * 1000);
      }
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  int status_ = -1;
};

// Nobody reads the output pipe, so the script's next line cannot be written:
// a SIGTERM still ends the run.
TEST(Cli, ASignalEndsARunWhoseOutputNobodyReads) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  ChattyRun run(home);
  ASSERT_TRUE(run.WaitUntilTheOutputIsFull());
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitForExit(10000), 143) << "velmar run did not end after SIGTERM";
}

// A supervisor such as `timeout` signals the child and its whole process
// group, so two signals arrive together; both belong to one stop, whose
// states must still be written. The stop here takes a moment: the script is
// stuck writing to a pipe that is read only from the signals on (a reader
// that stays away longer than the stop waits loses the last lines).
TEST(Cli, SignalsArrivingTogetherMakeOneStop) {
  REQUIRE_RUN_COMMAND();
  TempDir home;
  ChattyRun run(home);
  ASSERT_TRUE(run.WaitUntilTheOutputIsFull());
  // Two different signals cannot merge while pending, so the second one
  // reaches the program while the first stop is carried out.
  run.Signal(SIGTERM);
  run.Signal(SIGINT);
  const std::string out = run.ReadAll();
  const int code = run.WaitForExit(10000);
  EXPECT_TRUE(code == 130 || code == 143) << code;
  const std::string tail = "state: stop\nstate: exit\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

// Whether this build expands references and evaluates expressions yet.
bool Evaluates() {
  EngineEnvironment env;
  ScriptContext probe(env);
  std::string sum = "(1+1)";
  ExpandAndEvaluate(probe, sum);
  return sum == "2";
}

TEST(Cli, PresetsParamAndTheAbsoluteSource) {
  REQUIRE_RUN_COMMAND();
  ASSERT_TRUE(Evaluates()) << "expression evaluation";
  TempDir home;
  home.Write("Script/vars.vlm", "show [#param]|[#source]\n");
  const auto result = RunVelmar({"run", "--home", home.path().string(), "--param", "a b", "vars"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "show: a b|" + (home.path() / "Script" / "vars.vlm").string() + "\nstate: exit\n");
}

// The README's first command. Its loop needs expression evaluation, which
// this build may not have yet.
TEST(Cli, TheExampleScriptRuns) {
  REQUIRE_RUN_COMMAND();
  ASSERT_TRUE(Evaluates()) << "expression evaluation";
  TempDir home;
  home.Write("Script/hello.vlm", testing::ReadFile(std::filesystem::path(VELMAR_SOURCE_DIR) /
                                                   "examples" / "Script" / "hello.vlm"));
  const auto result = RunVelmar(
      {"run", "--home", home.path().string(), (home.path() / "Script" / "hello.vlm").string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "state: counting\nshow: step 1 of 3: one, total so far 1\n"
            "show: step 2 of 3: two, total so far 3\nshow: step 3 of 3: three, total so far 6\n"
            "right: the sum of 1, 2 and 3 is 6\nnote: " +
                (home.path() / "Temp" / "note_1.txt").string() + "\nstate: done\nstate: exit\n");
  EXPECT_EQ(testing::ReadFile(home.path() / "Temp" / "note_1.txt"),
            "Counted to 3; the total is 6.");
}

}  // namespace
}  // namespace velmar

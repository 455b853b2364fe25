#include "engine/script_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

using namespace std::string_literals;
using testing::TempDir;
namespace fs = std::filesystem;
using Commands = std::vector<std::pair<int32_t, std::string>>;

Commands CommandsOf(const ScriptProgram& program) {
  Commands out;
  for (const ScriptCommand& c : program.commands) out.emplace_back(c.id, c.text);
  return out;
}

class ScriptProgramTest : public ::testing::Test {
 protected:
  ScriptProgram Parse(std::string_view source) { return parseScript(source, env()); }
  // Writes Script/<name>.vlm below the home folder.
  std::string Script(const std::string& name, const std::string& text) {
    return dir_.Write("Script/" + name + ".vlm", text).string();
  }
  EngineEnvironment env() const { return EngineEnvironment::ForHome(dir_.path()); }
  void UseGbk() { dir_.Write("Config.ini", "[setting]\r\ncodepage=936\r\n"); }

  TempDir dir_;
};

TEST_F(ScriptProgramTest, StatementsContinuationsAndComments) {
  EXPECT_EQ(CommandsOf(Parse("")), (Commands{{22, ""}}));
  EXPECT_EQ(CommandsOf(Parse("  GET [$url]/b   ")), (Commands{{20, "[$url]/b"}, {22, ""}}));
  EXPECT_EQ(CommandsOf(Parse("foo\r\nshow a\r\n  foo  \r\n\r\n// note\r\nalert x // y")),
            (Commands{{11, "a\nfoo  "}, {10, "x // y"}, {22, ""}}));
  // Only CR LF ends a line here: ReadTextFile has already turned LF into it.
  EXPECT_EQ(CommandsOf(Parse("show a\nalert b")), (Commands{{11, "a\nalert b"}, {22, ""}}));
  EXPECT_EQ(CommandsOf(Parse("\xEF\xBB\xBFshow a\r\n")), (Commands{{11, "a"}, {22, ""}}));
  // A `using` line as the very last line includes nothing (and is no command).
  Script("lib", "show lib\r\n");
  EXPECT_EQ(CommandsOf(Parse("show a\r\nusing lib")), (Commands{{11, "a"}, {22, ""}}));
}

TEST_F(ScriptProgramTest, LabelsPointAtTheNextStatement) {
  const ScriptProgram p = Parse(
      "show 0\r\n<Main>\r\nshow 1\r\n<x>\r\ncontinued\r\n<sub> extra words\r\nshow 2\r\n<x>\r\n"
      "show 3\r\n<>\r\n<end>");
  EXPECT_EQ(CommandsOf(p), (Commands{{11, "0"},
                                     {11, "1\ncontinued"},  // a label does not end the run
                                     {11, "2"},
                                     {11, "3\n<>"},
                                     {22, ""}}));
  EXPECT_EQ(p.labels, (LabelTable{{"<main>", 1}, {"<x>", 3}, {"<sub>", 2}, {"<end>", 4}}));
  EXPECT_EQ(*p.FindLabel("<end>"), p.lastIndex());
  EXPECT_EQ(p.FindLabel("<Main>"), nullptr);
}

TEST_F(ScriptProgramTest, IncludesReadInPlace) {
  Script("lib/util", "<util>\r\nshow util\r\nusing lib.inner\r\n");
  Script("lib/inner",
         "\xEF\xBB\xBF"
         "show inner\n<after_inner>\n");
  Script("lib/Dir.vlm/x", "");  // a folder named like a script
  const std::string main =
      Script("main",
             "show a\r\nusing lib.util\r\n  continued\r\nusing  lib\\inner \r\n"
             "using lib.missing\r\nusing lib.Dir\r\nshow b\r\n");
  const ScriptProgram p = LoadScriptFile(main, env());
  EXPECT_EQ(
      CommandsOf(p),
      (Commands{
          {11, "a"}, {11, "util"}, {11, "inner\ncontinued"}, {11, "inner"}, {11, "b"}, {22, ""}}));
  EXPECT_EQ(p.labels, (LabelTable{{"<util>", 1}, {"<after_inner>", 4}}));
  EXPECT_EQ(IncludePath("/h", " a.b ", *env().codePage), "/h/Script/a/b.vlm");
}

TEST_F(ScriptProgramTest, IncludeCyclesAndDepthAreCut) {
  // Direct and indirect cycles: a file on the chain of includes is skipped.
  Script("self", "show self\r\nusing self\r\n");
  Script("ping", "show ping\r\nusing pong\r\n");
  Script("pong", "show pong\r\nusing ping\r\nusing self\r\n");
  EXPECT_EQ(CommandsOf(LoadScriptFile(Script("main", "using ping\r\nusing ping\r\nusing main\r\n"),
                                      env())),
            (Commands{{11, "ping"},
                      {11, "pong"},
                      {11, "self"},
                      {11, "ping"},  // included again once the first ended
                      {11, "pong"},
                      {11, "self"},
                      {22, ""}}));
  EXPECT_EQ(Parse("using self\r\n").commands.size(), 2u);

  // A chain deeper than the bound stops there; what follows is still read.
  for (int i = 0; i < 100; ++i) {
    Script("deep/d" + std::to_string(i),
           "show " + std::to_string(i) + "\r\nusing deep.d" + std::to_string(i + 1) + "\r\n");
  }
  const ScriptProgram deep = Parse("using deep.d0\r\nshow end\r\n");
  ASSERT_EQ(deep.commands.size(), static_cast<std::size_t>(kMaxIncludeDepth) + 2);
  EXPECT_EQ(deep.commands[kMaxIncludeDepth - 1].text, std::to_string(kMaxIncludeDepth - 1));
  EXPECT_EQ(deep.commands[kMaxIncludeDepth].text, "end");
}

TEST_F(ScriptProgramTest, GbkTrailBytesInNamesAndLabels) {
  UseGbk();
  const std::string name = "\x95\\";  // U+661E: its trail byte is a backslash
  Script("lib/" + name, "show gbk\r\n");
  const ScriptProgram p = Parse("using lib." + name +
                                "\r\n<\x81"
                                "A>\r\nshow \x81[x]\r\n");
  EXPECT_EQ(CommandsOf(p), (Commands{{11, "gbk"}, {11, "\x81[x]"}, {22, ""}}));
  EXPECT_EQ(p.labels, (LabelTable{{"<\x81"
                                   "A>",
                                   1}}));
  // The byte-order mark belongs to UTF-8 only.
  EXPECT_EQ(Parse("\xEF\xBB\xBFshow a\r\n").commands.size(), 1u);
}

TEST_F(ScriptProgramTest, BadInputAlwaysEndsInExit) {
  // Missing file, folder, 0-byte file, pipe and device give only `exit`.
  const fs::path fifo = dir_.path() / "Script" / "pipe.vlm";
  Script("empty", "");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir_.path() / "Script" / "zero.vlm");
  const fs::path folder = dir_.path() / "Script";
  for (const fs::path& path :
       {folder / "missing.vlm", folder, folder / "empty.vlm", fifo, folder / "zero.vlm"}) {
    EXPECT_EQ(CommandsOf(LoadScriptFile(path.string(), env())), (Commands{{22, ""}})) << path;
  }
  EXPECT_EQ(CommandsOf(Parse("show a\r\nusing pipe\r\nusing zero\r\nusing empty\r\n")),
            (Commands{{11, "a"}, {22, ""}}));

  // NUL bytes and invalid multibyte sequences are ordinary bytes of the text
  // ("exit" followed by a NUL byte is no keyword).
  EXPECT_EQ(CommandsOf(Parse("show a\0b\xE4\r\n\xFF\xFE\r\nexit\0"s)),
            (Commands{{11, "a\0b\xE4\n\xFF\xFE\nexit\0"s}, {22, ""}}));

  // Random binary data: no crash, and the last command is the final exit.
  std::mt19937 rng(7);
  std::string binary(1 << 20, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  for (const CodePage* cp : {&CodePage::Get(CodePage::kUtf8), &CodePage::Get(CodePage::kGbk)}) {
    EngineEnvironment e = env();
    e.codePage = cp;
    const ScriptProgram p = LoadScriptFile(Script("binary", binary), e);
    EXPECT_EQ(p.commands.back().id, stmt::kExit);
    EXPECT_TRUE(p.commands.back().text.empty());
  }

  // A 10 MB line, and a 50 MB script.
  const std::string huge(10 << 20, 'x');
  const ScriptProgram one = LoadScriptFile(Script("huge", "show " + huge), env());
  ASSERT_EQ(one.commands.size(), 2u);
  EXPECT_EQ(one.commands[0].text.size(), huge.size());

  const std::string line = "show " + std::string(1000, 'y') + "\r\n";
  std::string big;
  big.reserve(50u << 20);
  while (big.size() < (50u << 20)) big += line;
  const ScriptProgram many = LoadScriptFile(Script("big", big), env());
  EXPECT_EQ(many.commands.size(), big.size() / line.size() + 1);
  EXPECT_EQ(many.commands.back().id, stmt::kExit);
}

}  // namespace
}  // namespace velmar

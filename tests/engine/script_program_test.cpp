#include "engine/script_program.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "support/test_support.h"

namespace velmar {
namespace {

using namespace std::string_literals;
using testing::TempDir;
namespace fs = std::filesystem;

// The command list as "keyword text|keyword text|...".
std::string Render(const ScriptProgram& program) {
  std::string out;
  for (const ScriptCommand& c : program.commands) {
    if (!out.empty()) out += '|';
    out += std::string(KeywordOf(c.id)) + " " + c.text;
  }
  return out;
}

class ScriptProgramTest : public ::testing::Test {
 protected:
  ScriptProgram Parse(std::string_view source) { return parseScript(source, env()); }
  ScriptProgram Load(const fs::path& path) { return LoadScriptFile(path.string(), env()); }
  // Writes Script/<name>.vlm below the home folder.
  fs::path Script(const std::string& name, const std::string& text) {
    return dir_.Write("Script/" + name + ".vlm", text);
  }
  EngineEnvironment env() const { return EngineEnvironment::ForHome(dir_.path()); }

  TempDir dir_;
};

TEST_F(ScriptProgramTest, StatementsContinuationsAndComments) {
  EXPECT_EQ(Render(Parse("")), "exit ");
  EXPECT_EQ(Render(Parse("  GET [$url]/b   ")), "get [$url]/b|exit ");
  EXPECT_EQ(Render(Parse("foo\r\nshow a\r\n  foo  \r\n\r\n// note\r\nalert x // y")),
            "show a\nfoo  |alert x // y|exit ");
  // Only CR LF ends a line here: ReadTextFile has already turned LF into it.
  EXPECT_EQ(Render(Parse("show a\nalert b")), "show a\nalert b|exit ");
  EXPECT_EQ(Render(Parse("\xEF\xBB\xBFshow a\r\n")), "show a|exit ");
  // A `using` line as the very last line includes nothing.
  Script("lib", "show lib\r\n");
  EXPECT_EQ(Render(Parse("show a\r\nusing lib")), "show a|exit ");
}

TEST_F(ScriptProgramTest, LabelsPointAtTheNextStatement) {
  const ScriptProgram p = Parse(
      "show 0\r\n<Main>\r\nshow 1\r\n<x>\r\ncontinued\r\n<sub> extra words\r\nshow 2\r\n<x>\r\n"
      "show 3\r\n<>\r\n<end>");
  // A label does not end a run of continuation lines; `<>` is no label.
  EXPECT_EQ(Render(p), "show 0|show 1\ncontinued|show 2|show 3\n<>|exit ");
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
  const ScriptProgram p =
      Load(Script("main",
                  "show a\r\nusing lib.util\r\n  continued\r\nusing  lib\\inner \r\n"
                  "using lib.missing\r\nusing lib.Dir\r\nshow b\r\n"));
  EXPECT_EQ(Render(p), "show a|show util|show inner\ncontinued|show inner|show b|exit ");
  EXPECT_EQ(p.labels, (LabelTable{{"<util>", 1}, {"<after_inner>", 4}}));
  EXPECT_EQ(IncludePath("/h", " a.b ", *env().codePage), "/h/Script/a/b.vlm");
}

// "file:line-lastLine" of every command, then of every label definition.
std::string Positions(const ScriptProgram& p) {
  std::string out;
  auto name = [&](uint32_t file) { return fs::path(p.files.at(file)).filename().string(); };
  for (const ScriptCommand& c : p.commands) {
    out += name(c.file) + ":" + std::to_string(c.line);
    if (c.lastLine != c.line) out += "-" + std::to_string(c.lastLine);
    out += ' ';
  }
  for (const LabelDefinition& l : p.labelDefinitions) {
    out += l.label + "@" + name(l.at.file) + ":" + std::to_string(l.at.line) + " ";
  }
  return out;
}

TEST_F(ScriptProgramTest, EveryCommandKnowsItsFileAndLines) {
  Script("lib", "// lib\r\n<sub>\r\nshow in lib\r\n  more\r\nreturn\r\n");
  const ScriptProgram p = Load(Script("main",
                                      "show a\r\n\r\n<main>\r\nusing lib\r\n  back in main\r\n"
                                      "if 1\r\n{\r\n}\r\n<sub>\r\n"));
  // A continuation from another file extends the text, not the lines; the
  // final `exit` stands at the main file's last line; a label defined twice
  // keeps both definitions.
  EXPECT_EQ(Positions(p),
            "main.vlm:1 lib.vlm:3-4 lib.vlm:5 main.vlm:6 main.vlm:7 main.vlm:8 main.vlm:9 "
            "<main>@main.vlm:3 <sub>@lib.vlm:2 <sub>@main.vlm:9 ");
  EXPECT_EQ(p.files.front(), (dir_.path() / "Script" / "main.vlm").string());
  EXPECT_EQ(p.commands[1].text, "in lib\nmore");
  EXPECT_EQ(p.commands[2].text, "\nback in main");
  EXPECT_EQ(Positions(Parse("")), ":1 ");  // no file, one line
}

TEST_F(ScriptProgramTest, UsingLooksBesideTheIncludingFileAndReportsWhatItMissed) {
  // Script/ of the home folder first, then the including file's own folder.
  Script("both", "show home copy\r\n");
  const fs::path elsewhere = dir_.path() / "elsewhere";
  dir_.Write("elsewhere/both.vlm", "show beside copy\r\n");
  dir_.Write("elsewhere/tools/near.vlm", "show near\r\nusing far\r\n");
  dir_.Write("elsewhere/tools/far.vlm", "show far\r\nusing near\r\n");
  const ScriptProgram p = Load(dir_.Write(
      "elsewhere/main.vlm", "using both\r\nusing tools.near\r\nusing nowhere\r\nshow end\r\n"));
  EXPECT_EQ(Render(p), "show home copy|show near|show far|show end|exit ");
  ASSERT_EQ(p.includeProblems.size(), 2u);
  // far.vlm includes near.vlm (beside it) while near.vlm is being included.
  EXPECT_EQ(p.includeProblems[0].kind, IncludeProblem::Kind::kCycle);
  EXPECT_EQ(fs::path(p.files[p.includeProblems[0].at.file]).filename(), "far.vlm");
  EXPECT_EQ(p.includeProblems[0].at.line, 2u);
  EXPECT_EQ(p.includeProblems[1].kind, IncludeProblem::Kind::kUnreadable);
  EXPECT_EQ(p.includeProblems[1].at.line, 3u);
  EXPECT_EQ(DescribeIncludeProblem(p.includeProblems[1]),
            "cannot read include file " + (dir_.path() / "Script" / "nowhere.vlm").string());
  // A text without a file has nothing beside it.
  EXPECT_EQ(Render(Parse("using tools.near\r\n")), "exit ");
  EXPECT_EQ(IncludePathBeside("/a/b/c.vlm", "x.y", *env().codePage), "/a/b/x/y.vlm");
}

TEST_F(ScriptProgramTest, IncludeCyclesAndDepthAreCut) {
  // Direct and indirect cycles: a file on the chain of includes is skipped;
  // once an include has ended it may come again.
  Script("self", "show self\r\nusing self\r\n");
  Script("ping", "show ping\r\nusing pong\r\n");
  Script("pong", "show pong\r\nusing ping\r\nusing self\r\n");
  EXPECT_EQ(Render(Load(Script("main", "using ping\r\nusing ping\r\nusing main\r\n"))),
            "show ping|show pong|show self|show ping|show pong|show self|exit ");
  EXPECT_EQ(Render(Parse("using self\r\n")), "show self|exit ");

  // A chain deeper than the bound stops there; what follows is still read.
  for (int i = 0; i < 100; ++i) {
    const std::string n = std::to_string(i);
    Script("deep/d" + n, "show " + n + "\r\nusing deep.d" + std::to_string(i + 1) + "\r\n");
  }
  const ScriptProgram deep = Parse("using deep.d0\r\nshow end\r\n");
  ASSERT_EQ(deep.commands.size(), static_cast<std::size_t>(kMaxIncludeDepth) + 2);
  EXPECT_EQ(deep.commands[kMaxIncludeDepth - 1].text, std::to_string(kMaxIncludeDepth - 1));
  EXPECT_EQ(deep.commands[kMaxIncludeDepth].text, "end");
}

TEST_F(ScriptProgramTest, GbkTrailBytesInNamesAndLabels) {
  dir_.Write("Config.ini", "[setting]\r\ncodepage=936\r\n");
  const std::string name = "\x95\\";  // U+661E: its trail byte is a backslash
  Script("lib/" + name, "show gbk\r\n");
  const ScriptProgram p = Parse("using lib." + name +
                                "\r\n<\x81"
                                "A>\r\nshow \x81[x]\r\n");
  EXPECT_EQ(Render(p), "show gbk|show \x81[x]|exit ");
  EXPECT_EQ(p.labels, (LabelTable{{"<\x81"
                                   "A>",
                                   1}}));
  // The byte-order mark belongs to UTF-8 only.
  EXPECT_EQ(Render(Parse("\xEF\xBB\xBFshow a\r\n")), "exit ");
}

TEST_F(ScriptProgramTest, BadInputAlwaysEndsInExit) {
  // Missing file, folder, 0-byte file, pipe and device give only `exit`.
  const fs::path folder = Script("empty", "").parent_path();
  ASSERT_EQ(::mkfifo((folder / "pipe.vlm").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", folder / "zero.vlm");
  for (const char* name : {"missing.vlm", "", "empty.vlm", "pipe.vlm", "zero.vlm"}) {
    EXPECT_EQ(Render(Load(folder / name)), "exit ") << name;
  }
  EXPECT_EQ(Render(Parse("show a\r\nusing pipe\r\nusing zero\r\nusing empty\r\n")), "show a|exit ");
  // A NUL byte in the name must not cut the path short to another file.
  dir_.Write("Script/lib", "show lib\r\n");
  EXPECT_EQ(Render(Parse("using lib\0x\r\n"s)), "exit ");

  // NUL bytes and invalid multibyte sequences are ordinary bytes of the text
  // ("exit" followed by a NUL byte is no keyword).
  EXPECT_EQ(Render(Parse("show a\0b\xE4\r\n\xFF\xFE\r\nexit\0"s)),
            "show a\0b\xE4\n\xFF\xFE\nexit\0|exit "s);

  // Random binary data: no crash, and the last command is the final exit.
  std::mt19937 rng(7);
  std::string binary(1 << 20, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  for (int page : {CodePage::kUtf8, CodePage::kGbk}) {
    EngineEnvironment e = env();
    e.codePage = &CodePage::Get(page);
    const ScriptProgram p = LoadScriptFile(Script("binary", binary).string(), e);
    EXPECT_EQ(p.commands.back().id, stmt::kExit);
    EXPECT_TRUE(p.commands.back().text.empty());
  }

  // A 10 MB line, and a 50 MB script.
  const std::string huge(10 << 20, 'x');
  const ScriptProgram one = Load(Script("huge", "show " + huge));
  ASSERT_EQ(one.commands.size(), 2u);
  EXPECT_EQ(one.commands[0].text.size(), huge.size());

  const std::string line = "show " + std::string(1000, 'y') + "\r\n";
  std::string big;
  big.reserve(50u << 20);
  while (big.size() < (50u << 20)) big += line;
  const ScriptProgram many = Load(Script("big", big));
  EXPECT_EQ(many.commands.size(), big.size() / line.size() + 1);
  EXPECT_EQ(many.commands.back().id, stmt::kExit);
}

}  // namespace
}  // namespace velmar

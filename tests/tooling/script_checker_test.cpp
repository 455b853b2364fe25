// The checker: every seeded fault of the corpus is found exactly as its file
// says, the examples pass without an error, bad input gives findings or a
// refusal in bounded time, and `velmar check` speaks the compilers' form,
// JSON and the exit statuses.

#include "tooling/script_checker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::RunVelmar;
using testing::TempDir;

const fs::path kFaults = fs::path(VELMAR_SOURCE_DIR) / "tests" / "check" / "faults";

std::vector<std::string> Texts(const std::vector<CheckFinding>& findings) {
  std::vector<std::string> out;
  for (const CheckFinding& f : findings) out.push_back(FormatFindingText(f));
  return out;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
}

class ScriptCheckerTest : public ::testing::Test {
 protected:
  std::vector<std::string> Check(const std::string& name, const std::string& text) {
    return Texts(CheckScriptFile(home_.Write("Script/" + name, text).string(), env_));
  }
  std::string PathOf(const std::string& name) const { return (home_.path() / "Script" / name).string(); }

  TempDir home_;
  EngineEnvironment env_ = EngineEnvironment::ForHome(home_.path(), KeywordFlavor::kRunner);
};

// Each file of the corpus holds one fault and, in its first lines, the
// findings expected ("// expect: LINE:COLUMN: ..." for the file itself, or
// a whole finding naming another file). FILE, FOLDER and HOME stand for the
// file, the corpus folder and the home folder.
TEST_F(ScriptCheckerTest, EverySeededFaultIsFoundAsItsFileSays) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kFaults)) {
    if (entry.path().extension() != ".vlm") continue;
    ++files;
    const std::string path = entry.path().string();
    std::ifstream in(path);
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line) && line.rfind("// expect: ", 0) == 0;) {
      std::string finding = line.substr(11);
      if (!finding.empty() && finding[0] >= '0' && finding[0] <= '9') finding = "FILE:" + finding;
      Replace(finding, "FILE", path);
      Replace(finding, "FOLDER", kFaults.string());
      Replace(finding, "HOME", home_.path().string());
      expected.push_back(finding);
    }
    ASSERT_FALSE(expected.empty()) << path << " says nothing it expects";
    EXPECT_EQ(Texts(CheckScriptFile(path, env_)), expected) << path;
  }
  EXPECT_GE(files, 20);
}

TEST_F(ScriptCheckerTest, ExamplesAndWellFormedScriptsHaveNoErrors) {
  const fs::path examples = fs::path(VELMAR_SOURCE_DIR) / "examples" / "Script";
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(examples)) {
    if (entry.path().extension() != ".vlm") continue;
    ++checked;
    for (const CheckFinding& f : CheckScriptFile(entry.path().string(), env_)) {
      EXPECT_FALSE(f.error) << FormatFindingText(f);
    }
  }
  EXPECT_GE(checked, 12);

  // What the language allows and the checker cannot know stays quiet:
  // labels and patterns built at run time, a break that leaves a block, a
  // switch inside a loop, an else after an if, a section reached by goto.
  home_.Write("Script/lib/util.vlm", "<util>\r\nshow util\r\nreturn\r\n");
  EXPECT_EQ(Check("fine.vlm",
                  "using lib.util\n<main>\nvar [#to] <next>\nvar [#x] 1\nvar [#v] a\ngoto [#to]\n<next>\n"
                  "regex [#name] {a}\nshow [$other.count] [@len<<<[#x]<<<more] [@len<<<A]\n"
                  "while 1\n{\nswitch [#v]\n{\ncase a\nbreak\ndefault\nshow d\n}\nif 0\n{\n}\nelse\n"
                  "{\nbreak\n}\n}\ncall <util>\nexit\n<on_w_click>\nreturn\n"),
            std::vector<std::string>{});
}

// The escape hatch for received text is legal and always worth a look.
TEST_F(ScriptCheckerTest, WarnsWhereReceivedTextIsExpandedAsCode) {
  env_.expandReceived = true;
  EXPECT_EQ(Check("old.vlm", "show a\n"),
            std::vector<std::string>{PathOf("old.vlm") +
                                     ":1:1: warning: expandreceived=1 in Config.ini: text received "
                                     "from outside is expanded as the script's own and can act as "
                                     "code"});
}

TEST_F(ScriptCheckerTest, WarningsOnlyWhereALineIsLikelyAMistake) {
  // Continuation lines of text (a JavaScript or a query) are not taken for
  // typos, nor are short words.
  EXPECT_EQ(Check("text.vlm", "js var a = 1;\nfunction f() {}\nquery db r select *\nfrom t\n"),
            std::vector<std::string>{});
  EXPECT_EQ(Check("typo.vlm", "show a\nexitt\n"),
            std::vector<std::string>{PathOf("typo.vlm") +
                                     ":2:1: warning: 'exitt' is no keyword (did you mean 'exit'?): "
                                     "the line is joined to the statement above it"});
  EXPECT_EQ(Check("goto.vlm", "goto <end>\nshow skipped\n<end>\nshow end\ngoto <end>\n}\n"),
            (std::vector<std::string>{
                PathOf("goto.vlm") + ":2:1: warning: 'show' can never run: it follows an "
                                     "unconditional goto and no label leads to it",
                PathOf("goto.vlm") + ":6:1: error: '}' closes no block"}));
}

TEST_F(ScriptCheckerTest, VariablesNamedAtRunTimeSilenceTheUnwrittenVariableWarning) {
  // Any variable may be the one `var [#[#which]]` writes.
  EXPECT_EQ(Check("dyn.vlm", "var [#which] a\nvar [#[#which]] 1\nshow [#a] [#b]\n"),
            std::vector<std::string>{});
  // replace and getcookies write their variables too.
  EXPECT_EQ(Check("w.vlm", "regex r a\nreplace r [#t] b\ngetcookies [#c] k\nshow [#t] [#c]\n"),
            std::vector<std::string>{});
}

TEST_F(ScriptCheckerTest, BadInputGivesFindingsInBoundedTime) {
  // Binary data, NUL bytes and a 10 MB line: whatever is found, nothing
  // crashes and the checker returns.
  std::mt19937 random(26);
  std::string binary(1 << 20, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  Check("binary.vlm", binary);
  Check("nul.vlm", std::string("show a\0b\n{\0\n", 12));
  EXPECT_EQ(Check("long.vlm", "show " + std::string(10 << 20, 'x') + "\n"), std::vector<std::string>{});

  // 100,000 blocks nested and never closed: one finding each, found by one
  // pass.
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "if 1\n{\n";
  EXPECT_EQ(Check("nested.vlm", nested).size(), 100000u);

  // An include chain 1,000 deep stops at the loader's depth with a finding.
  for (int i = 0; i < 1000; ++i) {
    home_.Write("Script/chain/c" + std::to_string(i) + ".vlm",
                "show " + std::to_string(i) + "\nusing chain.c" + std::to_string(i + 1) + "\n");
  }
  const std::vector<std::string> chain = Check("chain.vlm", "using chain.c0\n");
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_NE(chain[0].find("error: includes nested deeper than 64"), std::string::npos) << chain[0];
}

TEST_F(ScriptCheckerTest, CommandFormatsExitStatusesAndRefusals) {
  const auto probe = RunVelmar({"check", "--help"});
  if (probe.exitCode != 0) VELMAR_SKIP_WITHOUT("velmar check (" + probe.err + ")");
  const std::string home = home_.path().string();
  const std::string good = home_.Write("Script/good.vlm", "show a\n").string();
  const std::string warn = home_.Write("Script/warn.vlm", "exit\nshow b\n").string();
  const std::string bad = home_.Write("Script/bad.vlm", "show a\n}\n").string();

  auto result = RunVelmar({"check", "--home", home, good, warn});
  EXPECT_EQ(result.exitCode, 0) << result.err;  // warnings allowed
  EXPECT_EQ(result.out, warn + ":2:1: warning: 'show' can never run: it follows an unconditional "
                               "exit and no label leads to it\n");
  EXPECT_EQ(RunVelmar({"check", "--werror", "--home", home, warn}).exitCode, 1);

  result = RunVelmar({"check", "--format", "json", "--home", home, bad});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "{\"column\":1,\"file\":\"" + bad +
                            "\",\"line\":2,\"message\":\"'}' closes no block\",\"severity\":\"error\"}\n");

  // JSON carries UTF-8 also for a script in code page 936.
  const std::string gbk = home_.Write("Script/gbk.vlm", "show [#\xd6\xd0]\n").string();
  result = RunVelmar({"check", "--codepage", "936", "--format", "json", "--home", home, gbk});
  EXPECT_NE(result.out.find("\"message\":\"variable 中 is read"), std::string::npos) << result.out;

  // A folder, a FIFO or a missing file is refused with exit 2; the other
  // files are still checked.
  ASSERT_EQ(::mkfifo((home_.path() / "fifo.vlm").c_str(), 0600), 0);
  for (const std::string& unreadable :
       {home, (home_.path() / "fifo.vlm").string(), (home_.path() / "none.vlm").string()}) {
    result = RunVelmar({"check", "--home", home, unreadable, bad}, "", 20);
    EXPECT_FALSE(result.timedOut) << unreadable;
    EXPECT_EQ(result.exitCode, 2) << unreadable;
    EXPECT_EQ(result.err, "velmar check: cannot read " + unreadable + "\n");
    EXPECT_NE(result.out.find("closes no block"), std::string::npos);
  }
  EXPECT_EQ(RunVelmar({"check"}).exitCode, 2);
  EXPECT_EQ(RunVelmar({"check", "--format", "xml", good}).exitCode, 2);
}

}  // namespace
}  // namespace velmar

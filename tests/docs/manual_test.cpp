// The manual against the tables it documents: every statement, built-in
// function and Config.ini key has its section, nothing documented is stale,
// and `velmar help` finds each section in the binary's embedded copy.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/keyword_table.h"
#include "engine/run_outcome.h"
#include "support/script_fixture.h"
#include "support/test_support.h"
#include "engine/statements/builtins.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunVelmar;

const fs::path kSourceDir = VELMAR_SOURCE_DIR;

std::vector<fs::path> Chapters() {
  std::vector<fs::path> chapters;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "docs")) {
    if (entry.path().extension() == ".md") chapters.push_back(entry.path());
  }
  return chapters;
}

// Every `{#anchor}` of a heading in the chapters.
std::multiset<std::string> Anchors() {
  std::multiset<std::string> anchors;
  const std::regex heading(R"(^#+ .*\{#([a-z0-9-]+)\}\s*$)");
  for (const fs::path& chapter : Chapters()) {
    std::ifstream in(chapter);
    std::string line;
    while (std::getline(in, line)) {
      std::smatch m;
      if (std::regex_match(line, m, heading)) anchors.insert(m[1]);
    }
  }
  return anchors;
}

// The anchor of a statement's section; the block braces share one.
std::string StatementAnchor(std::string_view keyword) {
  if (keyword == "{" || keyword == "}") return "topic-blocks";
  return "stmt-" + std::string(keyword);
}

std::vector<std::string> Keywords() {
  std::vector<std::string> keywords;
  for (int32_t id = 1; id <= stmt::kMaxId; ++id) {
    if (!KeywordOf(id).empty()) keywords.emplace_back(KeywordOf(id));
  }
  return keywords;
}

// Config.ini keys as the code reads them: string literals handed to the
// profile's getters or to the database driver lookup.
std::set<std::string> ConfigKeysReadByCode() {
  std::set<std::string> keys;
  const std::regex read(
      R"re((?:config\.Get(?:String|Int)|DriverName\(ctx,)\s*\(?\s*"([a-z_]+)")re");
  for (const char* dir :
       {"engine", "engine/statements", "values", "regex", "http", "data", "ext", "cli"}) {
    for (const auto& entry : fs::directory_iterator(kSourceDir / dir)) {
      if (entry.path().extension() != ".cpp") continue;
      const std::string text = ReadFile(entry.path());
      for (std::sregex_iterator it(text.begin(), text.end(), read), end; it != end; ++it) {
        keys.insert((*it)[1]);
      }
    }
  }
  return keys;
}

TEST(Manual, HasASectionForEveryStatementAndNoStaleOne) {
  const auto anchors = Anchors();
  std::set<std::string> expected;
  for (const std::string& keyword : Keywords()) {
    expected.insert(StatementAnchor(keyword));
    EXPECT_EQ(anchors.count(StatementAnchor(keyword)), 1u) << "statement " << keyword;
  }
  for (const std::string& anchor : anchors) {
    if (anchor.rfind("stmt-", 0) == 0) {
      EXPECT_TRUE(expected.count(anchor)) << anchor;
    }
  }
}

TEST(Manual, HasASectionForEveryBuiltinAndNoStaleOne) {
  const auto anchors = Anchors();
  std::set<std::string> expected;
  for (std::string_view name : BuiltinNames()) {
    expected.insert("fn-" + std::string(name));
    EXPECT_EQ(anchors.count("fn-" + std::string(name)), 1u) << "built-in " << name;
  }
  EXPECT_EQ(expected.size(), 27u);
  for (const std::string& anchor : anchors) {
    if (anchor.rfind("fn-", 0) == 0) {
      EXPECT_TRUE(expected.count(anchor)) << anchor;
    }
  }
}

TEST(Manual, HasASectionForEveryConfigKeyTheCodeReads) {
  const std::set<std::string> keys = ConfigKeysReadByCode();
  // The scan itself must keep working when the code is restructured.
  for (const char* known : {"codepage", "sslverify", "cafile", "jstimeout", "odbcsqlite"}) {
    EXPECT_TRUE(keys.count(known)) << "the scan no longer finds " << known;
  }
  const auto anchors = Anchors();
  for (const std::string& key : keys) EXPECT_EQ(anchors.count("key-" + key), 1u) << key;
}

TEST(Manual, AnchorsAreUniqueAndLinksPointAtThem) {
  const auto anchors = Anchors();
  for (const std::string& anchor : anchors) EXPECT_EQ(anchors.count(anchor), 1u) << anchor;
  const std::regex link(R"(\]\(#([a-z0-9-]+)\))");
  for (const fs::path& chapter : Chapters()) {
    const std::string text = ReadFile(chapter);
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
      EXPECT_TRUE(anchors.count((*it)[1])) << chapter.filename() << " links to " << (*it)[1];
    }
  }
}

// The HTML keeps the anchors, so links from the manager and between chapters
// reach every statement, built-in and key.
TEST(Manual, HtmlHasAnAnchorForEverySection) {
  const std::string html = VELMAR_MANUAL_HTML;
  if (html.empty()) VELMAR_SKIP_WITHOUT("pandoc (the HTML manual)");
  const std::string text = ReadFile(html);
  std::set<std::string> anchors;
  for (const std::string& anchor : Anchors()) anchors.insert(anchor);
  ASSERT_GT(anchors.size(), 100u);
  for (const std::string& anchor : anchors) {
    EXPECT_NE(text.find("id=\"" + anchor + "\""), std::string::npos) << anchor;
  }
  EXPECT_NE(text.find("<table"), std::string::npos);
}

// Script samples of the manual (```vlm blocks) are checked like the example
// scripts: a misspelt keyword would silently join the line above.
TEST(Manual, ScriptSamplesHaveAStatementOrLabelOnEveryLine) {
  std::size_t samples = 0;
  for (const fs::path& chapter : Chapters()) {
    std::ifstream in(chapter);
    std::string line;
    bool sample = false;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      if (line.rfind("```", 0) == 0) {
        sample = !sample && line == "```vlm";
        samples += sample ? 1 : 0;
        continue;
      }
      std::string_view text(line);
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
      if (!sample || text.empty() || text.rfind("//", 0) == 0) continue;
      std::string word(text.substr(0, text.find_first_of(" \t")));
      for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool label = word.size() >= 3 && word.front() == '<' && word.back() == '>';
      EXPECT_TRUE(label || LookupKeyword(word, KeywordFlavor::kRunner) != 0)
          << chapter.filename().string() << ":" << number << ": " << line;
    }
  }
  EXPECT_GE(samples, 20u);
}

// A name in BuiltinNames that CallBuiltin does not know would give the empty
// text silently, like an unknown name; a known one answers or complains.
TEST(Manual, BuiltinNamesAreTheFunctionsCallBuiltinKnows) {
  testing::ScriptFixture f;
  for (std::string_view name : BuiltinNames()) {
    f.ResetContext();
    const std::string result = f.Expand("[@" + std::string(name) + "]");
    EXPECT_TRUE(!result.empty() || f.AlertCount() == 1) << name;
  }
  f.ResetContext();
  EXPECT_EQ(f.Expand("[@nosuchfunction]"), "");
  EXPECT_EQ(f.AlertCount(), 0u);
}

// The exit statuses are one table in the code; the manual's table (which
// `velmar help run` prints) and vlmpack's help must say the same.
TEST(Manual, ExitStatusTableIsTheProgramsOwn) {
  std::set<std::pair<int, std::string>> documented;
  const std::regex row(R"(^\| `([0-9]+)` \| (.+) \|$)");
  std::ifstream in(kSourceDir / "docs" / "11-programs.md");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) documented.emplace(std::stoi(m[1]), m[2]);
  }
  std::set<std::pair<int, std::string>> coded;
  for (const ExitStatusRow& r : kExitStatusTable) coded.emplace(r.status, r.meaning);
  EXPECT_EQ(documented, coded);
  const auto help = RunVelmar({"help", "run"});
  for (const ExitStatusRow& r : kExitStatusTable) {
    EXPECT_NE(help.out.find(r.meaning), std::string::npos) << r.meaning << "\n" << help.out;
  }
}

TEST(Help, PrintsTheSectionOfEveryStatement) {
  for (const std::string& keyword : Keywords()) {
    const auto r = RunVelmar({"help", keyword});
    ASSERT_EQ(r.exitCode, 0) << keyword << ": " << r.err;
    const std::string title = keyword == "{" || keyword == "}" ? "Blocks" : keyword;
    EXPECT_NE(r.out.find(title + "\n"), std::string::npos) << keyword << ":\n" << r.out;
    EXPECT_GT(r.out.size(), title.size() + 40) << keyword;
  }
}

TEST(Help, PrintsTheSectionOfEveryBuiltinAndConfigKey) {
  for (std::string_view name : BuiltinNames()) {
    const auto r = RunVelmar({"help", std::string(name)});
    ASSERT_EQ(r.exitCode, 0) << name << ": " << r.err;
    EXPECT_NE(r.out.find("[@" + std::string(name) + "]\n"), std::string::npos) << r.out;
  }
  for (const std::string& key : ConfigKeysReadByCode()) {
    const auto r = RunVelmar({"help", key});
    ASSERT_EQ(r.exitCode, 0) << key << ": " << r.err;
    EXPECT_EQ(r.out.rfind(key + "\n", 0), 0u) << r.out;
  }
}

TEST(Help, FindsBuiltinsKeysAndTopics) {
  auto split = RunVelmar({"help", "split"});
  ASSERT_EQ(split.exitCode, 0);
  EXPECT_NE(split.out.find("[@split]\n--------"), std::string::npos) << split.out;
  EXPECT_NE(split.out.find("`_0`"), std::string::npos);
  // The same section by its reference form.
  EXPECT_EQ(RunVelmar({"help", "@split"}).out, split.out);
  EXPECT_EQ(RunVelmar({"help", "SPLIT"}).out, split.out);

  const auto codepage = RunVelmar({"help", "codepage"});
  EXPECT_EQ(codepage.exitCode, 0);
  EXPECT_NE(codepage.out.find("936"), std::string::npos);

  // The topic shows the whole chapter once, the statement's section inside it.
  const auto regex = RunVelmar({"help", "regex"});
  ASSERT_EQ(regex.exitCode, 0);
  EXPECT_NE(regex.out.find("Regular expressions\n==="), std::string::npos);
  EXPECT_NE(regex.out.find("`\\z`"), std::string::npos);
  const std::size_t first = regex.out.find("\nregex\n-----");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(regex.out.find("\nregex\n-----", first + 1), std::string::npos);
  EXPECT_EQ(regex.out.find("{#"), std::string::npos) << "anchors are not for the terminal";
  EXPECT_EQ(regex.out.find("](#"), std::string::npos) << "nor are link targets";
  EXPECT_NE(regex.out.find("(The\nprograms)"), std::string::npos) << "the link text stays";

  // A name that is both a statement and a built-in shows both.
  const auto replace = RunVelmar({"help", "replace"});
  EXPECT_NE(replace.out.find("replace\n-------"), std::string::npos);
  EXPECT_NE(replace.out.find("[@replace]\n----------"), std::string::npos);
}

TEST(Help, ListsTopicsWithoutAnArgumentAndRejectsUnknownOnes) {
  const auto list = RunVelmar({"help"});
  ASSERT_EQ(list.exitCode, 0);
  for (const char* group :
       {"Commands:", "Topics:", "Statements:", "Built-in functions:", "Config.ini keys:"}) {
    EXPECT_NE(list.out.find(group), std::string::npos) << group;
  }
  for (const std::string& keyword : Keywords()) {
    if (keyword == "{" || keyword == "}") continue;
    const bool listed = list.out.find(" " + keyword + " ") != std::string::npos ||
                        list.out.find(" " + keyword + "\n") != std::string::npos;
    EXPECT_TRUE(listed) << keyword;
  }
  const auto unknown = RunVelmar({"help", "nosuchthing"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_TRUE(unknown.out.empty());
  EXPECT_NE(unknown.err.find("nosuchthing"), std::string::npos);
  const auto near = RunVelmar({"help", "cookie"});
  EXPECT_EQ(near.exitCode, 1);
  EXPECT_NE(near.err.find("setcookies"), std::string::npos) << near.err;
}

// The samples whose result the manual states give that result: the first
// script block of a section is run and its `show` must print the text the
// manual names after "shows".
TEST(Manual, SamplesShowWhatTheManualSays) {
  const struct {
    const char* chapter;
    const char* anchor;
  } samples[] = {{"05-regex.md", "{#stmt-replace}"}};
  for (const auto& sample : samples) {
    const std::string text = ReadFile(kSourceDir / "docs" / sample.chapter);
    const std::size_t section = text.find(sample.anchor);
    ASSERT_NE(section, std::string::npos) << sample.anchor;
    const std::size_t open = text.find("```vlm\n", section);
    const std::size_t close = text.find("```", open + 7);
    ASSERT_NE(close, std::string::npos) << sample.anchor;
    const std::string script = text.substr(open + 7, close - open - 7);
    const std::size_t said = text.find("shows `", close);
    ASSERT_NE(said, std::string::npos) << sample.anchor;
    const std::string expected = text.substr(said + 7, text.find('`', said + 7) - said - 7);
    testing::TempDir home;
    const auto run = RunVelmar({"run", "--home", home.path().string(), "-"}, script);
    EXPECT_EQ(run.out, "show: " + expected + "\nstate: exit\n") << sample.anchor << run.err;
  }
}

}  // namespace
}  // namespace velmar

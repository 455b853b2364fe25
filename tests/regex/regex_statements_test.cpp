// The statements regex, match, unregex and replace, and `$` references, run
// against a real script context whose host records the alerts.

#include "engine/statements/regex_statements.h"

#include <gtest/gtest.h>

#include "regex/named_regex.h"
#include "support/console_run.h"
#include "support/script_fixture.h"
#include "engine/statements/expansion.h"
#include "values/messages.h"

namespace velmar::testing {
namespace {

using Texts = std::vector<std::string>;

class RegexStatements : public ::testing::Test {
 protected:
  static std::string Alert(const std::string& what, const std::string& reason) {
    return "出错：\"" + what + "\"\r\n原因：" + reason;
  }
  Texts TakeAlerts() {
    Texts alerts = script_.host.Alerts();
    script_.host.requests.clear();
    return alerts;
  }
  std::string Value(const std::string& namePart) { return ReadRegexValue(ctx_, namePart); }

  ScriptFixture script_;
  ScriptContext& ctx_ = *script_.ctx;
};

// Matches, references and unregex as scripts see them are cases of
// tests/cases run with `velmar run`.

TEST_F(RegexStatements, AReferenceToAnUnknownNameMakesNoEntry) {
  ExecuteRegex(ctx_, "r {a}");
  EXPECT_EQ(Value("R.count"), "R.count");
  EXPECT_EQ(TakeAlerts(), Texts({Alert("R.count", "R 正则表达式不存在．")}));
  EXPECT_EQ(ctx_.regexes.count("R"), 0u);
}

TEST_F(RegexStatements, MalformedStatementsReportTheirErrors) {
  ExecuteRegex(ctx_, "lonely");
  EXPECT_TRUE(ctx_.regexes.empty());
  ExecuteMatch(ctx_, "lonely");
  ExecuteMatch(ctx_, "nosuch text");
  ExecuteReplace(ctx_, "lonely");
  ExecuteRegex(ctx_, "r {a}");
  ExecuteReplace(ctx_, "r [#]");
  ExecuteReplace(ctx_, "r [#] X");
  ExecuteReplace(ctx_, "nosuch [#v] X");
  EXPECT_EQ(
      TakeAlerts(),
      Texts({Alert("lonely", "格式有误．不含有效的正则表达式．"), Alert("lonely", "格式有误．"),
             Alert("nosuch text", "nosuch 正则表达式不存在．"), Alert("lonely", "格式有误．"),
             Alert("r [#]", "格式有误．"), Alert("r [#] X", "格式有误．"),
             Alert("nosuch [#v] X", "nosuch 正则表达式不存在．")}));
  EXPECT_EQ(ctx_.regexes.count("nosuch"), 0u);
  ctx_.executionStack.push_back(3);
  ExecuteMatch(ctx_, "lonely");
  EXPECT_TRUE(ctx_.executionStack.empty());  // each report ends the run
}

TEST_F(RegexStatements, ReplaceStoresIntoTheNamedVariable) {
  // The source is the target token after expansion: the variable's value
  // once references expand, the token itself before.
  auto expanded = [&](std::string token) {
    ExpandAndEvaluate(ctx_, token);
    return token;
  };
  auto expect = [&](const std::string& pattern, const std::string& token, const std::string& by) {
    return RegexReplace(*CreateNamedRegex(ctx_.codePage(), pattern), ctx_.codePage(),
                        expanded(token), by);
  };
  ctx_.variables["v"] = "ab aa";
  const std::string want = expect("{a}b", "[#v]", "X");
  ExecuteRegex(ctx_, "r {a}b");
  ExecuteReplace(ctx_, "r [#v] X");
  EXPECT_EQ(ctx_.variables["v"], want);
  if (expanded("[#v]") == "Xb XX") {
    EXPECT_EQ(want, "Xb XX");
  }
  // Without a replacement the target's trailing blanks go and it is empty.
  ExecuteRegex(ctx_, "hash {#}");
  const std::string wantZ = expect("{#}", "[#z]", "");
  ExecuteReplace(ctx_, "hash [#z]   ");
  EXPECT_EQ(ctx_.variables["z"], wantZ);
  EXPECT_TRUE(TakeAlerts().empty());
}

// 48 words of 1024 `w` replaced by two of them, match by match over the
// result: the text would double 48 times.
std::string DoublingWords() {
  std::string text;
  for (int i = 0; i < 48; ++i) text += std::string(1024, 'w') + " ";
  return text;
}

TEST_F(RegexStatements, ReplaceReportsATooLongResult) {
  ctx_.variables["v"] = DoublingWords();
  ctx_.variables["by"] = std::string(2048, 'w');
  ExecuteRegex(ctx_, "r {w+}");
  ExecuteReplace(ctx_, "r [#v] [#by]");
  EXPECT_EQ(ctx_.variables["v"], DoublingWords());
  EXPECT_EQ(TakeAlerts(), Texts({Alert("r [#v] [#by]", msg::kExpansionTooLong)}));
  EXPECT_TRUE(ctx_.errorReported);
}

// The same on a worker, stopped while it replaces: it ends (with the error
// or on the stop, whichever comes first) long before the 2^48-fold text it
// used to build.
TEST(RegexReplaceScript, EndsPromptly) {
  testing::TempDir home;
  home.Write("words.txt", DoublingWords());
  const ConsoleRun run =
      RunInConsole(home.path(),
                   "regex r {w+}\nvar [#v] [@readfile<<<words.txt<<<1]\n"
                   "var [#by] " +
                       std::string(2048, 'w') + "\nshow go\nreplace r [#v] [#by]\nshow after\n",
                   300, 5000);
  ASSERT_TRUE(run.ended);
  RecordProperty("stop_ms", std::to_string(run.endMs));
  EXPECT_EQ(run.output.find("after"), std::string::npos) << run.output.substr(0, 300);
}

TEST_F(RegexStatements, GbkScriptsAndStop) {
  ScriptFixture gbkScript(CodePage::kGbk);
  ScriptContext& ctx = *gbkScript.ctx;
  const CodePage& gbk = ctx.codePage();
  const std::string zhong = "\xd6\xd0";
  ExecuteRegex(ctx, "r {[^a]+}");
  ExecuteMatch(ctx, "r a" + zhong +
                        "\x81\x5c"
                        "a");
  EXPECT_EQ(ReadRegexValue(ctx, "r.0"), zhong + "\x81\x5c");
  // The report carries the GBK name through unchanged.
  EXPECT_EQ(ReadRegexValue(ctx, zhong + ".count"), zhong + ".count");
  EXPECT_EQ(gbkScript.host.Alerts(),
            Texts({gbk.FromUtf8("出错：\"") + zhong + ".count\"\r\n" + gbk.FromUtf8("原因：") +
                   zhong + gbk.FromUtf8(" 正则表达式不存在．")}));

  // A stop request ends a runaway match with no results.
  ExecuteRegex(ctx_, "r {((a|(aa))+)+b}");
  ctx_.stop.request();
  ExecuteMatch(ctx_, "r " + std::string(80, 'a') + "cb");
  EXPECT_EQ(Value("r.count"), "0");
  EXPECT_TRUE(ctx_.regexes["r"]->matchState.stopped);
}

}  // namespace
}  // namespace velmar::testing

// The statements regex, match, unregex and replace, and `$` references, run
// against a real script context whose host records the alerts.

#include "regex/regex_statements.h"

#include <gtest/gtest.h>

#include "engine/engine_environment.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "regex/named_regex.h"
#include "values/expansion.h"

namespace velmar::testing {
namespace {

class RecordingHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    if (request.code == REQ_ALERT) alerts.push_back(text);
  }
  std::vector<std::string> alerts;
};

class RegexStatements : public ::testing::Test {
 protected:
  RegexStatements() : ctx_(env_) { ctx_.host = &host_; }

  // The alert reportScriptError shows for a subject and a reason.
  static std::string Alert(const std::string& what, const std::string& reason) {
    return "出错：\"" + what + "\"\r\n原因：" + reason;
  }
  // Takes the alerts seen so far.
  std::vector<std::string> Alerts() {
    auto seen = host_.alerts;
    host_.alerts.clear();
    return seen;
  }

  EngineEnvironment env_;
  RecordingHost host_;
  ScriptContext ctx_;
};

TEST_F(RegexStatements, RegexMatchAndReferences) {
  ExecuteRegex(ctx_, "r <td>{[^<]*}</td>");
  ExecuteMatch(ctx_, "r <td>a</td><td>b</td>");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.count"), "2");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.group"), "1");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.0"), "a");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.1"), "b");
  EXPECT_EQ(ReadRegexValue(ctx_, "r. COUNT "), "2");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.1x"), "b");
  EXPECT_TRUE(Alerts().empty());

  EXPECT_EQ(ReadRegexValue(ctx_, "r.2"), "");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.-1"), "");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.x"), "a");  // non-numeric reads as 0
  EXPECT_EQ(Alerts(), (std::vector<std::string>{Alert("r.2", "下标越界．"),
                                                Alert("r.-1", "下标越界．")}));

  // Names are case-sensitive; an unknown name yields the name part itself.
  EXPECT_EQ(ReadRegexValue(ctx_, "R.count"), "R.count");
  EXPECT_EQ(ReadRegexValue(ctx_, "rcount"), "");
  EXPECT_EQ(ReadRegexValue(ctx_, ".count"), "");
  EXPECT_EQ(Alerts(), (std::vector<std::string>{Alert("R.count", "R 正则表达式不存在．"),
                                                Alert("rcount", "格式有误．"),
                                                Alert(".count", "格式有误．")}));
  EXPECT_EQ(ctx_.regexes.count("R"), 0u);

  // Two groups; results of a new match replace the old ones.
  ExecuteRegex(ctx_, "pair {\\d+}-{\\d+}");
  ExecuteMatch(ctx_, "pair 1-2 3-4");
  EXPECT_EQ(ReadRegexValue(ctx_, "pair.count"), "4");
  EXPECT_EQ(ReadRegexValue(ctx_, "pair.3"), "4");
  ExecuteMatch(ctx_, "pair 5-6");
  EXPECT_EQ(ReadRegexValue(ctx_, "pair.count"), "2");
  // Matching ignores the case of A to Z but keeps it in the results.
  ExecuteRegex(ctx_, "c {abc}");
  ExecuteMatch(ctx_, "c xABCx");
  EXPECT_EQ(ReadRegexValue(ctx_, "c.0"), "ABC");
  // Without braces nothing is collected.
  ExecuteRegex(ctx_, "plain abc");
  ExecuteMatch(ctx_, "plain abc");
  EXPECT_EQ(ReadRegexValue(ctx_, "plain.count"), "0");
  EXPECT_EQ(ReadRegexValue(ctx_, "plain.group"), "0");
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(RegexStatements, PatternsAreTakenAsWrittenAndReplaceEarlierEntries) {
  // A pattern that does not compile still makes an entry, which matches nothing.
  ExecuteRegex(ctx_, "r {a");
  ASSERT_EQ(ctx_.regexes.count("r"), 1u);
  EXPECT_FALSE(ctx_.regexes["r"]->compiled);
  ExecuteMatch(ctx_, "r aaa");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.count"), "0");
  // A later regex of the same name replaces it; the pattern keeps its blanks.
  ExecuteRegex(ctx_, "r {a b}");
  ExecuteMatch(ctx_, "r xa by");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.0"), "a b");
  // A tab separates too when there is no space.
  ExecuteRegex(ctx_, "t\t{x}");
  EXPECT_EQ(ctx_.regexes.count("t"), 1u);
  EXPECT_TRUE(Alerts().empty());
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
  EXPECT_EQ(Alerts(),
            (std::vector<std::string>{
                Alert("lonely", "格式有误．不含有效的正则表达式．"), Alert("lonely", "格式有误．"),
                Alert("nosuch text", "nosuch 正则表达式不存在．"), Alert("lonely", "格式有误．"),
                Alert("r [#]", "格式有误．"), Alert("r [#] X", "格式有误．"),
                Alert("nosuch [#v] X", "nosuch 正则表达式不存在．")}));
  EXPECT_EQ(ctx_.regexes.count("nosuch"), 0u);
  // Each report ends the run.
  ctx_.executionStack.push_back(3);
  ExecuteMatch(ctx_, "lonely");
  EXPECT_TRUE(ctx_.executionStack.empty());
}

TEST_F(RegexStatements, UnregexRemovesQuietly) {
  ExecuteRegex(ctx_, "r {a}");
  ExecuteUnregex(ctx_, "r");
  EXPECT_EQ(ctx_.regexes.count("r"), 0u);
  EXPECT_TRUE(Alerts().empty());
  EXPECT_EQ(ReadRegexValue(ctx_, "r.count"), "r.count");
  EXPECT_EQ(Alerts().size(), 1u);
  ExecuteUnregex(ctx_, "r");
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(RegexStatements, ReplaceStoresIntoTheNamedVariable) {
  // The source text is the target token after expansion: the variable's
  // value once references expand, the token itself before.
  ctx_.variables["v"] = "ab aa";
  std::string source = "[#v]";
  ExpandAndEvaluate(ctx_, source);

  ExecuteRegex(ctx_, "r {a}b");
  ExecuteReplace(ctx_, "r [#v] X");
  auto expected = CreateNamedRegex(ctx_.codePage(), "{a}b");
  EXPECT_EQ(ctx_.variables["v"], RegexReplace(*expected, ctx_.codePage(), source, "X"));
  if (source == "ab aa") {
    EXPECT_EQ(ctx_.variables["v"], "Xb XX");
  }

  ctx_.variables["w"] = "x=y";
  source = "[#w]";
  ExpandAndEvaluate(ctx_, source);
  ExecuteRegex(ctx_, "kv {\\w}={\\w}");
  ExecuteReplace(ctx_, "kv [#w] $1");
  expected = CreateNamedRegex(ctx_.codePage(), "{\\w}={\\w}");
  EXPECT_EQ(ctx_.variables["w"], RegexReplace(*expected, ctx_.codePage(), source, "$1"));
  if (source == "x=y") {
    EXPECT_EQ(ctx_.variables["w"], "y=y");
  }

  // Without a replacement the target's trailing blanks go and the
  // replacement is empty.
  ExecuteRegex(ctx_, "hash {#}");
  ExecuteReplace(ctx_, "hash [#z]   ");
  std::string zSource = "[#z]";
  ExpandAndEvaluate(ctx_, zSource);
  EXPECT_EQ(ctx_.variables["z"], zSource == "[#z]" ? "[z]" : zSource);
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(RegexStatements, GbkScriptsKeepTheirBytes) {
  EngineEnvironment gbkEnv;
  gbkEnv.codePage = &CodePage::Get(CodePage::kGbk);
  RecordingHost host;
  ScriptContext ctx(gbkEnv);
  ctx.host = &host;
  const std::string zhong = "\xd6\xd0";  // U+4E2D in GBK
  ExecuteRegex(ctx, "r {[^a]+}");
  ExecuteMatch(ctx, "r a" + zhong + "\x81\x5c" "a");
  EXPECT_EQ(ReadRegexValue(ctx, "r.0"), zhong + "\x81\x5c");
  // The unknown-name report carries the GBK name through unchanged.
  EXPECT_EQ(ReadRegexValue(ctx, zhong + ".count"), zhong + ".count");
  ASSERT_EQ(host.alerts.size(), 1u);
  const CodePage& gbk = CodePage::Get(CodePage::kGbk);
  EXPECT_EQ(host.alerts[0], gbk.FromUtf8("出错：\"") + zhong + ".count\"\r\n" +
                                gbk.FromUtf8("原因：") + zhong +
                                gbk.FromUtf8(" 正则表达式不存在．"));
}

TEST_F(RegexStatements, StopEndsARunawayMatch) {
  ExecuteRegex(ctx_, "r {((a|(aa))+)+b}");
  ctx_.stop.request();
  ExecuteMatch(ctx_, "r " + std::string(80, 'a') + "cb");
  EXPECT_EQ(ReadRegexValue(ctx_, "r.count"), "0");
  EXPECT_TRUE(ctx_.regexes["r"]->matchState.stopped);
}

}  // namespace
}  // namespace velmar::testing

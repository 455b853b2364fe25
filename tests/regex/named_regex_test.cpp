// Named expressions over multibyte texts: match-all, replace, the tester's
// report, code-page crossings and the command-line tester.

#include "regex/named_regex.h"

#include <gtest/gtest.h>

#include "engine/stop_signal.h"
#include "support/test_support.h"

namespace velmar::testing {
namespace {

const CodePage& Utf8() { return CodePage::Get(CodePage::kUtf8); }
const CodePage& Gbk() { return CodePage::Get(CodePage::kGbk); }

std::vector<std::string> All(const std::string& pattern, const std::string& text,
                             int* groups = nullptr, const CodePage& cp = Utf8()) {
  auto regex = CreateNamedRegex(cp, pattern);
  const int n = MatchAll(*regex, cp, text);
  EXPECT_EQ(n, static_cast<int>(regex->results.size()));
  if (groups) *groups = regex->groupCount;
  return regex->results;
}

TEST(NamedRegex, MatchAllCollectsGroupsOfEveryMatch) {
  int groups = -1;
  EXPECT_EQ(All("<td>{[^<]*}</td>", "<td>a</td><td>b</td>", &groups),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(groups, 1);
  // Group j of match i sits at i * groups + j.
  EXPECT_EQ(All("{\\d+}-{\\d+}", "1-2 3-4", &groups),
            (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(groups, 2);
  // Captured texts keep their case.
  EXPECT_EQ(All("{abc}", "xABCx abc"), (std::vector<std::string>{"ABC", "abc"}));
  // Without braces nothing is collected, and the group count is 0.
  EXPECT_TRUE(All("abc", "abc", &groups).empty());
  EXPECT_EQ(groups, 0);
  // An empty text is never searched, not even by a pattern matching empty.
  EXPECT_TRUE(All("{x*}", "", &groups).empty());
  EXPECT_EQ(groups, 0);
  // Nothing matched: the group count is still the pattern's.
  EXPECT_TRUE(All("{z}", "abc", &groups).empty());
  EXPECT_EQ(groups, 1);
  // A pattern that does not compile gives an object that matches nothing.
  auto bad = CreateNamedRegex(Utf8(), "{a");
  EXPECT_FALSE(bad->compiled);
  EXPECT_EQ(MatchAll(*bad, Utf8(), "aaa"), 0);
  EXPECT_EQ(bad->groupCount, 0);
  // A later match-all starts afresh.
  auto r = CreateNamedRegex(Utf8(), "{a}");
  EXPECT_EQ(MatchAll(*r, Utf8(), "aa"), 2);
  EXPECT_EQ(MatchAll(*r, Utf8(), "a"), 1);
  EXPECT_EQ(r->results, (std::vector<std::string>{"a"}));
}

TEST(NamedRegex, EmptyMatchesMoveTheSearchOn) {
  EXPECT_EQ(All("{x*}", "ab"), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(All("{a*}", "ab"), (std::vector<std::string>{"a", "", ""}));
  // One step is one character: a surrogate pair is not split.
  EXPECT_EQ(All("{x*}", "\xf0\x9f\x98\x80"), (std::vector<std::string>{"", ""}));
  // `^` anchors each search where it starts.
  EXPECT_EQ(All("^{a}", "aab"), (std::vector<std::string>{"a", "a"}));
  // The search stops at the end of the text even when an empty match ends there.
  EXPECT_EQ(All("{b?}", "b"), (std::vector<std::string>{"b"}));
}

TEST(NamedRegex, TextsCrossTheCodePage) {
  // UTF-8: a class takes whole characters, invalid bytes become '?'.
  EXPECT_EQ(All("{[^<]}", "\xe4\xb8\xad<"), (std::vector<std::string>{"\xe4\xb8\xad"}));
  EXPECT_EQ(All("{.}", "a\xff" "b"), (std::vector<std::string>{"a", "?", "b"}));
  EXPECT_EQ(All("{.}", "\xe4\xb8"), (std::vector<std::string>{"?", "?"}));
  // GBK: a trail byte that looks like `\` is part of its character.
  const std::string gbkNoru = "\x81\x5c";      // U+4E57
  const std::string gbkZhong = "\xd6\xd0";     // U+4E2D
  EXPECT_TRUE(All("{\\\\}", "a" + gbkNoru + "b", nullptr, Gbk()).empty());
  EXPECT_EQ(All("{[^a]+}", "a" + gbkNoru + gbkZhong + "a", nullptr, Gbk()),
            (std::vector<std::string>{gbkNoru + gbkZhong}));
  EXPECT_EQ(All("x{" + gbkZhong + "}", "x" + gbkZhong, nullptr, Gbk()),
            (std::vector<std::string>{gbkZhong}));
  // A long page with characters scattered through ASCII converts like a
  // short one does.
  std::string page;
  for (int i = 0; i < 300; ++i) page += "<td>x" + std::to_string(i) + "\xc3\xa9</td>\xe2\x80\x94";
  auto cells = All("<td>{[^<]*}</td>", page);
  ASSERT_EQ(cells.size(), 300u);
  EXPECT_EQ(cells[0], "x0\xc3\xa9");
  EXPECT_EQ(cells[299], "x299\xc3\xa9");
  // NUL ends the text.
  EXPECT_EQ(All("{.}", std::string("a\0b", 3)), (std::vector<std::string>{"a"}));
}

TEST(NamedRegex, ReplaceGoesByGroupText) {
  const CodePage& cp = Utf8();
  auto r = CreateNamedRegex(cp, "{a}b");
  // Group 0 of the one match is `a`, and every `a` of the text is replaced.
  EXPECT_EQ(RegexReplace(*r, cp, "ab aa", "X"), "Xb XX");
  EXPECT_EQ(r->groupCount, 1);
  r = CreateNamedRegex(cp, "{\\w}={\\w}");
  EXPECT_EQ(RegexReplace(*r, cp, "x=y", "$1"), "y=y");
  r = CreateNamedRegex(cp, "{\\d}:{\\w}");
  EXPECT_EQ(RegexReplace(*r, cp, "1:a 2:b", "<$1$1>"), "<aa>:a <bb>:b");
  // $0 is not substituted; no groups, no match, no text: unchanged.
  EXPECT_EQ(RegexReplace(*r, cp, "1:a", "$0"), "$0:a");
  r = CreateNamedRegex(cp, "a");
  EXPECT_EQ(RegexReplace(*r, cp, "aaa", "X"), "aaa");
  EXPECT_EQ(r->groupCount, 0);
  r = CreateNamedRegex(cp, "{q}");
  EXPECT_EQ(RegexReplace(*r, cp, "aaa", "X"), "aaa");
  EXPECT_EQ(RegexReplace(*r, cp, "", "X"), "");
  r = CreateNamedRegex(cp, "{a");
  EXPECT_EQ(RegexReplace(*r, cp, "aaa", "X"), "aaa");
  // Inserted text is not rescanned within one replacement, but every match
  // replaces anew over the whole result; empty group texts replace nothing.
  r = CreateNamedRegex(cp, "{a}");
  EXPECT_EQ(RegexReplace(*r, cp, "ab", "aa"), "aab");
  EXPECT_EQ(RegexReplace(*r, cp, "aba", "aa"), "aaaabaaaa");
  r = CreateNamedRegex(cp, "{x*}");
  EXPECT_EQ(RegexReplace(*r, cp, "abc", "Z"), "abc");
  // Multibyte texts come back in the code page.
  r = CreateNamedRegex(cp, "{\xe4\xb8\xad}");
  EXPECT_EQ(RegexReplace(*r, cp, "a\xe4\xb8\xad" "b", "\xe6\x96\x87"), "a\xe6\x96\x87" "b");
}

TEST(NamedRegex, StopEndsMatchAllAndReplace) {
  const CodePage& cp = Utf8();
  auto r = CreateNamedRegex(cp, "{((a|(aa))+)+b}");
  const std::string text = std::string(80, 'a') + "cb";
  StopSignal stop;
  stop.request();
  EXPECT_EQ(MatchAll(*r, cp, text, &stop), 0);
  EXPECT_TRUE(r->matchState.stopped);
  EXPECT_EQ(RegexReplace(*r, cp, text, "x", &stop), text);
}

TEST(NamedRegex, TesterReport) {
  const CodePage& cp = Utf8();
  EXPECT_EQ(RegexTesterText(cp, "{\\d}", "a1b2"), "count:2; groups:1;\r\n000 - 1\r\n001 - 2");
  EXPECT_EQ(RegexTesterText(cp, "{\\d}-{\\c}", "1-a"),
            "count:2; groups:2;\r\n000 - 1\r\n001 - a");
  EXPECT_EQ(RegexTesterText(cp, "abc", "abc"), "count:0; groups:0;");
  EXPECT_EQ(RegexTesterText(cp, "{a", "abc"), "count:0; groups:0;");
  std::string many;
  for (int i = 0; i < 1001; ++i) many += "x";
  const std::string report = RegexTesterText(cp, "{x}", many);
  EXPECT_NE(report.find("\r\n999 - x\r\n1000 - x"), std::string::npos);
}

TEST(NamedRegex, CommandLineTester) {
  ProcessResult r = RunVelmar({"regex", "{\\d}"}, "a1b2");
  if (r.out.rfind("velmar ", 0) == 0) GTEST_SKIP() << "the regex command is not wired up yet";
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "count:2; groups:1;\r\n000 - 1\r\n001 - 2\n");

  TempDir dir;
  const auto file = dir.Write("page.html", "<td>\xd6\xd0</td><td>b</td>");
  r = RunVelmar({"regex", "--codepage", "936", "<td>{[^<]*}</td>", file.string()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "count:2; groups:1;\r\n000 - \xd6\xd0\r\n001 - b\n");

  r = RunVelmar({"regex"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("usage"), std::string::npos);
  r = RunVelmar({"regex", "--codepage", "1252", "a"});
  EXPECT_EQ(r.exitCode, 2);
  r = RunVelmar({"regex", "a", (dir.path() / "missing.txt").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos);
}

}  // namespace
}  // namespace velmar::testing

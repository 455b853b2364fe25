// Named expressions over multibyte texts: match-all, replace, the tester's
// report, code-page crossings and the command-line tester.

#include "regex/named_regex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/stop_signal.h"
#include "regex/utf16_text_cache.h"
#include "support/test_support.h"

namespace velmar::testing {
namespace {

using Texts = std::vector<std::string>;
const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);
const CodePage& kGbk = CodePage::Get(CodePage::kGbk);

Texts All(const std::string& pattern, const std::string& text, int* groups = nullptr,
          const CodePage& cp = kUtf8) {
  auto regex = CreateNamedRegex(cp, pattern);
  const int n = MatchAll(*regex, cp, text);
  EXPECT_EQ(n, static_cast<int>(regex->results.size()));
  if (groups) *groups = regex->groupCount;
  return regex->results;
}

TEST(NamedRegex, MatchAllCollectsGroupsOfEveryMatch) {
  int groups = -1;
  EXPECT_EQ(All("<td>{[^<]*}</td>", "<td>a</td><td>b</td>", &groups), (Texts{"a", "b"}));
  EXPECT_EQ(groups, 1);
  EXPECT_EQ(All("{\\d+}-{\\d+}", "1-2 3-4", &groups), (Texts{"1", "2", "3", "4"}));
  EXPECT_EQ(groups, 2);
  EXPECT_EQ(All("{abc}", "xABCx abc"), (Texts{"ABC", "abc"}));
  // No braces, no text, no match, no compile: nothing collected.
  EXPECT_TRUE(All("abc", "abc", &groups).empty());
  EXPECT_EQ(groups, 0);
  EXPECT_TRUE(All("{x*}", "", &groups).empty());
  EXPECT_EQ(groups, 0);
  EXPECT_TRUE(All("{z}", "abc", &groups).empty());
  EXPECT_EQ(groups, 1);
  EXPECT_TRUE(All("{a", "aaa", &groups).empty());
  EXPECT_EQ(groups, 0);
  EXPECT_FALSE(CreateNamedRegex(kUtf8, "{a")->compiled);
  // Empty matches move the search on by one character (a surrogate pair is one).
  EXPECT_EQ(All("{x*}", "ab"), (Texts{"", "", ""}));
  EXPECT_EQ(All("{a*}", "ab"), (Texts{"a", "", ""}));
  EXPECT_EQ(All("{x*}", "\xf0\x9f\x98\x80"), (Texts{"", ""}));
  EXPECT_EQ(All("{b?}", "b"), (Texts{"b"}));
  // `^` anchors each search where it starts.
  EXPECT_EQ(All("^{a}", "aab"), (Texts{"a", "a"}));
}

TEST(NamedRegex, TextsCrossTheCodePage) {
  EXPECT_EQ(All("{[^<]}", "\xe4\xb8\xad<"), (Texts{"\xe4\xb8\xad"}));
  EXPECT_EQ(All("{.}", std::string("a\0b", 3)), (Texts{"a"}));  // NUL ends the text
  // Broken sequences read exactly as the code page converts them.
  const std::string broken = "\xc0\x80\xed\xa0\x80\xf8";
  EXPECT_EQ(All("{[^x]+}", broken + "x\xe4"), (Texts{kUtf8.FromUtf16(kUtf8.ToUtf16(broken)), "?"}));
  EXPECT_EQ(All("{\xff+}", "a??b"), (Texts{"??"}));  // the pattern's bad byte became '?'
  // GBK: a trail byte that looks like `\` or `x` belongs to its character.
  const std::string noru = "\x81\x5c", zhong = "\xd6\xd0";
  EXPECT_TRUE(All("{\\\\}", "a" + noru + "b", nullptr, kGbk).empty());
  EXPECT_EQ(All("{[^a]+}", "a" + noru + zhong + "a", nullptr, kGbk), (Texts{noru + zhong}));
  EXPECT_EQ(All("{[^x]+}", "\x81x\xff\x80x\x81", nullptr, kGbk),
            (Texts{kGbk.FromUtf16(kGbk.ToUtf16("\x81x\xff\x80")), "?"}));
  // A long page with characters scattered through ASCII.
  std::string page;
  for (int i = 0; i < 300; ++i) page += "<td>x" + std::to_string(i) + "\xc3\xa9</td>\xe2\x80\x94";
  const Texts cells = All("<td>{[^<]*}</td>", page);
  ASSERT_EQ(cells.size(), 300u);
  EXPECT_EQ(cells[299], "x299\xc3\xa9");
}

TEST(NamedRegex, ReplaceGoesByGroupText) {
  auto replace = [](const std::string& pattern, const std::string& text, const std::string& by) {
    return RegexReplace(*CreateNamedRegex(kUtf8, pattern), kUtf8, text, by);
  };
  // Every occurrence of a match's group-0 text is replaced, also where the
  // pattern did not match, and each match replaces anew over the result.
  EXPECT_EQ(replace("{a}b", "ab aa", "X"), "Xb XX");
  EXPECT_EQ(replace("{a}", "aba", "aa"), "aaaabaaaa");
  EXPECT_EQ(replace("{\\w}={\\w}", "x=y", "$1"), "y=y");
  EXPECT_EQ(replace("{\\d}:{\\w}", "1:a 2:b", "<$1$1>"), "<aa>:a <bb>:b");
  EXPECT_EQ(replace("{\\d}:{\\w}", "1:a", "$0"), "$0:a");
  EXPECT_EQ(replace("{\xe4\xb8\xad}",
                    "a\xe4\xb8\xad"
                    "b",
                    "\xe6\x96\x87"),
            "a\xe6\x96\x87"
            "b");
  // Unchanged: no groups, no match, empty group text, no text, no compile.
  for (const char* pattern : {"a", "{q}", "{x*}", "{a"})
    EXPECT_EQ(replace(pattern, "aaa", "X"), "aaa");
  EXPECT_EQ(replace("{a}", "", "X"), "");
}

TEST(NamedRegex, ReplaceThatMultipliesItsMatchStopsAtTheLimit) {
  // Each match of "a" doubles every "a" of the result: 40 of them would ask
  // for 2^40 characters. The replacing gives up at the expansion limit.
  bool tooLong = false;
  const std::string result = RegexReplace(*CreateNamedRegex(kUtf8, "{a}"), kUtf8,
                                          std::string(40, 'a'), "aa", nullptr, &tooLong);
  EXPECT_TRUE(tooLong);
  EXPECT_EQ(result, "");
}

TEST(NamedRegex, StopEndsMatchAllAndReplace) {
  auto r = CreateNamedRegex(kUtf8, "{((a|(aa))+)+b}");
  const std::string text = std::string(80, 'a') + "cb";
  StopSignal stop;
  stop.request();
  EXPECT_EQ(MatchAll(*r, kUtf8, text, &stop), 0);
  EXPECT_TRUE(r->matchState.stopped);
  EXPECT_EQ(RegexReplace(*r, kUtf8, text, "x", &stop), text);
}

// 48 words of 1024 `w`: every match replaces each occurrence of the word by
// two of it, over the result, so the text would double 48 times.
std::string DoublingWords() {
  std::string text;
  for (int i = 0; i < 48; ++i) text += std::string(1024, 'w') + " ";
  return text;
}

TEST(NamedRegex, ReplaceStaysWithinTheExpansionLimit) {
  auto r = CreateNamedRegex(kUtf8, "{w+}");
  bool tooLong = false;
  EXPECT_EQ(RegexReplace(*r, kUtf8, DoublingWords(), std::string(2048, 'w'), nullptr, &tooLong),
            "");
  EXPECT_TRUE(tooLong);
  // A group multiplied in the replacement is bounded as well.
  auto g = CreateNamedRegex(kUtf8, "{x}{y+}");
  std::string many;
  for (int i = 0; i < 70; ++i) many += "$1";
  EXPECT_EQ(RegexReplace(*g, kUtf8, "x" + std::string(1 << 20, 'y'), many, nullptr, &tooLong), "");
  EXPECT_TRUE(tooLong);
  // Below the limit the result is whole: 8 words doubled 12 times.
  const std::string eight = DoublingWords().substr(0, 8 * 1025);
  EXPECT_EQ(RegexReplace(*r, kUtf8, eight, std::string(2048, 'w'), nullptr, &tooLong).size(),
            std::size_t{8} * ((1024u << 8) + 1));
  EXPECT_FALSE(tooLong);
  // A stop ends the replace without calling it too long.
  StopSignal stop;
  stop.request();
  RegexReplace(*r, kUtf8, DoublingWords(), std::string(2048, 'w'), &stop, &tooLong);
  EXPECT_FALSE(tooLong);
}

TEST(NamedRegex, GivesBackTheMemoryOfHugeTexts) {
  // A named expression lives as long as the script; the UTF-16 copy of a
  // 5 MB text and the backtrack stack of a deep match do not stay with it.
  const std::string big = std::string(5 << 20, 'a') + "b";
  std::unique_ptr<NamedRegex> regex = CreateNamedRegex(kUtf8, "{(a|c)*}b");
  EXPECT_EQ(MatchAll(*regex, kUtf8, big), 1);
  EXPECT_EQ(regex->results[0].size(), big.size() - 1);
  EXPECT_LE(regex->buffer.capacity(), std::size_t{1} << 22);
  EXPECT_LE(regex->matchState.stack.capacity(), std::size_t{1} << 22);
  EXPECT_EQ(RegexReplace(*regex, kUtf8, big, "x"), "xb");
  EXPECT_LE(regex->buffer.capacity(), std::size_t{1} << 22);
  EXPECT_LE(regex->matchState.stack.capacity(), std::size_t{1} << 22);
  // Ordinary texts still match after the buffers were given back.
  EXPECT_EQ(MatchAll(*regex, kUtf8, "aab"), 1);
  EXPECT_EQ(regex->results[0], "aa");
}

TEST(NamedRegex, TesterReportAndCommand) {
  EXPECT_EQ(RegexTesterText(kUtf8, "{\\d}-{\\c}", "1-a"),
            "count:2; groups:2;\r\n000 - 1\r\n001 - a");
  EXPECT_EQ(RegexTesterText(kUtf8, "abc", "abc"), "count:0; groups:0;");
  EXPECT_NE(RegexTesterText(kUtf8, "{x}", std::string(1001, 'x')).find("\r\n999 - x\r\n1000 - x"),
            std::string::npos);

  ProcessResult r = RunVelmar({"regex", "{\\d}"}, "a1b2");
  if (r.out.rfind("velmar ", 0) == 0) VELMAR_SKIP_WITHOUT("velmar regex");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "count:2; groups:1;\r\n000 - 1\r\n001 - 2\n");
  TempDir dir;
  const auto file = dir.Write("page.html", "<td>\xd6\xd0</td><td>b</td>");
  r = RunVelmar({"regex", "--codepage", "936", "<td>{[^<]*}</td>", file.string()});
  EXPECT_EQ(r.out, "count:2; groups:1;\r\n000 - \xd6\xd0\r\n001 - b\n");
  // A refused pattern: why and where on standard error, and no report.
  r = RunVelmar({"regex", "ab{c(d"}, "abcd");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "velmar regex: unbalanced parenthesis at position 4\n  ab{c(d\n      ^\n");
  r = RunVelmar({"regex", "中文[z-a]"}, "");
  EXPECT_EQ(r.err, "velmar regex: range out of order at position 3\n  中文[z-a]\n       ^\n");
  r = RunVelmar({"regex"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("usage"), std::string::npos);
  EXPECT_EQ(RunVelmar({"regex", "--codepage", "1252", "a"}).exitCode, 2);
  r = RunVelmar({"regex", "a", (dir.path() / "missing.txt").string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos);
  // A folder opens but cannot be read: an error, not a crash or an empty text.
  r = RunVelmar({"regex", "a", dir.path().string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos);
}

// The tester builds its report from group spans, the script's match-all
// from result texts: both must give the same texts, also where converting
// back is not the identity (broken UTF-8, NUL, GBK, empty groups).
TEST(NamedRegex, TesterReportAgreesWithMatchAll) {
  struct Case {
    const CodePage* cp;
    std::string pattern;
    std::string text;
  };
  const Case cases[] = {
      {&kUtf8, "<td>{[^<]*}</td>", "<td>\xc3\xa9t\xc3\xa9</td><td></td><td>\xff\xfe x</td>"},
      {&kUtf8, "{\\w}={\\z}", "a=1 \xe4\xb8\xad=2 B=33\xf0\x9f\x98\x80=4"},
      {&kUtf8, "{x*}", "axxb\xe2\x82\xac"},
      {&kUtf8, "{(a)|(b)}{c?}", "ab c ac"},
      {&kUtf8, "{.}", std::string("ab\0cd", 5)},
      {&kGbk, "<b>{[^<]*}</b>", "<b>\xd6\xd0\xce\xc4</b><b>\x81</b>"},
  };
  for (const Case& c : cases) {
    auto regex = CreateNamedRegex(*c.cp, c.pattern);
    const int n = MatchAll(*regex, *c.cp, c.text);
    std::string expected =
        "count:" + std::to_string(n) + "; groups:" + std::to_string(regex->groupCount) + ";";
    char head[32];
    for (int i = 0; i < n; ++i) {
      std::snprintf(head, sizeof head, "\r\n%03d - ", i);
      expected += head + regex->results[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(RegexTesterText(*c.cp, c.pattern, c.text), expected) << c.pattern;
  }
}

// A script matching several expressions against one page converts it once;
// the cache must still follow every change of the text.
TEST(NamedRegex, ConversionCacheFollowsTheText) {
  Utf16TextCache cache;
  auto regex = CreateNamedRegex(kUtf8, "<b>{[^<]*}</b>");
  std::string page = "<b>one</b><b>two</b>";
  EXPECT_EQ(MatchAll(*regex, kUtf8, page, nullptr, &cache), 2);
  EXPECT_EQ(regex->results, (Texts{"one", "two"}));
  // Same size, changed in place.
  page.replace(3, 3, "ONE");
  EXPECT_EQ(MatchAll(*regex, kUtf8, page, nullptr, &cache), 2);
  EXPECT_EQ(regex->results, (Texts{"ONE", "two"}));
  // The same content in a new value, and another expression on it.
  const std::string copy = page;
  auto other = CreateNamedRegex(kUtf8, "{t\\w}");
  EXPECT_EQ(MatchAll(*other, kUtf8, copy, nullptr, &cache), 1);
  EXPECT_EQ(other->results, (Texts{"two"}));
  // A value destroyed and another of the same size, most likely in the same
  // place, with other content.
  auto gone = std::make_unique<std::string>("<b>abc</b>");
  EXPECT_EQ(MatchAll(*regex, kUtf8, *gone, nullptr, &cache), 1);
  gone.reset();
  auto next = std::make_unique<std::string>("<b>xyz</b>");
  EXPECT_EQ(MatchAll(*regex, kUtf8, *next, nullptr, &cache), 1);
  EXPECT_EQ(regex->results, (Texts{"xyz"}));
  // A shorter text after a longer one, and the same bytes in another code page.
  EXPECT_EQ(MatchAll(*regex, kUtf8, "<b>\xd6\xd0</b>", nullptr, &cache), 1);
  EXPECT_EQ(regex->results, (Texts{"??"}));
  EXPECT_EQ(MatchAll(*regex, kGbk, "<b>\xd6\xd0</b>", nullptr, &cache), 1);
  EXPECT_EQ(regex->results, (Texts{"\xd6\xd0"}));
  // A NUL ends the searched text, cached or not.
  EXPECT_EQ(MatchAll(*regex, kUtf8, std::string("<b>a</b>\0<b>b</b>", 17), nullptr, &cache), 1);
  EXPECT_EQ(MatchAll(*regex, kUtf8, std::string("<b>a</b>\0<b>b</b>", 17), nullptr, &cache), 1);
}

TEST(NamedRegex, ConversionCacheLetsGoOfHugeTexts) {
  Utf16TextCache cache;
  auto regex = CreateNamedRegex(kUtf8, "{b}");
  const std::string big = std::string(Utf16TextCache::kMaxKeptBytes + 1, 'a') + "b";
  EXPECT_EQ(MatchAll(*regex, kUtf8, big, nullptr, &cache), 1);
  // Nothing of the huge text is held afterwards: the next text converts anew.
  EXPECT_EQ(cache.Get(kUtf8, "abc"), u"abc");
  EXPECT_EQ(MatchAll(*regex, kUtf8, big, nullptr, &cache), 1);
}

// SIGINT reaches the command-line tester in the middle of a match that
// would otherwise backtrack for ages.
TEST(NamedRegex, SigintStopsTheCommandLineTester) {
  TempDir dir;
  const auto file = dir.Write("a.txt", std::string(200, 'a') + "cb");
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  std::vector<std::string> argv{VELMAR_CLI_PATH, "regex", "{((a|(aa))+)+b}", file.string()};
  std::vector<char*> argp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);  // a test runner in the background may ignore it
    dup2(err[1], 2);
    close(err[0]);
    execv(argp[0], argp.data());
    _exit(127);
  }
  close(err[1]);
  // Long enough for the file to be read and the match to be under way.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(pid, SIGINT);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(text.find("velmar regex: stopped"), std::string::npos) << text;
  EXPECT_LT(took, std::chrono::seconds(30));
}

}  // namespace
}  // namespace velmar::testing

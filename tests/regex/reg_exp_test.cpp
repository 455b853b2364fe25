// The dialect and the matcher: what each construct matches, the priority
// between choices, group contents, and the compile result codes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/stop_signal.h"
#include "regex_test_util.h"

namespace velmar::testing {
namespace {

TEST(RegExpDialect, AlternationBindsSingleElements) {
  EXPECT_EQ(Matched("ab|cd", "abd"), "abd");
  EXPECT_EQ(Matched("ab|cd", "acd"), "acd");
  EXPECT_EQ(Matched("ab|cd", "ab"), "<none>");
  EXPECT_EQ(Matched("(ab)|(cd)", "xxcd"), "cd");
  EXPECT_EQ(Matched("(ab)|(cd)", "ab"), "ab");
  // The left alternative wins even when the right one would be longer.
  EXPECT_EQ(Matched("{a|(ab)}", "ab"), "a");
  // Chains of alternatives and an empty last alternative.
  EXPECT_EQ(Matched("x(a)|(b)|(c)y", "xcy"), "xcy");
  EXPECT_EQ(Matched("xa|", "xb"), "x");
}

TEST(RegExpDialect, CaptureGroups) {
  auto f = Find("{a}{b}", "xab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->start, 1);
  EXPECT_EQ(f->groups, (std::vector<std::string>{"a", "b"}));

  // After a repetition the group holds its last repetition.
  f = Find("{a|b}*", "abba");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->end, 4);
  EXPECT_EQ(f->groups[0], "a");

  // A group that took no part reads empty; nested groups number by their brace.
  f = Find("{x}?{a{b}}", "ab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->groups, (std::vector<std::string>{"", "ab", "b"}));

  // Backtracking out of a group restores what it held before.
  f = Find("{a*}ab", "aaab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->groups[0], "aa");
}

TEST(RegExpDialect, GreedyAndLazyRepetition) {
  EXPECT_EQ(Matched("a.*b", "a1b2b"), "a1b2b");
  EXPECT_EQ(Matched("a.*?b", "a1b2b"), "a1b");
  EXPECT_EQ(Matched("a+", "baaa"), "aaa");
  EXPECT_EQ(Matched("a+?", "baaa"), "a");
  EXPECT_EQ(Matched("ba?", "baa"), "ba");
  EXPECT_EQ(Matched("ba??", "baa"), "b");
  EXPECT_EQ(Matched("ba??a", "baa"), "ba");
  // A lazy repetition resumes from where its continuation started.
  EXPECT_EQ(Matched("x.*?ab", "xaab"), "xaab");
  EXPECT_EQ(Matched("x??xy", "xxy"), "xxy");
  // Backtracking into a repeated operand checks progress against the start of
  // that repetition, not of a later one.
  EXPECT_EQ(Matched("(.*?.?)?[^ab]", "cbBacB"), "cbBac");
  // Repetitions of groups, greedy and lazy, give back one at a time.
  EXPECT_EQ(Matched("(ab)*a", "ababa"), "ababa");
  EXPECT_EQ(Matched("(ab)+?a", "ababa"), "aba");
  EXPECT_EQ(Matched("{(ab)+}b", "ababb"), "ababb");
  // `.` takes line breaks too.
  EXPECT_EQ(Matched("a.b", "a\nb"), "a\nb");
  EXPECT_EQ(Matched("x*", ""), "");
  EXPECT_EQ(Matched("x*", "ab"), "");
}

TEST(RegExpDialect, QuantifierCharactersWithoutAnAtomAreLiteral) {
  EXPECT_EQ(Matched("*a", "x*a"), "*a");
  EXPECT_EQ(Matched("a**", "aa*"), "aa*");
  EXPECT_EQ(Matched("a**", "aa"), "<none>");
  EXPECT_EQ(Matched("|a", "|a"), "|a");
}

TEST(RegExpDialect, CaseOfAToZIsIgnored) {
  EXPECT_EQ(Matched("ABC", "abc"), "abc");
  EXPECT_EQ(Matched("abc", "aBc"), "aBc");
  auto f = Find("{ABC}", "xAbC");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->groups[0], "AbC");
  EXPECT_EQ(Matched("[A-C]+", "xbCa"), "bCa");
  EXPECT_EQ(Matched("[^a]", "Ab"), "b");
  // Only A to Z: other letters keep their case.
  EXPECT_EQ(Matched("é", "É"), "<none>");
  // Back-references ignore case too.
  EXPECT_EQ(Matched("{ab}\\0", "abAB"), "abAB");
}

TEST(RegExpDialect, Anchors) {
  EXPECT_EQ(Matched("^b", "ab"), "<none>");
  EXPECT_EQ(Find("b", "ab")->start, 1);
  EXPECT_EQ(Matched("^a", "ab"), "a");
  EXPECT_EQ(Matched("a^", "a^"), "a^");
  EXPECT_EQ(Matched("a$", "ba"), "a");
  EXPECT_EQ(Matched("a$", "ab"), "<none>");
  EXPECT_EQ(Matched("a$", "a\n"), "<none>");
  EXPECT_EQ(Matched("a$b", "a$b"), "a$b");
  EXPECT_EQ(Matched("$", "ab"), "");
  EXPECT_EQ(Find("$", "ab")->start, 2);
  EXPECT_EQ(Matched("\\$", "a$"), "$");
}

TEST(RegExpDialect, Abbreviations) {
  EXPECT_EQ(Matched("\\d+", "x123y"), "123");
  EXPECT_EQ(Matched("\\z", "x123y"), "123");
  EXPECT_EQ(Matched("\\D", "x7"), "7");
  EXPECT_EQ(Matched("\\w", "12abC3"), "abC");
  EXPECT_EQ(Matched("\\a+", "-a1B-"), "a1B");
  EXPECT_EQ(Matched("\\c+", "1aB2"), "aB");
  EXPECT_EQ(Matched("\\h+", "xx0fA9g"), "0fA9");
  EXPECT_EQ(Matched("a\\b+b", "a \t b"), "a \t b");
  EXPECT_EQ(Matched("\\q", "say \"x y\" now"), "\"x y\"");
  EXPECT_EQ(Matched("\\q", "say 'x y' now"), "<none>");
  EXPECT_EQ(Matched("a\\nb", "a\r\nb"), "a\r\nb");
  EXPECT_EQ(Matched("a\\nb", "a\nb"), "a\nb");
  EXPECT_EQ(Matched("a\\nb", "a\rb"), "a\rb");
  EXPECT_EQ(Matched("a\\n+b", "a\n\r\nb"), "a\n\r\nb");
  // Other escapes stand for the character itself.
  EXPECT_EQ(Matched("\\.\\[\\{\\\\", "x.[{\\"), ".[{\\");
  EXPECT_EQ(Matched("\\t\\r", "tr"), "tr");
  // Abbreviations open no groups.
  auto f = Find("{\\w}={\\z}", "ab=12");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->groups, (std::vector<std::string>{"ab", "12"}));
}

TEST(RegExpDialect, Classes) {
  EXPECT_EQ(Matched("[a\\-z]", "b-"), "-");
  EXPECT_EQ(Matched("[\\t]", "a\tb"), "\t");
  EXPECT_EQ(Matched("[\\]]", "a]"), "]");
  EXPECT_EQ(Matched("[\\\\]", "a\\"), "\\");
  EXPECT_EQ(Matched("[\\^a]", "^"), "^");
  EXPECT_EQ(Matched("[^^]", "^x"), "x");
  EXPECT_EQ(Matched("[0-9a-c]+", "x9ab-"), "9ab");
  EXPECT_EQ(Matched("[^<]*<", "abc<"), "abc<");
  // A negated class takes any unit but the end of the text.
  EXPECT_EQ(Matched("a[^x]", "a"), "<none>");
  EXPECT_EQ(Matched("[^a]", "\xe4\xb8\xad"), "\xe4\xb8\xad");
  EXPECT_EQ(Matched("[\xe4\xb8\x80-\xe9\xbe\xa5]+", "x\xe4\xb8\xad\xe6\x96\x87y"),
            "\xe4\xb8\xad\xe6\x96\x87");
}

TEST(RegExpDialect, NegationAndBackReferences) {
  auto f = Find("!a.", "ab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->start, 1);
  EXPECT_EQ(Matched("!a.", "ab"), "b");
  EXPECT_EQ(Matched("x!(ab).", "xabxac"), "xa");
  EXPECT_EQ(Find("x!(ab).", "xabxac")->start, 3);
  // Groups inside a negation never keep what they saw there.
  f = Find("!{a}.", "ab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->start, 1);
  EXPECT_EQ(f->groups[0], "");
  // A `!` with nothing after it is the character itself.
  EXPECT_EQ(Matched("hi!", "oh hi!"), "hi!");

  EXPECT_EQ(Matched("{a}\\0", "aa"), "aa");
  EXPECT_EQ(Matched("{a+}-\\0", "aa-a aa-aa"), "a-a");
  EXPECT_EQ(Matched("{a+}-\\0$", "aa-a aa-aa"), "aa-aa");
  // A group that is still open compares as empty.
  EXPECT_EQ(Matched("{a\\0}", "a"), "a");
  // A group that took no part compares as empty.
  EXPECT_EQ(Matched("{x}?a\\0b", "ab"), "ab");
}

TEST(RegExpDialect, ParsingStopsAtAnUnmatchedCloser) {
  EXPECT_EQ(CompileCode("a)b"), 0);
  EXPECT_EQ(Matched("a)b", "xa"), "a");
  EXPECT_EQ(Matched("a]b", "xa"), "a");
  EXPECT_EQ(Matched("a}b", "xa"), "a");
  EXPECT_EQ(Matched("", "xa"), "");
  // A lone `\` at the end ends the pattern.
  EXPECT_EQ(CompileCode("ab\\"), 0);
  EXPECT_EQ(Matched("ab\\", "ab"), "ab");
}

TEST(RegExpCompile, ResultCodes) {
  EXPECT_EQ(CompileCode("{a"), 2);
  EXPECT_EQ(CompileCode("{a)"), 2);
  EXPECT_EQ(CompileCode("{a\\"), 2);
  EXPECT_EQ(CompileCode("(a"), 3);
  EXPECT_EQ(CompileCode("(a}"), 3);
  EXPECT_EQ(CompileCode("[ab"), 4);
  EXPECT_EQ(CompileCode("[a-]"), 4);
  EXPECT_EQ(CompileCode("[a-"), 4);
  EXPECT_EQ(CompileCode("[a\\"), 4);
  EXPECT_EQ(CompileCode("[^"), 4);
  EXPECT_EQ(CompileCode("[]"), 6);
  EXPECT_EQ(CompileCode("[^]"), 6);
  EXPECT_EQ(CompileCode("\\0{a}"), 7);
  EXPECT_EQ(CompileCode("{a}\\1"), 7);
  EXPECT_EQ(CompileCode("{a}\\99999999999999999999"), 7);
  EXPECT_EQ(CompileCode("[z-a]"), 8);
  EXPECT_EQ(CompileCode("(a*)*"), 9);
  EXPECT_EQ(CompileCode("(a?)+"), 9);
  EXPECT_EQ(CompileCode("(a+?)*"), 9);
  EXPECT_EQ(CompileCode("{}*"), 9);
  EXPECT_EQ(CompileCode("(a|b*)+"), 9);
  EXPECT_EQ(CompileCode("!a*"), 9);
  EXPECT_EQ(CompileCode("{a}\\0*"), 9);
  EXPECT_EQ(CompileCode("(a*)?"), 0);
  EXPECT_EQ(CompileCode("(a+)+"), 0);
  EXPECT_EQ(CompileCode("{a}\\0?"), 0);

  RegExpProgram program;
  EXPECT_EQ(Compile(program, nullptr), 10);
  EXPECT_EQ(program.lastError, 10);
  // A program whose compile failed matches nothing.
  const std::u16string bad = U16("{a");
  EXPECT_EQ(Compile(program, std::u16string_view(bad)), 2);
  RegExpMatch m;
  EXPECT_FALSE(Match(program, m, u"a"));
  const std::u16string good = U16("{a}{b}");
  EXPECT_EQ(Compile(program, std::u16string_view(good)), 0);
  EXPECT_EQ(program.groupCount, 2);
  EXPECT_EQ(program.lastError, 0);
  EXPECT_FALSE(program.caseSensitive);
}

TEST(RegExpMatcher, SearchFromAPositionAndReportWhereItStopped) {
  RegExpProgram program;
  const std::u16string p = U16("{b+}");
  ASSERT_EQ(Compile(program, std::u16string_view(p)), 0);
  RegExpMatch m;
  const std::u16string t = u"abbxbb";
  std::size_t end = 0;
  ASSERT_TRUE(Match(program, m, t, &end, 0));
  EXPECT_EQ(end, 3u);
  EXPECT_EQ(m.matchStart, 1);
  ASSERT_TRUE(Match(program, m, t, &end, 3));
  EXPECT_EQ(m.matchStart, 4);
  EXPECT_EQ(end, 6u);
  EXPECT_FALSE(Match(program, m, t, &end, 6));
  EXPECT_EQ(end, 6u);
  EXPECT_FALSE(Match(program, m, t, &end, 99));

  // `^` anchors where the search starts.
  const std::u16string anchored = U16("^{b}");
  ASSERT_EQ(Compile(program, std::u16string_view(anchored)), 0);
  EXPECT_FALSE(Match(program, m, t, &end, 0));
  EXPECT_TRUE(Match(program, m, t, &end, 1));
}

TEST(RegExpMatcher, TextEndsAtItsFirstNul) {
  const std::u16string t(u"ab\0cd", 5);
  RegExpProgram program;
  RegExpMatch m;
  const std::u16string p1 = U16("cd");
  ASSERT_EQ(Compile(program, std::u16string_view(p1)), 0);
  EXPECT_FALSE(Match(program, m, t));
  const std::u16string p2 = U16("b$");
  ASSERT_EQ(Compile(program, std::u16string_view(p2)), 0);
  ASSERT_TRUE(Match(program, m, t));
  EXPECT_EQ(m.matchEnd, 2);
  const std::u16string p3 = U16("[^x]+");
  ASSERT_EQ(Compile(program, std::u16string_view(p3)), 0);
  ASSERT_TRUE(Match(program, m, t));
  EXPECT_EQ(m.matchEnd, 2);
  const std::u16string p4 = U16("b.*");
  ASSERT_EQ(Compile(program, std::u16string_view(p4)), 0);
  ASSERT_TRUE(Match(program, m, t));
  EXPECT_EQ(m.matchEnd, 2);
  // A pattern is cut at its NUL as well.
  const std::u16string p5(u"a\0zz", 4);
  ASSERT_EQ(Compile(program, std::u16string_view(p5)), 0);
  EXPECT_TRUE(Match(program, m, u"a"));
}

TEST(RegExpMatcher, LongTextsAndDeepRepetitionStayOffTheCallStack) {
  const std::u16string text(2'000'000, u'a');
  RegExpProgram program;
  RegExpMatch m;
  // A group repeated two million times keeps backtrack entries for each.
  const std::u16string p = U16("{(a)}*$");
  ASSERT_EQ(Compile(program, std::u16string_view(p)), 0);
  ASSERT_TRUE(Match(program, m, text));
  EXPECT_EQ(m.matchEnd, 2'000'000);
  // When the stack may not grow that far the call ends as no match.
  m.stackLimit = 1000;
  EXPECT_FALSE(Match(program, m, text));
  EXPECT_TRUE(m.overflowed);
}

TEST(RegExpMatcher, StopRequestEndsARunawayMatch) {
  // Exponential backtracking: hopeless without the stop request.
  const std::u16string p = U16("((a|(aa))+)+b");
  RegExpProgram program;
  ASSERT_EQ(Compile(program, std::u16string_view(p)), 0);
  const std::u16string text = std::u16string(64, u'a') + u"cb";
  RegExpMatch m;
  StopSignal stop;
  m.stop = &stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request();
  });
  EXPECT_FALSE(Match(program, m, text));
  stopper.join();
  EXPECT_TRUE(m.stopped);
  // A stop that was already requested ends the call at once.
  EXPECT_FALSE(Match(program, m, text));
}

}  // namespace
}  // namespace velmar::testing

// The dialect and the matcher: what each construct matches, the priority
// between choices, group contents, compile result codes and hostile input.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/stop_signal.h"
#include "regex_test_util.h"

namespace velmar::testing {
namespace {

struct Case {
  const char* pattern;
  const char* text;
  const char* match;  // the first match's text, or "<none>"
};

TEST(RegExpDialect, WhatEachConstructMatches) {
  // clang-format off
  const Case cases[] = {
      // `|` binds single elements; the left alternative wins.
      {"ab|cd", "abd", "abd"}, {"ab|cd", "acd", "acd"}, {"ab|cd", "ab", "<none>"},
      {"(ab)|(cd)", "xxcd", "cd"}, {"{a|(ab)}", "ab", "a"}, {"xa|", "xb", "x"},
      // Greedy longest first, lazy shortest first, resuming where they left off.
      {"a.*b", "a1b2b", "a1b2b"}, {"a.*?b", "a1b2b", "a1b"}, {"a+?", "baaa", "a"},
      {"ba??", "baa", "b"}, {"ba??a", "baa", "ba"}, {"x.*?ab", "xaab", "xaab"},
      {"x??xy", "xxy", "xxy"}, {"(ab)+?a", "ababa", "aba"}, {"(.*?.?)?[^ab]", "cbBacB", "cbBac"},
      {"a.b", "a\nb", "a\nb"}, {"x*", "", ""}, {"x*", "ab", ""},
      // Quantifier characters without an atom stand for themselves.
      {"*a", "x*a", "*a"}, {"a**", "aa*", "aa*"}, {"a**", "aa", "<none>"}, {"|a", "|a", "|a"},
      // Case of A to Z only.
      {"ABC", "aBc", "aBc"}, {"[A-C]+", "xbCa", "bCa"}, {"\xc3\xa9", "\xc3\x89", "<none>"},
      // Anchors: `^` first, `$` last; elsewhere ordinary characters.
      {"^b", "ab", "<none>"}, {"a^", "a^", "a^"}, {"a$", "ba", "a"}, {"a$", "ab", "<none>"},
      {"a$", "a\n", "<none>"}, {"a$b", "a$b", "a$b"}, {"\\$", "a$", "$"},
      // Abbreviations, case-insensitive; other escapes are the character.
      {"\\d+", "x123y", "123"}, {"\\z", "x123y", "123"}, {"\\D", "x7", "7"},
      {"\\w", "12abC3", "abC"}, {"\\a+", "-a1B-", "a1B"}, {"\\c+", "1aB2", "aB"},
      {"\\h+", "xx0fA9g", "0fA9"}, {"a\\b+b", "a \t b", "a \t b"},
      {"\\q", "say \"x y\" now", "\"x y\""}, {"\\q", "say 'x y' now", "<none>"},
      {"a\\nb", "a\r\nb", "a\r\nb"}, {"a\\nb", "a\rb", "a\rb"}, {"a\\n+b", "a\n\r\nb", "a\n\r\nb"},
      {"\\.\\[\\{\\\\", "x.[{\\", ".[{\\"}, {"\\t\\r", "tr", "tr"},
      // Classes.
      {"[a\\-z]", "b-", "-"}, {"[\\t]", "a\tb", "\t"}, {"[\\]]", "a]", "]"}, {"[\\^a]", "^", "^"},
      {"[^^]", "^x", "x"}, {"[^<]*<", "abc<", "abc<"}, {"a[^x]", "a", "<none>"},
      {"[\xe4\xb8\x80-\xe9\xbe\xa5]+", "x\xe4\xb8\xad\xe6\x96\x87y", "\xe4\xb8\xad\xe6\x96\x87"},
      // Negation consumes nothing; `!` with nothing after it is itself.
      {"!a.", "ab", "b"}, {"x!(ab).", "xabxac", "xa"}, {"hi!", "oh hi!", "hi!"},
      // Back-references, case-insensitive; open or unused groups compare empty.
      {"{a}\\0", "aa", "aa"}, {"{ab}\\0", "abAB", "abAB"}, {"{a+}-\\0", "aa-a", "a-a"},
      {"{a\\0}", "a", "a"}, {"{x}?a\\0b", "ab", "ab"},
      // An unmatched closer or a lone `\` ends the pattern.
      {"a)b", "xa", "a"}, {"a]b", "xa", "a"}, {"a}b", "xa", "a"}, {"ab\\", "ab", "ab"},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(Matched(c.pattern, c.text), c.match) << c.pattern;
}

TEST(RegExpDialect, GroupsAndPositions) {
  auto f = Find("{a}{b}", "xab");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->start, 1);
  EXPECT_EQ(f->groups, (std::vector<std::string>{"a", "b"}));
  // After a repetition a group holds its last repetition.
  EXPECT_EQ(Find("{a|b}*", "abba")->groups[0], "a");
  EXPECT_EQ(Find("{x}?{a{b}}", "ab")->groups, (std::vector<std::string>{"", "ab", "b"}));
  EXPECT_EQ(Find("{a*}ab", "aaab")->groups[0], "aa");
  EXPECT_EQ(Find("{ABC}", "xAbC")->groups[0], "AbC");
  EXPECT_EQ(Find("{\\w}={\\z}", "ab=12")->groups, (std::vector<std::string>{"ab", "12"}));
  // Groups inside a negation never keep what they saw there.
  f = Find("!{a}.", "ab");
  EXPECT_EQ(f->start, 1);
  EXPECT_EQ(f->groups[0], "");
  EXPECT_EQ(Find("b", "ab")->start, 1);
  EXPECT_EQ(Find("$", "ab")->start, 2);

  RegExpProgram program;
  RegExpMatch m;
  const std::u16string p = U16("{b+}");
  ASSERT_EQ(Compile(program, std::u16string_view(p)), RegExpError::kNone);
  std::size_t end = 0;
  ASSERT_TRUE(Match(program, m, u"abbxbb", &end, 3));
  EXPECT_EQ(m.matchStart, 4);
  EXPECT_EQ(end, 6u);
  EXPECT_FALSE(Match(program, m, u"abbxbb", &end, 6));
  EXPECT_EQ(end, 6u);
  EXPECT_FALSE(Match(program, m, u"abbxbb", &end, 99));
  // `^` anchors where the search starts; the text ends at its first NUL.
  const std::u16string anchored = U16("^{b}");
  ASSERT_EQ(Compile(program, std::u16string_view(anchored)), RegExpError::kNone);
  EXPECT_FALSE(Match(program, m, u"abb", &end, 0));
  EXPECT_TRUE(Match(program, m, u"abb", &end, 1));
  for (const char* pattern : {"b$", "[^x]+", "b.*"}) {
    const std::u16string pat = U16(pattern);
    ASSERT_EQ(Compile(program, std::u16string_view(pat)), RegExpError::kNone);
    ASSERT_TRUE(Match(program, m, std::u16string(u"ab\0cd", 5))) << pattern;
    EXPECT_EQ(m.matchEnd, 2) << pattern;
  }
  EXPECT_EQ(Compile(program, std::u16string_view(u"a\0zz", 4)), RegExpError::kNone);
  EXPECT_TRUE(Match(program, m, u"a"));
}

TEST(RegExpCompile, ResultCodes) {
  // clang-format off
  const std::pair<const char*, int> codes[] = {
      {"{a", 2}, {"{a)", 2}, {"{a\\", 2}, {"(a", 3}, {"(a}", 3}, {"[ab", 4}, {"[a-]", 4},
      {"[a-", 4}, {"[a\\", 4}, {"[^", 4}, {"[]", 6}, {"[^]", 6}, {"\\0{a}", 7}, {"{a}\\1", 7},
      {"{a}\\99999999999999999999", 7}, {"[z-a]", 8}, {"(a*)*", 9}, {"(a?)+", 9},
      {"(a+?)*", 9}, {"{}*", 9}, {"(a|b*)+", 9}, {"!a*", 9}, {"{a}\\0*", 9}, {"(a*)?", 0},
      {"(a+)+", 0}, {"{a}\\0?", 0}, {"a)b", 0}, {"", 0}};
  // clang-format on
  for (const auto& [pattern, code] : codes) EXPECT_EQ(CompileCode(pattern), code) << pattern;

  RegExpProgram program;
  EXPECT_EQ(Compile(program, nullptr), RegExpError::kNoPattern);
  EXPECT_EQ(program.lastError, RegExpError::kNoPattern);
  EXPECT_EQ(Compile(program, std::u16string_view(u"{a")), RegExpError::kMissingBrace);
  RegExpMatch m;
  EXPECT_FALSE(Match(program, m, u"a"));  // a failed compile matches nothing
  EXPECT_EQ(Compile(program, std::u16string_view(u"{a}{b}")), RegExpError::kNone);
  EXPECT_EQ(program.groupCount, 2);
  EXPECT_FALSE(program.caseSensitive);
}

TEST(RegExpCompile, RefusalsSayWhereAndWhy) {
  // The offset is where a person should look: the opener of what was never
  // closed, the quantifier with nothing to repeat, the `\` of a reference.
  // clang-format off
  const struct { const char16_t* pattern; std::size_t offset; const char* reason; } cases[] = {
      {u"ab{cd", 2, "unbalanced brace"},   {u"x(a{b}", 1, "unbalanced parenthesis"},
      {u"a[bc", 1, "unbalanced bracket"},  {u"ab[]", 2, "empty character class"},
      {u"ab[cz-a]", 4, "range out of order"}, {u"ab(c*)*", 6, "nothing to repeat"},
      {u"(a*)*?", 4, "nothing to repeat"},  {u"x{a}\\2", 4, "back-reference to a group not opened before it"},
      {u"{a}中文[", 5, "unbalanced bracket"}};
  // clang-format on
  for (const auto& c : cases) {
    RegExpProgram program;
    const RegExpError error = Compile(program, std::u16string_view(c.pattern));
    const std::string shown(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern));
    EXPECT_EQ(RegExpErrorReason(error), std::string(c.reason)) << shown;
    EXPECT_EQ(program.errorOffset, c.offset) << shown;
    RegExpMatch m;
    EXPECT_FALSE(Match(program, m, u"abc"));  // still matches nothing
  }
  EXPECT_STREQ(RegExpErrorReason(RegExpError::kNone), "");
  RegExpProgram program;
  EXPECT_EQ(Compile(program, std::u16string(1 << 20, u'(')), RegExpError::kOutOfMemory);
  EXPECT_STREQ(RegExpErrorReason(program.lastError), "too large");
}

TEST(RegExpCompile, HostilePatterns) {
  const std::size_t big = 1 << 20;
  // Deep nesting is refused as out of memory; moderate nesting is fine.
  EXPECT_EQ(CompileCode(std::string(big, '(') + "a" + std::string(big, ')')), 1);
  EXPECT_EQ(CompileCode(std::string(big, '{')), 1);
  EXPECT_EQ(CompileCode(std::string(big, '!') + "a"), 1);
  // Nested `+` loops back instead of copying its operand: its code grows
  // with the pattern, and it still matches as A followed by A* would.
  for (const char* lazy : {"", "?"}) {
    std::string nested = "a";
    std::string grouped = "a";
    // Only the outermost may be lazy: a lazy repetition counts as one that
    // may match nothing, which cannot be repeated.
    for (int i = 0; i < 40; ++i) {
      nested = "(" + nested + ")+" + (i == 39 ? lazy : "");
      grouped = "{" + grouped + "b?}+" + (i == 39 ? lazy : "");
    }
    RegExpProgram program;
    ASSERT_EQ(Compile(program, std::u16string_view(U16(nested))), RegExpError::kNone);
    EXPECT_LT(program.instructions.size(), 40u * 24);
    EXPECT_EQ(Matched(nested, "xaaay"), "aaa");  // the inner loops take all
    EXPECT_EQ(Matched("{ab}+" + std::string(lazy), "xababy"), *lazy ? "ab" : "abab");
    EXPECT_EQ(Matched(grouped + "c", "abaabc"), "abaabc");
    EXPECT_EQ(Matched(grouped + "c", "bbc"), "<none>");
  }
  EXPECT_EQ(Matched(std::string(500, '(') + "a+" + std::string(500, ')'), "xaay"), "aa");
  // Megabyte patterns.
  const std::string literal(big, 'a');
  EXPECT_EQ(Matched(literal, literal), literal);
  EXPECT_EQ(Matched(literal, literal.substr(1)), "<none>");
  std::string chain;
  while (chain.size() < big) chain += "a|";
  EXPECT_EQ(Matched(chain + "b", "xb"), "b");
  std::string braces;
  while (braces.size() < big) braces += "{[a-c]}";
  EXPECT_EQ(Find(braces, std::string(big / 7 + 1, 'b'))->groups.size(), big / 7 + 1);
  EXPECT_EQ(CompileCode(std::string(big, '[')), 4);
  EXPECT_EQ(CompileCode(std::string(big, '\\')), 0);
}

TEST(RegExpMatcher, OddUnitsStayInsideTheText) {
  RegExpProgram program;
  RegExpMatch m;
  const char16_t high = 0xD800;
  const std::u16string lone = {u'x', high, u'y'};
  ASSERT_EQ(Compile(program, std::u16string_view(u"{.}y")), RegExpError::kNone);
  ASSERT_TRUE(Match(program, m, lone));
  EXPECT_EQ(m.Group(lone, 0), std::u16string(1, high));
  const std::u16string low = {u'[', 0xDC00, u'-', 0xDFFF, u']'};
  ASSERT_EQ(Compile(program, std::u16string_view(low)), RegExpError::kNone);
  EXPECT_TRUE(Match(program, m, std::u16string{u'a', 0xDC05}));
  EXPECT_EQ(m.matchStart, 1);
  EXPECT_EQ(Matched("[^\xe4\xb8\x80]+", "\xe4\xb8\x80\xe4\xb8\x81\xe4\xb8\x80"), "\xe4\xb8\x81");
  EXPECT_EQ(Matched("\xe4\xb8\xad+x", "a\xe4\xb8\xad\xe4\xb8\xadx"), "\xe4\xb8\xad\xe4\xb8\xadx");
  // A back-reference never reads past the end.
  ASSERT_EQ(Compile(program, std::u16string_view(u"{ab}.*\\0")), RegExpError::kNone);
  EXPECT_FALSE(Match(program, m, u"abxa"));
  EXPECT_FALSE(Match(program, m, std::u16string(u"abxa\0b", 6)));
}

TEST(RegExpMatcher, DeepRepetitionUsesTheHeapAndCanBeStopped) {
  const std::u16string text(2'000'000, u'a');
  RegExpProgram program;
  RegExpMatch m;
  ASSERT_EQ(Compile(program, std::u16string_view(u"{(a)}*$")), RegExpError::kNone);
  ASSERT_TRUE(Match(program, m, text));
  EXPECT_EQ(m.matchEnd, 2'000'000);
  // A stack that may not grow far enough ends the call as no match.
  m.stackLimit = 1000;
  EXPECT_FALSE(Match(program, m, text));
  EXPECT_TRUE(m.overflowed);

  // Exponential backtracking, hopeless without the stop request.
  ASSERT_EQ(Compile(program, std::u16string_view(u"((a|(aa))+)+b")), RegExpError::kNone);
  const std::u16string hopeless = std::u16string(64, u'a') + u"cb";
  StopSignal stop;
  m.stop = &stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request();
  });
  EXPECT_FALSE(Match(program, m, hopeless));
  stopper.join();
  EXPECT_TRUE(m.stopped);
}

}  // namespace
}  // namespace velmar::testing

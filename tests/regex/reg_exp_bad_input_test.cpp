// Hostile patterns and texts: every one gets a result code or a plain
// answer, never a crash, a read outside the text or a hang.

#include <gtest/gtest.h>

#include <random>

#include "regex/named_regex.h"
#include "regex_test_util.h"

namespace velmar::testing {
namespace {

int CodeOf(const std::u16string& pattern) {
  RegExpProgram program;
  return Compile(program, std::u16string_view(pattern));
}

TEST(RegExpBadInput, DeepNestingIsRefusedAsOutOfMemory) {
  const std::size_t depth = 200'000;
  EXPECT_EQ(CodeOf(std::u16string(depth, u'(') + u"a" + std::u16string(depth, u')')), 1);
  EXPECT_EQ(CodeOf(std::u16string(depth, u'{')), 1);
  EXPECT_EQ(CodeOf(std::u16string(depth, u'!') + u"a"), 1);
  // Moderate nesting is fine.
  EXPECT_EQ(CodeOf(std::u16string(500, u'(') + u"a" + std::u16string(500, u')')), 0);
  // Each `+` copies its operand: nested ones would grow without end.
  std::u16string doubling = u"a";
  for (int i = 0; i < 40; ++i) doubling = u"(" + doubling + u")+";
  EXPECT_EQ(CodeOf(doubling), 1);
  std::u16string fine = u"a";
  for (int i = 0; i < 8; ++i) fine = u"(" + fine + u")+";
  RegExpProgram program;
  ASSERT_EQ(Compile(program, std::u16string_view(fine)), 0);
  RegExpMatch m;
  EXPECT_TRUE(Match(program, m, u"xaaay"));
  EXPECT_EQ(m.matchEnd, 4);
}

TEST(RegExpBadInput, MegabytePatterns) {
  const std::size_t size = 1 << 20;
  const std::u16string literal(size, u'a');
  RegExpProgram program;
  ASSERT_EQ(Compile(program, std::u16string_view(literal)), 0);
  RegExpMatch m;
  EXPECT_TRUE(Match(program, m, literal));
  EXPECT_FALSE(Match(program, m, std::u16string_view(literal).substr(1)));

  std::u16string chain;
  for (std::size_t i = 0; i < size / 2; ++i) chain += u"a|";
  chain += u"b";
  ASSERT_EQ(Compile(program, std::u16string_view(chain)), 0);
  EXPECT_TRUE(Match(program, m, u"xb"));
  EXPECT_EQ(m.matchStart, 1);

  std::u16string classes;
  while (classes.size() < size) classes += u"[a-c]";
  EXPECT_EQ(Compile(program, std::u16string_view(classes)), 0);
  std::u16string braces;
  while (braces.size() < size) braces += u"{a}";
  ASSERT_EQ(Compile(program, std::u16string_view(braces)), 0);
  EXPECT_EQ(program.groupCount, static_cast<int>(size / 3 + 1));
  EXPECT_EQ(CodeOf(std::u16string(size, u'[')), 4);
  EXPECT_EQ(CodeOf(std::u16string(size, u'\\')), 0);
}

TEST(RegExpBadInput, OddUnitsInPatternsAndTexts) {
  RegExpProgram program;
  RegExpMatch m;
  // Unpaired surrogates are units like any other.
  const std::u16string lone = {u'x', static_cast<char16_t>(0xD800), u'y'};
  const std::u16string p = u"{.}y";
  ASSERT_EQ(Compile(program, std::u16string_view(p)), 0);
  ASSERT_TRUE(Match(program, m, lone));
  EXPECT_EQ(m.Group(lone, 0), std::u16string(1, static_cast<char16_t>(0xD800)));
  const std::u16string cls = {u'[', static_cast<char16_t>(0xDC00), u'-', static_cast<char16_t>(0xDFFF),
                              u']'};
  ASSERT_EQ(Compile(program, std::u16string_view(cls)), 0);
  const std::u16string low = {u'a', static_cast<char16_t>(0xDC05)};
  EXPECT_TRUE(Match(program, m, low));
  EXPECT_EQ(m.matchStart, 1);
  // Units of 256 and above in negated classes and as first units.
  const std::u16string neg = u"[^\u4e00]+";
  ASSERT_EQ(Compile(program, std::u16string_view(neg)), 0);
  ASSERT_TRUE(Match(program, m, u"\u4e00\u4e01\u4e02\u4e00"));
  EXPECT_EQ(m.matchStart, 1);
  EXPECT_EQ(m.matchEnd, 3);
  const std::u16string high = u"\u4e2d+x";
  ASSERT_EQ(Compile(program, std::u16string_view(high)), 0);
  ASSERT_TRUE(Match(program, m, u"a\u4e2d\u4e2dx"));
  EXPECT_EQ(m.matchStart, 1);
  // A back-reference never reads past the end of the text.
  const std::u16string br = u"{ab}.*\\0";
  ASSERT_EQ(Compile(program, std::u16string_view(br)), 0);
  EXPECT_FALSE(Match(program, m, u"abxa"));
  EXPECT_FALSE(Match(program, m, std::u16string(u"abxa\0b", 6)));

  // Invalid multibyte input through a named expression.
  const CodePage& utf8 = CodePage::Get(CodePage::kUtf8);
  const CodePage& gbk = CodePage::Get(CodePage::kGbk);
  // They read exactly as the code page converts them, whatever it makes of
  // each broken sequence.
  auto r = CreateNamedRegex(utf8, "{[^x]+}");
  const std::string brokenUtf8 = "\xc0\x80\xed\xa0\x80\xf8";
  EXPECT_EQ(MatchAll(*r, utf8, brokenUtf8 + "x\xe4"), 2);
  EXPECT_EQ(r->results[0], utf8.FromUtf16(utf8.ToUtf16(brokenUtf8)));
  EXPECT_EQ(r->results[1], "?");
  r = CreateNamedRegex(gbk, "{[^x]+}");
  // The first x is the trail byte of a double-byte character.
  EXPECT_EQ(MatchAll(*r, gbk, "\x81x\xff\x80x\x81"), 2);
  EXPECT_EQ(r->results[0], gbk.FromUtf16(gbk.ToUtf16("\x81x\xff\x80")));
  EXPECT_EQ(r->results[1], "?");
  // A pattern with invalid bytes compiles with '?' in their place.
  r = CreateNamedRegex(utf8, "{\xff+}");
  EXPECT_TRUE(r->compiled);
  EXPECT_EQ(MatchAll(*r, utf8, "a??b"), 1);
  EXPECT_EQ(r->results[0], "??");
}

// Random patterns made of the dialect's special characters: each one
// compiles to a code from the table and, when it compiles, matches random
// texts without trouble.
TEST(RegExpBadInput, RandomPatternsCompileToKnownCodes) {
  std::mt19937 rng(4242);
  const std::u16string alphabet = u"{}()[]\\|*+?!^$-.abAdwqz0";
  const std::u16string textAlphabet = u"aAbz0\"'\r\n";
  int compiled = 0;
  int codesSeen[11] = {};
  for (int round = 0; round < 20000; ++round) {
    std::u16string p;
    const int len = std::uniform_int_distribution<int>(0, 14)(rng);
    for (int i = 0; i < len; ++i) {
      p.push_back(alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(rng)]);
    }
    RegExpProgram program;
    const int code = Compile(program, std::u16string_view(p));
    ASSERT_GE(code, 0);
    ASSERT_LE(code, 9) << U8(p);
    ++codesSeen[code];
    EXPECT_EQ(program.lastError, code);
    if (code != 0) continue;
    ++compiled;
    RegExpMatch m;
    for (int t = 0; t < 3; ++t) {
      std::u16string text;
      const int tl = std::uniform_int_distribution<int>(0, 10)(rng);
      for (int i = 0; i < tl; ++i) {
        text.push_back(
            textAlphabet[std::uniform_int_distribution<std::size_t>(0, textAlphabet.size() - 1)(rng)]);
      }
      std::size_t end = 0;
      if (Match(program, m, text, &end)) {
        ASSERT_LE(m.matchStart, m.matchEnd);
        ASSERT_LE(static_cast<std::size_t>(m.matchEnd), text.size());
        for (int g = 0; g < program.groupCount; ++g) {
          const std::u16string_view group = m.Group(text, g);
          ASSERT_LE(group.size(), text.size());
        }
      } else {
        ASSERT_LE(end, text.size());
      }
    }
  }
  EXPECT_GT(compiled, 2000);
  for (int code : {0, 2, 3, 4, 6, 7, 9}) EXPECT_GT(codesSeen[code], 0) << "code " << code;
}

}  // namespace
}  // namespace velmar::testing

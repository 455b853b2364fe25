#include "values/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

using namespace std::string_literals;
constexpr auto npos = std::string_view::npos;

const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);
const CodePage& kGbk = CodePage::Get(CodePage::kGbk);

// GBK characters whose trail byte is an ASCII byte that matters to scripts.
const std::string kTrailBackslash = "\x95\x5C";  // U+661E
const std::string kTrailAt = "\x81\x40";         // U+4E02
const std::string kTrailBracket = "\x81\x5B";    // U+4E55
const std::string kTrailUpperA = "\x81\x41";     // U+4E04
const std::string kTrailLowerA = "\x81\x61";     // U+4E64
const std::string kZhong = "\xD6\xD0";           // U+4E2D
const std::string kZhongUtf8 = "\xE4\xB8\xAD";

TEST(CodePage, CharacterLengthNeverReadsPastTheEnd) {
  EXPECT_EQ(kUtf8.CharLength("\xC3\xA4", 0), 2u);
  EXPECT_EQ(kUtf8.CharLength(kZhongUtf8, 0), 3u);
  EXPECT_EQ(kUtf8.CharLength("\xF0\x9F\x98\x80", 0), 4u);
  EXPECT_EQ(kUtf8.CharLength("\xE4\xB8", 0), 1u);          // cut short
  EXPECT_EQ(kUtf8.CharLength("\xE4x\xAD", 0), 1u);         // broken sequence
  EXPECT_EQ(kUtf8.CharLength("\xB8", 0), 1u);              // stray continuation
  EXPECT_EQ(kUtf8.CharLength("\xE0\x80\x80", 0), 1u);      // overlong
  EXPECT_EQ(kUtf8.CharLength("\xED\xA0\x80", 0), 1u);      // surrogate
  EXPECT_EQ(kUtf8.CharLength("\xF4\x90\x80\x80", 0), 1u);  // past U+10FFFF
  EXPECT_EQ(kUtf8.CharLength("a", 1), 0u);

  EXPECT_EQ(kGbk.CharLength(kTrailBackslash, 0), 2u);
  EXPECT_EQ(kGbk.CharLength("a\x81", 1), 1u);   // lead byte at the end
  EXPECT_EQ(kGbk.CharLength("\x81 x", 0), 1u);  // no valid trail byte
  EXPECT_EQ(kGbk.CharLength("\x80x", 0), 1u);   // single-byte euro sign
}

TEST(CodePage, CutsEndOnCharacterBoundaries) {
  const std::string utf8 = "ab" + kZhongUtf8 + kZhongUtf8;  // 2 + 3 + 3 bytes
  EXPECT_EQ(kUtf8.CutAtCharacter(utf8, 100), utf8);
  EXPECT_EQ(kUtf8.CutAtCharacter(utf8, 8), utf8);
  EXPECT_EQ(kUtf8.CutAtCharacter(utf8, 7), "ab" + kZhongUtf8);
  EXPECT_EQ(kUtf8.CutAtCharacter(utf8, 3), "ab");
  EXPECT_EQ(kUtf8.CutAtCharacter(utf8, 0), "");
  // A GBK trail byte that looks like `\` is never left alone at the end.
  const std::string gbk = "x" + kTrailBackslash + "y";
  EXPECT_EQ(kGbk.CutAtCharacter(gbk, 2), "x");
  EXPECT_EQ(kGbk.CutAtCharacter(gbk, 3), "x" + kTrailBackslash);
  // Broken bytes count as characters of one byte.
  EXPECT_EQ(kUtf8.CutAtCharacter("\xE4\xB8x", 2), "\xE4\xB8");
}

TEST(CodePage, GbkSearchesNeverMatchTrailBytes) {
  EXPECT_EQ(kGbk.FindByte(kTrailBackslash + "\\", '\\'), 2u);
  EXPECT_EQ(kGbk.FindByte(kTrailAt + "@", '@'), 2u);
  EXPECT_EQ(kGbk.FindByte(kTrailBracket + "[", '['), 2u);
  EXPECT_EQ(kGbk.Find(kTrailUpperA, "A"), npos);
  EXPECT_EQ(kGbk.Find("x" + kTrailAt + "@y", "@y"), 3u);
  EXPECT_EQ(kGbk.Find("ab" + kZhong + "cd", kZhong), 2u);
  EXPECT_EQ(kGbk.FindByte("a\x81", '\x81'), 1u);        // a cut character is one byte
  EXPECT_EQ(kGbk.Find("x" + kTrailAt, "x\x81"), npos);  // no half characters
  EXPECT_EQ(kGbk.FindLastByte("\\" + kTrailBackslash, '\\'), 0u);
  EXPECT_EQ(kGbk.FindAnyByte(kTrailAt + kTrailBracket + "x[", "@["), 5u);
  EXPECT_EQ(kGbk.Find("abc", "abcd"), npos);
}

TEST(CodePage, Utf8SearchesRespectCharacterBounds) {
  // A continuation byte inside a character is no match, a stray one is.
  EXPECT_EQ(kUtf8.Find(kZhongUtf8, "\xB8"), npos);
  EXPECT_EQ(kUtf8.Find(kZhongUtf8 + "\xB8", "\xB8"), 3u);
  EXPECT_EQ(kUtf8.Find("\xE4\xB8x", "\xB8"), 1u);  // its lead started no character
  EXPECT_EQ(kUtf8.Find("\xF0\x9F\x98\x80\x80", "\x80"), 4u);
  EXPECT_EQ(kUtf8.Find("a" + kZhongUtf8, "a\xE4"), npos);  // ends inside a character
  EXPECT_EQ(kUtf8.Find("a" + kZhongUtf8 + "a\xE4z", "a\xE4"), 4u);
  EXPECT_EQ(kUtf8.Find("a" + kZhongUtf8 + "b" + kZhongUtf8, kZhongUtf8, 2), 5u);
}

TEST(CodePage, TrimAndCaseChangeLeaveMultibyteCharactersAlone) {
  EXPECT_EQ(CodePage::Trim(" \t\r\n\v\fa b \f"), "a b");
  EXPECT_EQ(CodePage::TrimRight(kTrailAt + " \t"), kTrailAt);
  EXPECT_EQ(kGbk.Lower(kTrailUpperA + "XY"), kTrailUpperA + "xy");
  EXPECT_EQ(kGbk.Upper(kTrailLowerA + "ab"), kTrailLowerA + "AB");
  EXPECT_EQ(kGbk.Lower("A\x81"), "a\x81");  // lead byte at the end
  EXPECT_EQ(kUtf8.Lower("\xC3\x84" + kZhongUtf8 + "C"), "\xC3\x84" + kZhongUtf8 + "c");
}

TEST(CodePage, Utf16ConversionsReplaceWhatCannotBeShown) {
  EXPECT_EQ(kUtf8.ToUtf16("a" + kZhongUtf8 + "\xF0\x9F\x98\x80"), u"a\u4E2D\U0001F600");
  EXPECT_EQ(kUtf8.FromUtf16(u"a\u4E2D\U0001F600"), "a" + kZhongUtf8 + "\xF0\x9F\x98\x80");
  EXPECT_EQ(kUtf8.ToUtf16("a\xFF-\xE4\xB8"), u"a?-??");
  EXPECT_EQ(kUtf8.ToUtf16("x\0y"s), u"x\0y"s);
  EXPECT_EQ(kUtf8.FromUtf16(u"a\xD800-\xDC00"), "a?-?");

  EXPECT_EQ(kGbk.ToUtf16(kZhong + kTrailBackslash + "\x80"), u"\u4E2D\u661E\u20AC");
  EXPECT_EQ(kGbk.ToUtf16("\x81 x\xFF-\x81"), u"? x?-?");
  EXPECT_EQ(kGbk.FromUtf16(u"\u4E2D\u20AC\u661E"), kZhong + "\x80" + kTrailBackslash);
  EXPECT_EQ(kGbk.FromUtf16(u"a\U0001F600b"), "a?b");  // no GBK character: one '?'
  EXPECT_EQ(kGbk.FromUtf16(u"\xDC00-\xD800"), "?-?");
  EXPECT_EQ(kGbk.FromUtf8(kZhongUtf8), kZhong);
  EXPECT_EQ(kGbk.ToUtf8(kZhong), kZhongUtf8);

  // Texts longer than one conversion buffer, with bad characters in between.
  std::string gbk, gbkBack;
  std::u16string wide, wideIn;
  for (int i = 1; i <= 5000; ++i) {
    const bool bad = i % 1000 == 0;
    gbk += kZhong + (bad ? "\xFF" : "a");
    gbkBack += kZhong + (bad ? "?" : "a");
    wide += bad ? u"\u4E2D?" : u"\u4E2Da";
    wideIn += bad ? u"\u4E2D\U0001F600" : u"\u4E2Da";
  }
  EXPECT_EQ(kGbk.ToUtf16(gbk), wide);
  EXPECT_EQ(kGbk.FromUtf16(wideIn), gbkBack);

  EXPECT_TRUE(CodePage::Get(936).IsGbk());
  EXPECT_EQ(CodePage::Get(1252).id(), CodePage::kUtf8);
}

}  // namespace
}  // namespace velmar

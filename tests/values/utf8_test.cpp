#include "values/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "values/code_page.h"

namespace velmar {
namespace {

// The definition a well-formed sequence has to meet: it decodes to a code
// point in range, no surrogate, whose own shortest encoding is these bytes.
bool WellFormedByDefinition(const std::string& bytes) {
  const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t len = u[0] < 0x80 ? 1 : u[0] >= 0xF0 ? 4 : u[0] >= 0xE0 ? 3 : u[0] >= 0xC0 ? 2 : 0;
  if (len == 0 || len != bytes.size() || u[0] > 0xF7) return false;
  for (std::size_t k = 1; k < len; ++k) {
    if ((u[k] & 0xC0) != 0x80) return false;
  }
  const char32_t cp = utf8::Decode(u, len);
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  std::string again;
  utf8::Append(cp, again);
  return again == bytes;
}

TEST(Utf8, WellFormednessFollowsItsDefinitionForEverySequenceShape) {
  int checked = 0;
  const auto check = [&](const std::string& s) {
    const bool expected = WellFormedByDefinition(s);
    ASSERT_EQ(utf8::SequenceLength(s, 0) == s.size(), expected) << std::hex << checked;
    ASSERT_EQ(utf8::IsValid(s), expected);
    ++checked;
  };
  for (int a = 0x80; a < 0x100; ++a) {
    for (int b = 0; b < 0x100; ++b) {
      check({static_cast<char>(a), static_cast<char>(b)});
      if (a >= 0xE0) {
        for (int c : {0x00, 0x7F, 0x80, 0xBF, 0xC0}) {
          check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
          if (a >= 0xF0) {
            check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), '\x80'});
          }
        }
      }
    }
  }
  EXPECT_GT(checked, 90000);
  // Cut short by the end of the text: no character, whatever follows later.
  EXPECT_EQ(utf8::SequenceLength("\xE4\xB8", 0), 0u);
  EXPECT_EQ(utf8::SequenceLength(std::string_view("\xF0\x9F\x98\x80", 3), 0), 0u);
  EXPECT_FALSE(utf8::IsValid("ok\xC3"));
}

TEST(Utf8, CesuCarriesEachHalfOfAPairAndReadsPlainUtf8Too) {
  const std::u16string units = u"a\u00E9\u4E2D\U0001F600";
  std::string cesu;
  utf8::AppendCesu8(units, cesu);
  // The supplementary character is two three-byte halves, not four bytes.
  EXPECT_EQ(cesu, "a\xC3\xA9\xE4\xB8\xAD\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(utf8::FromCesu8(cesu.data(), cesu.size()), units);
  const std::string plain = "\xF0\x9F\x98\x80";
  EXPECT_EQ(utf8::FromCesu8(plain.data(), plain.size()), u"\U0001F600");
  // Malformed bytes read as U+FFFD each; a four-byte form past U+10FFFF is
  // one U+FFFD for all four bytes.
  const std::string bad = "\x80x\xF4\x90\x80\x80\xE4\xB8";
  EXPECT_EQ(utf8::FromCesu8(bad.data(), bad.size()), u"\uFFFDx\uFFFD\uFFFD\uFFFD");
}

// The code page and the codec agree: what the code page takes for one
// character is what the codec reads, and an unpaired surrogate from the
// engine becomes '?' only when it reaches the script's text.
TEST(Utf8, CodePageConversionsAgreeWithTheCodec) {
  const CodePage& cp = CodePage::Get(CodePage::kUtf8);
  const std::string text = "x\xC3\xA9\xED\xA0\x80\xF0\x9F\x98\x80\xC0\xAF";
  EXPECT_EQ(cp.ToUtf16(text), u"x\u00E9???\U0001F600??");
  EXPECT_EQ(cp.CharLength(text, 1), 2u);
  EXPECT_EQ(cp.CharLength(text, 3), 1u);  // an encoded surrogate is no character
  EXPECT_EQ(cp.CharLength(text, 6), 4u);
  std::string cesu;
  utf8::AppendCesu8(u"\xD800z", cesu);
  EXPECT_EQ(cp.FromUtf16(utf8::FromCesu8(cesu.data(), cesu.size())), "?z");
}

}  // namespace
}  // namespace velmar

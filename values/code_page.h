#pragma once
// The code page that script texts are written in. Every search, trim and case
// change over script text goes through it, so a trail byte of a double-byte
// character is never taken for an ASCII byte such as `\`, `[` or a letter.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

class CodePage {
 public:
  static constexpr int kUtf8 = 65001;
  static constexpr int kGbk = 936;

  // The shared instance for a code page number; any number other than 936
  // gives UTF-8, the default on this platform.
  static const CodePage& Get(int id);

  int id() const { return id_; }
  bool IsGbk() const { return id_ == kGbk; }

  // Length in bytes of the character starting at pos: 1 for ASCII, for a
  // byte that starts no valid character, and for a sequence cut short by the
  // end of the text; 0 when pos is at or past the end.
  std::size_t CharLength(std::string_view text, std::size_t pos) const;

  // The longest start of `text` of at most `limit` bytes that ends on a
  // character boundary (a cut for display or a length limit never leaves
  // half a character behind).
  std::string_view CutAtCharacter(std::string_view text, std::size_t limit) const;

  // Multibyte-aware searches: a match never starts inside a character.
  // Return std::string_view::npos when nothing is found.
  std::size_t Find(std::string_view text, std::string_view part, std::size_t from = 0) const;
  std::size_t FindByte(std::string_view text, char byte, std::size_t from = 0) const;
  std::size_t FindLastByte(std::string_view text, char byte) const;
  // First byte at or after `from` that is one of `bytes` (all ASCII).
  std::size_t FindAnyByte(std::string_view text, std::string_view bytes,
                          std::size_t from = 0) const;

  // White space is space, tab, CR, LF, vertical tab and form feed; none of
  // them can be a trail byte in either code page.
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  }
  static std::string_view TrimLeft(std::string_view text);
  static std::string_view TrimRight(std::string_view text);
  static std::string_view Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

  // ASCII-only case change; every byte of a multibyte character stays.
  void ToLowerAscii(std::string& text) const;
  void ToUpperAscii(std::string& text) const;
  std::string Lower(std::string_view text) const;
  std::string Upper(std::string_view text) const;

  // Conversions to and from UTF-16. A byte sequence that is no character in
  // this code page, and a UTF-16 unit this code page cannot show (including an
  // unpaired surrogate), each become '?'.
  std::u16string ToUtf16(std::string_view text) const;
  void ToUtf16(std::string_view text, std::u16string& out) const;
  std::string FromUtf16(std::u16string_view text) const;
  void FromUtf16(std::u16string_view text, std::string& out) const;

  // Converts UTF-8 text (the source encoding of the system's own messages)
  // into this code page.
  std::string FromUtf8(std::string_view utf8) const;
  std::string ToUtf8(std::string_view text) const;

 private:
  explicit CodePage(int id) : id_(id) {}
  int id_;
};

}  // namespace velmar

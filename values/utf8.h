#pragma once
// The one UTF-8 codec of the system: what a well-formed character is (no
// overlong forms, no surrogates, nothing past U+10FFFF), decoding and
// encoding, and the looser reading of the JavaScript engine's CESU-8. The
// code pages, the check of HTTP bodies, the JavaScript bridge and the regex
// text cache all go through it, so they can never disagree about a byte.
// Inline: the text cache and the code page call it once per character of
// whole pages.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar::utf8 {

// Length of the character starting at `pos`: 1 for ASCII, 2 to 4 for a
// well-formed multibyte character, 0 when no well-formed character starts
// there (a stray byte, a bad continuation, a sequence cut short by the end).
// `pos` must lie inside `t`.
inline std::size_t SequenceLength(std::string_view t, std::size_t pos) {
  const auto* u = reinterpret_cast<const unsigned char*>(t.data()) + pos;
  const std::size_t left = t.size() - pos;
  const unsigned char b0 = u[0];
  if (b0 < 0x80) return 1;
  std::size_t need;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
  } else {
    return 0;
  }
  if (left < need) return 0;
  for (std::size_t k = 1; k < need; ++k) {
    if ((u[k] & 0xC0) != 0x80) return 0;
  }
  const unsigned char b1 = u[1];
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  if (b0 == 0xE0 && b1 < 0xA0) return 0;
  if (b0 == 0xED && b1 > 0x9F) return 0;
  if (b0 == 0xF0 && b1 < 0x90) return 0;
  if (b0 == 0xF4 && b1 > 0x8F) return 0;
  return need;
}

// The code point of a sequence of `len` bytes whose lead and continuation
// bytes have been checked (by SequenceLength or ReadLoose).
inline char32_t Decode(const unsigned char* u, std::size_t len) {
  switch (len) {
    case 2:
      return ((u[0] & 0x1Fu) << 6) | (u[1] & 0x3Fu);
    case 3:
      return ((u[0] & 0x0Fu) << 12) | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
    case 4:
      return ((u[0] & 0x07u) << 18) | ((u[1] & 0x3Fu) << 12) | ((u[2] & 0x3Fu) << 6) |
             (u[3] & 0x3Fu);
    default:
      return u[0];
  }
}

inline bool IsValid(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// Appends the encoding of `cp`. A surrogate code point is written as its
// own three bytes, which is what CESU-8 does with each half of a pair.
inline void Append(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Appends `cp` as one UTF-16 unit or a surrogate pair.
inline void AppendUtf16(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// CESU-8, the JavaScript engine's text: every UTF-16 unit on its own, so a
// surrogate pair becomes two three-byte sequences.
inline void AppendCesu8(std::u16string_view units, std::string& out) {
  out.reserve(out.size() + units.size() + units.size() / 2);
  for (const char16_t unit : units) Append(unit, out);
}

// The loose reading the engine's texts need: any lead byte with its
// continuation bytes is taken by its shape, overlong forms and encoded
// surrogates included (that is how CESU-8 writes a pair); a four-byte form
// past U+10FFFF reads as U+FFFD. Returns the bytes used (at least 1) and
// sets `cp`; a byte that starts no such shape gives U+FFFD and 1.
inline std::size_t ReadLoose(const unsigned char* u, std::size_t left, char32_t& cp) {
  const unsigned char b = u[0];
  const auto continuation = [&](std::size_t at) { return at < left && (u[at] & 0xC0) == 0x80; };
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  if ((b & 0xE0) == 0xC0 && continuation(1)) {
    cp = Decode(u, 2);
    return 2;
  }
  if ((b & 0xF0) == 0xE0 && continuation(1) && continuation(2)) {
    cp = Decode(u, 3);
    return 3;
  }
  if ((b & 0xF8) == 0xF0 && continuation(1) && continuation(2) && continuation(3)) {
    cp = Decode(u, 4);
    if (cp < 0x10000 || cp > 0x10FFFF) cp = U'\uFFFD';
    return 4;
  }
  cp = U'\uFFFD';
  return 1;
}

// CESU-8 (or plain UTF-8, which the engine writes for characters outside
// the basic plane in some paths) to UTF-16.
inline std::u16string FromCesu8(const char* data, std::size_t size) {
  std::u16string out;
  out.reserve(size);
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size;) {
    char32_t cp;
    i += ReadLoose(bytes + i, size - i, cp);
    AppendUtf16(cp, out);
  }
  return out;
}

}  // namespace velmar::utf8

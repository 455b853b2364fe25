#include "values/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "values/utf8.h"

namespace velmar {

namespace {

// A byte that starts no well-formed character counts as one character of
// its own, so every scan over the text moves on.
std::size_t Utf8CharLength(std::string_view t, std::size_t pos) {
  const std::size_t len = utf8::SequenceLength(t, pos);
  return len == 0 ? 1 : len;
}

std::size_t GbkCharLength(std::string_view t, std::size_t pos) {
  const auto b0 = static_cast<unsigned char>(t[pos]);
  if (b0 < 0x81 || b0 == 0xFF) return 1;
  if (pos + 1 >= t.size()) return 1;
  const auto b1 = static_cast<unsigned char>(t[pos + 1]);
  if (b1 < 0x40 || b1 == 0x7F || b1 == 0xFF) return 1;
  return 2;
}

// Whether pos lies inside a valid character that starts before it (and so
// is no character boundary). Positions at or past the end are boundaries.
bool Utf8InsideCharacter(std::string_view t, std::size_t pos) {
  if (pos >= t.size() || (static_cast<unsigned char>(t[pos]) & 0xC0) != 0x80) return false;
  // A continuation byte: find the nearest byte before it that is none; only
  // a lead within three bytes can reach this far.
  std::size_t back = pos;
  for (int steps = 0; back > 0 && steps < 3; ++steps) {
    --back;
    if ((static_cast<unsigned char>(t[back]) & 0xC0) != 0x80) break;
  }
  return back < pos && back + Utf8CharLength(t, back) > pos;
}

// One iconv descriptor per thread and direction: descriptors keep shift state
// and must not be shared between script threads.
struct IconvHandle {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  IconvHandle(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

// Runs iconv over `in`, appending the output to `out`. Whenever the input
// holds a sequence the converter rejects (or one cut short at the end), the
// callback is asked how many input bytes to skip and what to write instead;
// then conversion goes on behind it. Whole texts go through one call in the
// common case, so large pages convert at iconv's own speed.
template <typename OnBad>
void ConvertWithRecovery(IconvHandle& h, const char* in, std::size_t inSize, std::string& out,
                         OnBad onBad) {
  iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
  char* inp = const_cast<char*>(in);
  std::size_t inleft = inSize;
  char buf[4096];
  while (inleft > 0) {
    char* outp = buf;
    std::size_t outleft = sizeof buf;
    const std::size_t r = iconv(h.cd, &inp, &inleft, &outp, &outleft);
    out.append(buf, sizeof buf - outleft);
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace the offending unit and go on after it.
    const std::size_t skip = onBad(static_cast<std::size_t>(inp - in), out);
    const std::size_t step = skip < inleft ? skip : inleft;
    inp += step;
    inleft -= step;
    iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
  }
}

}  // namespace

const CodePage& CodePage::Get(int id) {
  static const CodePage utf8(kUtf8);
  static const CodePage gbk(kGbk);
  return id == kGbk ? gbk : utf8;
}

std::size_t CodePage::CharLength(std::string_view text, std::size_t pos) const {
  if (pos >= text.size()) return 0;
  return id_ == kGbk ? GbkCharLength(text, pos) : Utf8CharLength(text, pos);
}

std::string_view CodePage::CutAtCharacter(std::string_view text, std::size_t limit) const {
  if (text.size() <= limit) return text;
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + CharLength(text, end);
    if (next > limit) break;
    end = next;
  }
  return text.substr(0, end);
}

std::size_t CodePage::Find(std::string_view text, std::string_view part, std::size_t from) const {
  if (part.empty()) return from <= text.size() ? from : std::string_view::npos;
  if (id_ != kGbk) {
    // Valid UTF-8 never has a character start inside another character, so a
    // byte search finds the candidates; only texts with invalid sequences, or
    // a part that starts or ends with a piece of a character, need the
    // boundary checks.
    for (std::size_t hit = text.find(part, from); hit != std::string_view::npos;
         hit = text.find(part, hit + 1)) {
      if (Utf8InsideCharacter(text, hit)) continue;
      if (Utf8InsideCharacter(text, hit + part.size())) continue;
      return hit;
    }
    return std::string_view::npos;
  }
  const std::size_t n = text.size();
  if (part.size() > n) return std::string_view::npos;
  const char first = part[0];
  for (std::size_t pos = from; pos + part.size() <= n;) {
    // `from` is taken as a character boundary, as all callers pass one. The
    // match must also end on one: a part ending in a lead byte does not
    // match the first half of a character.
    const std::size_t len = GbkCharLength(text, pos);
    if (text[pos] == first && text.compare(pos, part.size(), part) == 0) {
      std::size_t end = pos + len;
      while (end < pos + part.size()) end += GbkCharLength(text, end);
      if (end == pos + part.size()) return pos;
    }
    pos += len;
  }
  return std::string_view::npos;
}

std::size_t CodePage::FindByte(std::string_view text, char byte, std::size_t from) const {
  return Find(text, std::string_view(&byte, 1), from);
}

std::size_t CodePage::FindLastByte(std::string_view text, char byte) const {
  std::size_t last = std::string_view::npos;
  for (std::size_t pos = 0; pos < text.size(); pos += CharLength(text, pos)) {
    if (text[pos] == byte) last = pos;
  }
  return last;
}

std::size_t CodePage::FindAnyByte(std::string_view text, std::string_view bytes,
                                  std::size_t from) const {
  for (std::size_t pos = from; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      if (bytes.find(text[pos]) != std::string_view::npos) return pos;
      ++pos;
    } else {
      pos += CharLength(text, pos);
    }
  }
  return std::string_view::npos;
}

std::string_view CodePage::TrimLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  return text.substr(i);
}

std::string_view CodePage::TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && IsSpace(text[n - 1])) --n;
  return text.substr(0, n);
}

void CodePage::ToLowerAscii(std::string& text) const {
  for (std::size_t pos = 0; pos < text.size();) {
    char& c = text[pos];
    if (static_cast<unsigned char>(c) < 0x80) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      ++pos;
    } else {
      pos += CharLength(text, pos);
    }
  }
}

void CodePage::ToUpperAscii(std::string& text) const {
  for (std::size_t pos = 0; pos < text.size();) {
    char& c = text[pos];
    if (static_cast<unsigned char>(c) < 0x80) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      ++pos;
    } else {
      pos += CharLength(text, pos);
    }
  }
}

std::string CodePage::Lower(std::string_view text) const {
  std::string s(text);
  ToLowerAscii(s);
  return s;
}

std::string CodePage::Upper(std::string_view text) const {
  std::string s(text);
  ToUpperAscii(s);
  return s;
}

std::u16string CodePage::ToUtf16(std::string_view text) const {
  std::u16string out;
  ToUtf16(text, out);
  return out;
}

void CodePage::ToUtf16(std::string_view text, std::u16string& out) const {
  out.clear();
  out.reserve(text.size());
  if (id_ == kGbk) {
    thread_local IconvHandle h("UTF-16LE", "GBK");
    std::string bytes;
    if (h.ok()) {
      ConvertWithRecovery(h, text.data(), text.size(), bytes, [&](std::size_t at, std::string& o) {
        o.append("?\0", 2);
        return CharLength(text, at);
      });
    } else {
      for (char c : text) {
        const bool ascii = static_cast<unsigned char>(c) < 0x80;
        bytes.push_back(ascii ? c : '?');
        bytes.push_back('\0');
      }
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return;
  }
  for (std::size_t pos = 0; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out.push_back(b);
      ++pos;
      continue;
    }
    const std::size_t len = CharLength(text, pos);
    utf8::AppendUtf16(
        len > 1 ? utf8::Decode(reinterpret_cast<const unsigned char*>(text.data()) + pos, len) : U'?',
        out);
    pos += len;
  }
}

std::string CodePage::FromUtf16(std::u16string_view text) const {
  std::string out;
  FromUtf16(text, out);
  return out;
}

void CodePage::FromUtf16(std::u16string_view text, std::string& out) const {
  out.clear();
  out.reserve(text.size());
  if (id_ == kGbk) {
    thread_local IconvHandle h("GBK", "UTF-16LE");
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t u : text) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    }
    if (h.ok()) {
      ConvertWithRecovery(h, bytes.data(), bytes.size(), out, [&](std::size_t at, std::string& o) {
        // A unit GBK cannot show becomes '?'; a surrogate pair is one
        // character and gives one '?'.
        o.push_back('?');
        const std::size_t i = at / 2;
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        return std::size_t{pair ? 4u : 2u};
      });
    } else {
      for (char16_t u : text) out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
    }
    return;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      out.push_back('?');
      continue;
    }
    utf8::Append(cp, out);
  }
}

std::string CodePage::FromUtf8(std::string_view utf8) const {
  if (id_ != kGbk) return std::string(utf8);
  return FromUtf16(Get(kUtf8).ToUtf16(utf8));
}

std::string CodePage::ToUtf8(std::string_view text) const {
  if (id_ != kGbk) return std::string(text);
  return Get(kUtf8).FromUtf16(ToUtf16(text));
}

}  // namespace velmar

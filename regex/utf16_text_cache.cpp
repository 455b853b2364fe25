#include "regex/utf16_text_cache.h"

#include <cstring>

#include "values/utf8.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velmar {

// The ASCII stretches (most of a web page) are copied directly: in both code
// pages a byte below 0x80 that starts a character is that character, so only
// the runs in between need converting.
std::size_t ConvertForMatching(const CodePage& cp, std::string_view text, char16_t* out,
                               std::size_t& end) {
  const bool isUtf8 = cp.id() == CodePage::kUtf8;
  std::size_t firstNul = std::string_view::npos;
  std::u16string piece;
  std::size_t n = 0;
  std::size_t i = 0;
  while (i < text.size()) {
#ifdef __SSE2__
    // Sixteen ASCII bytes at a time; n never runs ahead of i, so the stores
    // stay inside out.
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= text.size()) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      if (_mm_movemask_epi8(v) != 0) break;
      const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
      if (zeros != 0 && firstNul == std::string_view::npos) {
        firstNul = n + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(zeros)));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + 8), _mm_unpackhi_epi8(v, zero));
      i += 16;
      n += 16;
    }
    if (i >= text.size()) break;
#endif
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b == 0 && firstNul == std::string_view::npos) firstNul = n;
      out[n++] = b;
      ++i;
      continue;
    }
    if (isUtf8) {
      // Well-formed two- and three-byte characters (all of the common ones)
      // decode here into one unit; anything else goes to the code page below.
      const std::size_t len = utf8::SequenceLength(text, i);
      if (len == 2 || len == 3) {
        out[n++] = static_cast<char16_t>(
            utf8::Decode(reinterpret_cast<const unsigned char*>(text.data()) + i, len));
        i += len;
        continue;
      }
    }
    std::size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) >= 0x80) {
      const std::size_t len = cp.CharLength(text, j);
      j += len == 0 ? 1 : len;
    }
    if (j > text.size()) j = text.size();
    cp.ToUtf16(text.substr(i, j - i), piece);
    for (char16_t unit : piece) {
      if (unit == 0 && firstNul == std::string_view::npos) firstNul = n;
      out[n++] = unit;
    }
    i = j;
  }
  end = firstNul == std::string_view::npos ? n : firstNul;
  return n;
}

std::u16string_view Utf16TextCache::Get(const CodePage& cp, std::string_view text) {
  if (valid_ && codePage_ == cp.id() && source_.size() == text.size() &&
      std::memcmp(source_.data(), text.data(), text.size()) == 0) {
    return std::u16string_view(wide_).substr(0, end_);
  }
  valid_ = false;
  // Growing only: a buffer of the same size or larger is written over as it
  // is, without clearing it first.
  if (wide_.size() < text.size()) wide_.resize(text.size());
  const std::size_t units = ConvertForMatching(cp, text, wide_.data(), end_);
  if (text.size() <= kMaxKeptBytes) {
    source_.assign(text);
    codePage_ = cp.id();
    valid_ = true;
  } else {
    std::string().swap(source_);
  }
  return std::u16string_view(wide_.data(), units).substr(0, end_);
}

void Utf16TextCache::ReleaseLarge() {
  if (!valid_ && wide_.capacity() > kMaxKeptBytes) Clear();
}

void Utf16TextCache::Clear() {
  std::string().swap(source_);
  std::u16string().swap(wide_);
  end_ = 0;
  valid_ = false;
}

}  // namespace velmar

#include "regex/named_regex.h"

#include <algorithm>
#include <cstdio>

#include "engine/stop_signal.h"
#include "values/expansion.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velmar {
namespace {

// Where the next search starts after a match: at its end, or one character
// further when it was empty (a surrogate pair counts as one character), so
// that a pattern matching empty cannot hold the search in place.
std::size_t NextSearchStart(std::u16string_view text, const RegExpMatch& m) {
  const auto end = static_cast<std::size_t>(m.matchEnd);
  if (m.matchEnd != m.matchStart) return end;
  if (end + 1 < text.size() && text[end] >= 0xD800 && text[end] <= 0xDBFF &&
      text[end + 1] >= 0xDC00 && text[end + 1] <= 0xDFFF) {
    return end + 2;
  }
  return end + 1;
}

// Every occurrence of `from` replaced by `to`, left to right, without
// looking again at what was put in. False (with `text` unchanged) when the
// result would pass `limit` units or a stop was requested on the way.
bool ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to,
                std::size_t limit, const StopSignal* stop) {
  if (from.empty()) return true;
  std::size_t at = text.find(from);
  if (at == std::u16string::npos) return true;
  std::u16string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t n = 1; at != std::u16string::npos; ++n) {
    if (n % 64 == 0 && stop && stop->requested()) return false;
    out.append(text, done, at - done);
    if (to.size() > limit - std::min(limit, out.size())) return false;
    out.append(to);
    done = at + from.size();
    at = text.find(from, done);
  }
  if (text.size() - done > limit - std::min(limit, out.size())) return false;
  out.append(text, done, std::u16string::npos);
  text.swap(out);
  return true;
}

// The same as cp.ToUtf16, with the ASCII stretches (most of a web page)
// copied directly: in both code pages a byte below 0x80 that starts a
// character is that character, so only the runs in between need converting.
// Returns where the converted text ends: at its first NUL unit, if any.
std::size_t ToUtf16Quick(const CodePage& cp, std::string_view text, std::u16string& out) {
  out.resize(text.size());
  const bool utf8 = cp.id() == CodePage::kUtf8;
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
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&out[n]), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&out[n + 8]), _mm_unpackhi_epi8(v, zero));
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
    if (utf8) {
      // Well-formed two- and three-byte characters (all of the common ones)
      // decode here; anything else goes to the code page below.
      const auto* u = reinterpret_cast<const unsigned char*>(text.data()) + i;
      const std::size_t left = text.size() - i;
      if (b >= 0xC2 && b <= 0xDF && left >= 2 && (u[1] & 0xC0) == 0x80) {
        out[n++] = static_cast<char16_t>(((b & 0x1F) << 6) | (u[1] & 0x3F));
        i += 2;
        continue;
      }
      if (b >= 0xE0 && b <= 0xEF && left >= 3 && (u[1] & 0xC0) == 0x80 && (u[2] & 0xC0) == 0x80) {
        const char32_t cp3 = ((b & 0x0F) << 12) | ((u[1] & 0x3F) << 6) | (u[2] & 0x3F);
        if (cp3 >= 0x800 && (cp3 < 0xD800 || cp3 > 0xDFFF)) {
          out[n++] = static_cast<char16_t>(cp3);
          i += 3;
          continue;
        }
      }
    }
    std::size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) >= 0x80) {
      const std::size_t len = cp.CharLength(text, j);
      j += len == 0 ? 1 : len;
    }
    if (j > text.size()) j = text.size();
    cp.ToUtf16(text.substr(i, j - i), piece);
    // A character never yields more UTF-16 units than it has bytes.
    for (char16_t u : piece) {
      if (u == 0 && firstNul == std::string_view::npos) firstNul = n;
      out[n++] = u;
    }
    i = j;
  }
  out.resize(n);
  return firstNul == std::string_view::npos ? n : firstNul;
}

// The text copy and the backtrack stack are kept between calls to save
// allocations, but not once a huge text or a deep backtrack made them large:
// a script holds its named expressions until it ends.
void ReleaseLargeBuffers(NamedRegex& regex) {
  constexpr std::size_t kKeep = std::size_t{1} << 22;
  if (regex.buffer.capacity() > kKeep) std::u16string().swap(regex.buffer);
  if (regex.matchState.stack.capacity() > kKeep) {
    std::vector<int32_t>().swap(regex.matchState.stack);
  }
}

int CollectMatches(NamedRegex& regex, const CodePage& cp, std::string_view text,
                   const StopSignal* stop) {
  regex.results.clear();
  regex.groupCount = 0;
  if (!regex.compiled || text.empty()) return 0;
  const std::size_t end = ToUtf16Quick(cp, text, regex.buffer);
  if (regex.buffer.empty()) return 0;
  const std::u16string_view t = std::u16string_view(regex.buffer).substr(0, end);
  RegExpMatch& m = regex.matchState;
  m.stop = stop;
  bool found = Match(regex.program, m, t);
  regex.groupCount = regex.program.groupCount;
  if (regex.groupCount == 0) return 0;
  std::string piece;
  while (found) {
    for (int g = 0; g < regex.groupCount; ++g) {
      cp.FromUtf16(m.Group(t, g), piece);
      regex.results.push_back(piece);
    }
    if (static_cast<std::size_t>(m.matchEnd) >= t.size()) break;
    found = Match(regex.program, m, t, nullptr, NextSearchStart(t, m));
  }
  return static_cast<int>(regex.results.size());
}

// A character never takes fewer bytes in the code page than UTF-16 units, so
// a text of more units than the expansion limit would pass it as bytes too.
std::string ReplaceMatches(NamedRegex& regex, const CodePage& cp, std::string_view text,
                           std::string_view replacement, const StopSignal* stop, bool& tooLong) {
  constexpr std::size_t kLimit = kMaxExpandedTextSize;
  regex.groupCount = 0;
  if (!regex.compiled || text.empty()) return std::string(text);
  const std::size_t end = ToUtf16Quick(cp, text, regex.buffer);
  if (regex.buffer.empty()) return std::string(text);
  const std::u16string wideReplacement = cp.ToUtf16(replacement);
  const std::u16string_view t = std::u16string_view(regex.buffer).substr(0, end);
  RegExpMatch& m = regex.matchState;
  m.stop = stop;
  bool found = Match(regex.program, m, t);
  regex.groupCount = regex.program.groupCount;
  if (regex.groupCount == 0) return std::string(text);

  std::u16string result(regex.buffer);
  std::u16string r;
  std::u16string marker;
  // A replacement holding its match's text grows the result with every
  // further match of that text: the expansion limit bounds it, and a stop
  // request ends the work between two matches.
  while (found) {
    if (stop && stop->requested()) break;
    r = wideReplacement;
    bool fits = true;
    for (int i = 1; i < regex.groupCount && fits; ++i) {
      marker.assign(1, u'$');
      for (char c : std::to_string(i)) marker.push_back(static_cast<char16_t>(c));
      if (!ReplaceAll(r, marker, m.Group(t, i), kLimit, stop)) {
        tooLong = !(stop && stop->requested());
        return {};
      }
    }
    if (!ReplaceAll(result, m.Group(t, 0), r, kLimit, stop)) {
      tooLong = !(stop && stop->requested());
      return {};
    }
    if (static_cast<std::size_t>(m.matchEnd) >= t.size()) break;
    found = Match(regex.program, m, t, nullptr, NextSearchStart(t, m));
  }
  std::string out = cp.FromUtf16(result);
  if (out.size() > kLimit) {
    tooLong = true;
    return {};
  }
  return out;
}

}  // namespace

std::unique_ptr<NamedRegex> CreateNamedRegex(const CodePage& cp, std::string_view pattern) {
  auto regex = std::make_unique<NamedRegex>();
  const std::u16string wide = cp.ToUtf16(pattern);
  regex->compiled = Compile(regex->program, std::u16string_view(wide)) == 0;
  return regex;
}

int MatchAll(NamedRegex& regex, const CodePage& cp, std::string_view text, const StopSignal* stop) {
  const int count = CollectMatches(regex, cp, text, stop);
  ReleaseLargeBuffers(regex);
  return count;
}

std::string RegexReplace(NamedRegex& regex, const CodePage& cp, std::string_view text,
                         std::string_view replacement, const StopSignal* stop, bool* tooLong) {
  bool overLimit = false;
  std::string result = ReplaceMatches(regex, cp, text, replacement, stop, overLimit);
  if (tooLong) *tooLong = overLimit;
  ReleaseLargeBuffers(regex);
  return result;
}

std::string RegexTesterText(const CodePage& cp, std::string_view pattern, std::string_view text) {
  std::unique_ptr<NamedRegex> regex = CreateNamedRegex(cp, pattern);
  const int count = MatchAll(*regex, cp, text);
  char head[64];
  std::snprintf(head, sizeof head, "count:%d; groups:%d;", count, regex->groupCount);
  std::string out = head;
  for (int i = 0; i < count; ++i) {
    std::snprintf(head, sizeof head, "\r\n%03d - ", i);
    out += head;
    out += regex->results[static_cast<std::size_t>(i)];
  }
  return out;
}

}  // namespace velmar

#include "values/reference_scanner.h"

namespace velmar {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// Next `[` or `]` at or after `from` that is a character of its own.
// In UTF-8 no byte below 0x80 is ever part of a longer character, so a byte
// scan finds exactly the character-level hits.
std::size_t NextBracketUtf8(std::string_view t, std::size_t from) {
  const char* p = t.data();
  const std::size_t n = t.size();
  for (std::size_t i = from; i < n; ++i) {
    const char c = p[i];
    if (c == '[' || c == ']') return i;
  }
  return kNone;
}

std::size_t NextBracketMultibyte(const CodePage& cp, std::string_view t, std::size_t from) {
  const std::size_t n = t.size();
  for (std::size_t i = from; i < n;) {
    const auto b = static_cast<unsigned char>(t[i]);
    if (b < 0x80) {
      if (b == '[' || b == ']') return i;
      ++i;
    } else {
      i += cp.CharLength(t, i);
    }
  }
  return kNone;
}

// The scan over a text with received spans, or (kMarked false) over a text
// that has none: most texts are the script's own, and for them the span
// tests would cost as much as the scan.
template <bool kMarked, bool kGbk>
void Scan(const CodePage& cp, std::string_view text, const ReceivedSpans& spans,
          std::vector<ReferenceMatch>& out) {
  out.clear();
  std::size_t hint = 0;
  auto bracket = [&](std::size_t from) {
    if constexpr (kGbk) {
      return NextBracketMultibyte(cp, text, from);
    } else {
      return NextBracketUtf8(text, from);
    }
  };
  // The next bracket outside the received spans: a span is stepped over
  // whole, so the scan stays linear in the text.
  auto next = [&](std::size_t from) {
    std::size_t i = bracket(from);
    if constexpr (kMarked) {
      while (i != kNone && InSpan(spans, i, hint)) i = bracket(spans[hint].pos + spans[hint].len);
    }
    return i;
  };
  const std::size_t n = text.size();
  char lastBracket = 0;
  std::size_t i = next(0);
  while (i != kNone) {
    if (text[i] == ']') {
      lastBracket = ']';
      i = next(i + 1);
      continue;
    }
    // A `[`; sigils are ASCII, so the byte after a lone `[` is a character start.
    bool sigil = i + 1 < n && IsReferenceSigil(text[i + 1]);
    if constexpr (kMarked) {
      std::size_t sigilHint = hint;
      sigil = sigil && !InSpan(spans, i + 1, sigilHint);
    }
    if (sigil) {
      const std::size_t close = next(i + 2);
      if (close != kNone && text[close] == ']') {
        out.push_back({i, close - i + 1, text[i + 1], lastBracket == '['});
        lastBracket = ']';
        i = next(close + 1);
        continue;
      }
      // No reference starts between here and the bracket that ended the try.
      lastBracket = '[';
      i = close;
      continue;
    }
    lastBracket = '[';
    i = next(i + 1);
  }
}

}  // namespace

void FindReferences(const CodePage& cp, std::string_view text, std::vector<ReferenceMatch>& out) {
  static const ReceivedSpans kNoSpans;
  FindReferences(cp, text, kNoSpans, out);
}

void FindReferences(const CodePage& cp, std::string_view text, const ReceivedSpans& spans,
                    std::vector<ReferenceMatch>& out) {
  const bool gbk = cp.IsGbk();
  if (spans.empty()) {
    gbk ? Scan<false, true>(cp, text, spans, out) : Scan<false, false>(cp, text, spans, out);
  } else {
    gbk ? Scan<true, true>(cp, text, spans, out) : Scan<true, false>(cp, text, spans, out);
  }
}

}  // namespace velmar

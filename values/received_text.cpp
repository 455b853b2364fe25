#include "values/received_text.h"

#include <algorithm>

namespace velmar {

void AppendSpan(ReceivedSpans& spans, std::size_t pos, std::size_t len) {
  if (len == 0) return;
  if (!spans.empty() && spans.back().pos + spans.back().len == pos) {
    spans.back().len += len;
    return;
  }
  spans.push_back({pos, len});
}

void AppendSpans(ReceivedSpans& spans, const ReceivedSpans& from, std::size_t offset) {
  for (const ReceivedSpan& s : from) AppendSpan(spans, s.pos + offset, s.len);
}

void AppendSlice(ReceivedSpans& out, const ReceivedSpans& spans, std::size_t pos, std::size_t len,
                 std::size_t at) {
  if (spans.empty() || len == 0) return;
  const std::size_t end = pos + len;
  // The first span that ends after pos.
  auto it = std::partition_point(spans.begin(), spans.end(),
                                 [pos](const ReceivedSpan& s) { return s.pos + s.len <= pos; });
  for (; it != spans.end() && it->pos < end; ++it) {
    const std::size_t from = std::max(it->pos, pos);
    const std::size_t to = std::min(it->pos + it->len, end);
    AppendSpan(out, from - pos + at, to - from);
  }
}

ReceivedSpans SliceSpans(const ReceivedSpans& spans, std::size_t pos, std::size_t len) {
  ReceivedSpans out;
  AppendSlice(out, spans, pos, len, 0);
  return out;
}

bool InSpan(const ReceivedSpans& spans, std::size_t pos, std::size_t& hint) {
  // The hint is the first span ending after an earlier position. A later
  // position walks on from there; only one before the span ahead of the hint
  // (which the callers walking left to right never ask for) searches again.
  // Resetting to the first span whenever the hint's span lay ahead made a
  // text of many spans and many brackets between them quadratic.
  if (hint > spans.size()) hint = 0;
  if (hint > 0 && spans[hint - 1].pos + spans[hint - 1].len > pos) {
    hint = static_cast<std::size_t>(
        std::partition_point(spans.begin(), spans.end(),
                             [pos](const ReceivedSpan& s) { return s.pos + s.len <= pos; }) -
        spans.begin());
  }
  while (hint < spans.size() && spans[hint].pos + spans[hint].len <= pos) ++hint;
  return hint < spans.size() && spans[hint].pos <= pos;
}

ReceivedSpans WholeSpan(std::size_t len) {
  ReceivedSpans spans;
  AppendSpan(spans, 0, len);
  return spans;
}

MarkedPieces SplitMarkedText(std::string_view text, const ReceivedSpans& spans,
                             std::string_view separator, const CodePage& cp) {
  MarkedPieces out;
  auto add = [&](std::size_t from, std::size_t to) {
    out.pieces.emplace_back(text.substr(from, to - from));
    out.spans.push_back(SliceSpans(spans, from, to - from));
  };
  std::size_t pos = 0;
  if (!separator.empty()) {
    std::size_t search = 0;
    std::size_t hint = 0;
    for (;;) {
      const std::size_t hit = cp.Find(text, separator, search);
      if (hit == std::string_view::npos) break;
      // A separator that touches a received byte is part of that data.
      bool inside = false;
      for (std::size_t i = hit; i < hit + separator.size() && !inside; ++i) {
        inside = InSpan(spans, i, hint);
      }
      if (inside) {
        // Go on behind the span that holds the byte.
        search = spans[hint].pos + spans[hint].len;
        continue;
      }
      add(pos, hit);
      pos = hit + separator.size();
      search = pos;
    }
  }
  add(pos, text.size());
  return out;
}

}  // namespace velmar

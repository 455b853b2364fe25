#pragma once
// Text that entered a script from outside (responses, cells, files read,
// answers, window values, native and JavaScript results) is data: the parts
// of a text that came from there are kept as spans beside it, expansion
// never finds a reference whose `[`, sigil or `]` lies in one, and the
// argument splitting of built-in calls never sees a separator in one.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "values/code_page.h"

namespace velmar {

struct ReceivedSpan {
  std::size_t pos = 0;
  std::size_t len = 0;
  bool operator==(const ReceivedSpan&) const = default;
};

// Sorted, disjoint and never touching: adjacent spans are joined, so two
// equal texts with the same received bytes have equal span lists.
using ReceivedSpans = std::vector<ReceivedSpan>;

// Appends [pos, pos + len) to spans that all end at or before pos.
void AppendSpan(ReceivedSpans& spans, std::size_t pos, std::size_t len);
// Appends `from` shifted by `offset` (all of it after the spans' end).
void AppendSpans(ReceivedSpans& spans, const ReceivedSpans& from, std::size_t offset);
// The spans that lie in [pos, pos + len), cut to it and counted from pos.
ReceivedSpans SliceSpans(const ReceivedSpans& spans, std::size_t pos, std::size_t len);
// The spans within [pos, pos + len) appended to `out`, shifted to `at`.
void AppendSlice(ReceivedSpans& out, const ReceivedSpans& spans, std::size_t pos, std::size_t len,
                 std::size_t at);
// Whether byte `pos` is received; `hint` is an index into the spans that
// callers walking left to right keep between calls.
bool InSpan(const ReceivedSpans& spans, std::size_t pos, std::size_t& hint);
// The text as one received span (none for the empty text).
ReceivedSpans WholeSpan(std::size_t len);

// SplitText that finds the separator only outside received spans, with the
// spans of each piece.
struct MarkedPieces {
  std::vector<std::string> pieces;
  std::vector<ReceivedSpans> spans;
};
MarkedPieces SplitMarkedText(std::string_view text, const ReceivedSpans& spans,
                             std::string_view separator, const CodePage& cp);

}  // namespace velmar

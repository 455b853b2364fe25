#pragma once
// Finding bracket references ([#name], [@call], [$re.1], [%set.0.1], [~lib],
// [!x]) in a text without compiling a pattern: a plain left-to-right scan
// that steps over whole characters, so a trail byte of a double-byte
// character that happens to be `[`, `]` or `@` never starts or ends one.

#include <cstddef>
#include <string_view>
#include <vector>

#include "values/code_page.h"
#include "values/received_text.h"

namespace velmar {

struct ReferenceMatch {
  std::size_t pos = 0;  // the `[`
  std::size_t len = 0;  // up to and including the `]`
  char sigil = 0;
  // The nearest bracket before this reference is a `[` that starts no
  // reference, as in `[#a[#b]]`: replacing this reference can complete a new
  // one around it within the same pass.
  bool enclosed = false;

  std::string_view NamePart(std::string_view text) const { return text.substr(pos + 2, len - 3); }
};

inline bool IsReferenceSigil(char c) {
  return c == '#' || c == '@' || c == '$' || c == '%' || c == '~' || c == '!';
}

// Appends every reference of the text, left to right and without overlap, to
// `out` (which is cleared first). After a reference the scan resumes behind
// its `]`; after any other position at the next character.
void FindReferences(const CodePage& cp, std::string_view text, std::vector<ReferenceMatch>& out);
// The same over a text with received parts: a bracket or sigil inside a
// received span is an ordinary byte of data.
void FindReferences(const CodePage& cp, std::string_view text, const ReceivedSpans& spans,
                    std::vector<ReferenceMatch>& out);

}  // namespace velmar

#pragma once
// Script texts cross over to UTF-16 before a named expression runs over them.
// A script typically matches several expressions, or one expression again
// and again, against the same unchanged page: the cache keeps the UTF-16 form
// of the last text so that only the first of those matches converts it.

#include <cstddef>
#include <string>
#include <string_view>

#include "values/code_page.h"

namespace velmar {

// Writes the UTF-16 form of `text` (as cp.ToUtf16 gives it) to `out`, which
// has room for text.size() units: a character never yields more units than it
// has bytes. Returns the number of units written; `end` is where a search must
// stop, at the first NUL unit or else at the end.
std::size_t ConvertForMatching(const CodePage& cp, std::string_view text, char16_t* out,
                               std::size_t& end);

class Utf16TextCache {
 public:
  // Texts up to this many bytes are kept, with their UTF-16 form; a larger
  // one is converted each time into a buffer that is let go once the match
  // is done, so a script holds at most a few times this much.
  static constexpr std::size_t kMaxKeptBytes = std::size_t{8} << 20;

  // The UTF-16 form of `text` in `cp`, up to its first NUL unit; valid until
  // the next call or Release. The text is recognised by comparing its bytes
  // with a copy of the last one: an order of magnitude cheaper than
  // converting, and never fooled by a value changed in place.
  std::u16string_view Get(const CodePage& cp, std::string_view text);

  // Lets go of a buffer too large to keep; called once a match is done.
  void ReleaseLarge();
  // Lets go of everything.
  void Clear();

 private:
  std::string source_;  // the bytes last converted, when kept
  std::u16string wide_;
  std::size_t end_ = 0;
  int codePage_ = 0;
  bool valid_ = false;
};

}  // namespace velmar

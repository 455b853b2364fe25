#pragma once
// The manual's chapters, embedded at build time from docs/*.md.

#include <span>
#include <string_view>

namespace velmar {

struct ManualChapter {
  std::string_view file;  // e.g. "04-http.md"
  std::string_view text;  // the Markdown source
};

// In file-name order, which is the manual's reading order.
std::span<const ManualChapter> ManualChapters();

}  // namespace velmar

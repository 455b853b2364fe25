#pragma once
// The largest text a script works with, shared by every layer that builds
// texts for scripts (expansion, file reads, response bodies, regex results).

#include <cstddef>

namespace velmar {

// A text never grows past this size through expansion. A pass whose result
// (or whose reference values alone) would be larger stops the expansion with
// the error "引用展开后的文本超过64MB．": the text keeps what the earlier
// passes made of it and the script ends after the statement, instead of
// doubling `[#a][#a]`-style texts until memory runs out.
constexpr std::size_t kMaxExpandedTextSize = std::size_t{64} << 20;

}  // namespace velmar

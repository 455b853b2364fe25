#pragma once
// `velmar lsp [--home DIR] [--codepage 65001|936]`: the language server an
// editor starts, on standard input and output.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "lsp"; 0 after the client's shutdown and exit, 1 when the
// input closed without them, 2 for a usage error.
int RunLspCommand(const std::vector<std::string>& args);

}  // namespace velmar

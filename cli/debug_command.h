#pragma once
// `velmar debug`: the debug adapter an editor starts, speaking the Debug
// Adapter Protocol on standard input and output.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "debug"; 0 after the editor's disconnect, 1 when the input
// closed without one, 2 for a usage error.
int RunDebugCommand(const std::vector<std::string>& args);

}  // namespace velmar

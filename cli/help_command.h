#pragma once
// `velmar help [TOPIC]`: the manual in the terminal.

#include <string>
#include <vector>

namespace velmar {

int RunHelpCommand(const std::vector<std::string>& args);

}  // namespace velmar

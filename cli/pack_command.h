#pragma once
// `velmar pack SCRIPT_FOLDER OUTPUT [--archive] [--force] [--appname N]
// [--homepage URL] [--hotkey K] [--boot FILE]`: makes a packed application.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "pack"; returns the exit status: 0 made, 1 not made (the
// reasons on standard error), 2 usage error.
int RunPackCommand(const std::vector<std::string>& args);

}  // namespace velmar

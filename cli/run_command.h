#pragma once
// `velmar run [--home DIR] [--codepage 65001|936] [--param TEXT] SCRIPT`:
// runs one script with the console host.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "run"; returns the process exit status: 0 after a run
// without script error, 1 after one that reportScriptError ended, 2 for a
// usage error or an unreadable script, 130/143 after SIGINT/SIGTERM.
int RunScriptCommand(const std::vector<std::string>& args);

}  // namespace velmar

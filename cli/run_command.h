#pragma once
// `velmar run [--home DIR] [--codepage 65001|936] [--param TEXT] SCRIPT`:
// runs one script with the console host.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "run"; returns the process exit status of the table in
// engine/run_outcome.h.
int RunScriptCommand(const std::vector<std::string>& args);

}  // namespace velmar

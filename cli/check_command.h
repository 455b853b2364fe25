#pragma once
// `velmar check [--format text|json] [--werror] [--home DIR]
// [--codepage 65001|936] FILE...`: reads scripts as a run would and reports
// what is wrong with them before they run.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "check"; returns 0 when no file has an error (warnings
// allowed), 1 when one has, 2 for a usage error or a file that cannot be
// read.
int RunCheckCommand(const std::vector<std::string>& args);

}  // namespace velmar

#pragma once
// `velmar trace har|curl|summary|view FILE ...`: what a recorded run shows.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "trace"; returns the process exit status.
int RunTraceCommand(const std::vector<std::string>& args);

}  // namespace velmar

#pragma once
// `velmar regex [--codepage N] PATTERN [FILE]`: the regular-expression tester.

#include <string>
#include <vector>

namespace velmar {

// Arguments after "regex"; returns the process exit status.
int RunRegexCommand(const std::vector<std::string>& args);

}  // namespace velmar

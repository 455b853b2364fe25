#include "cli/regex_command.h"

#include <cstdio>

namespace velmar {

int RunRegexCommand(const std::vector<std::string>&) {
  std::fputs("velmar regex: not available yet\n", stderr);
  return 2;
}

}  // namespace velmar

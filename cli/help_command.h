#pragma once
// `velmar help [TOPIC]`: the manual in the terminal.

#include <string>
#include <string_view>
#include <vector>

namespace velmar {

int RunHelpCommand(const std::vector<std::string>& args);

// The manual's page of one velmar command ("run", "pack", ...) on standard
// output, as its --help answers: 0, or 1 when the output cannot be written.
int PrintCommandHelp(std::string_view command);

// The Markdown of the manual's section with an anchor ("stmt-get",
// "fn-split"), links reading as their text; empty when there is none. What
// an editor shows when the pointer rests on a keyword.
std::string ManualSection(std::string_view anchor);

// "velmar 1.2.3" and the like: what every program's --version prints.
int PrintVersion(const char* program);

}  // namespace velmar

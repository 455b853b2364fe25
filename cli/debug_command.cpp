#include "cli/debug_command.h"

#include <cstdio>

#include "cli/help_command.h"
#include "platform/socket.h"
#include "tooling/debug_adapter.h"

namespace velmar {

int RunDebugCommand(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return PrintCommandHelp("debug");
    std::fprintf(stderr, "velmar debug: unknown option: %s\nusage: velmar debug\n", arg.c_str());
    return 2;
  }
  // An editor that goes away must end the adapter, not kill it with a
  // signal in the middle of a write.
  platform::IgnoreBrokenPipe();
  return RunDebugAdapter(platform::kStandardInput, 1);
}

}  // namespace velmar

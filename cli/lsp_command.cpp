#include "cli/lsp_command.h"

#include <cstdio>

#include "cli/help_command.h"
#include "platform/socket.h"
#include "tooling/language_server.h"

namespace velmar {

namespace {

constexpr const char* kLspUsage = "usage: velmar lsp [--home DIR] [--codepage 65001|936]\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar lsp: %s\n", message.c_str());
  std::fputs(kLspUsage, stderr);
  return 2;
}

}  // namespace

int RunLspCommand(const std::vector<std::string>& args) {
  LanguageServerOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") return PrintCommandHelp("lsp");
    if (arg == "--stdio") continue;  // what editors pass by habit; it is the only transport
    if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
      if (arg == "--home" && i + 1 >= args.size()) return UsageError("--home needs a folder");
      options.home = arg == "--home" ? args[++i] : arg.substr(7);
      if (!HomeOptionAccepted("velmar lsp", options.home, false)) return 2;
    } else if (arg == "--codepage" || arg.rfind("--codepage=", 0) == 0) {
      if (arg == "--codepage" && i + 1 >= args.size()) return UsageError("--codepage needs 65001 or 936");
      const std::string text = arg == "--codepage" ? args[++i] : arg.substr(11);
      if (text != "65001" && text != "936") return UsageError("unknown code page: " + text + " (use 65001 or 936)");
      options.codePage = std::stoi(text);
    } else {
      return UsageError("unknown option: " + arg);
    }
  }
  options.manual = [](std::string_view anchor) { return ManualSection(anchor); };
  // A client that goes away must end the server, not kill it with a signal
  // in the middle of a write.
  platform::IgnoreBrokenPipe();
  return RunLanguageServer(platform::kStandardInput, 1, std::move(options));
}

}  // namespace velmar

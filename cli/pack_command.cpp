#include "cli/pack_command.h"

#include <cstdio>
#include <optional>

#include "cli/help_command.h"
#include "runner/app_packer.h"

namespace velmar {

namespace {

constexpr const char* kPackUsage =
    "usage: velmar pack SCRIPT_FOLDER OUTPUT [--archive] [--force] [--appname NAME]\n"
    "                   [--homepage URL] [--hotkey KEY] [--boot FILE]\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar pack: %s\n%s", message.c_str(), kPackUsage);
  return 2;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args) {
  PackOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string>* target = nullptr;
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (!optionsEnded && arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      name = arg.substr(0, arg.find('='));
      inlineValue = arg.substr(arg.find('=') + 1);
    }
    std::optional<std::string> boot;
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return PrintCommandHelp("pack");
    if (arg == "--version") return PrintVersion("velmar");
    if (name == "--archive" && !inlineValue) {
      options.archive = true;
      continue;
    }
    if (name == "--force" && !inlineValue) {
      options.force = true;
      continue;
    }
    if (name == "--appname") {
      target = &options.appName;
    } else if (name == "--homepage") {
      target = &options.homepage;
    } else if (name == "--hotkey") {
      target = &options.hotKey;
    } else if (name == "--boot") {
      target = &boot;
    } else {
      return UsageError("unknown option: " + arg);
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) return UsageError(name + " needs a value");
      inlineValue = args[++i];
    }
    *target = *inlineValue;
    if (name == "--boot") options.bootFile = std::filesystem::path(*boot);
  }
  if (positional.size() != 2) return UsageError("give the script folder and the output folder");
  options.scriptFolder = positional[0];
  options.output = positional[1];
  options.runnerProgram = DefaultRunnerProgram();
  // Command lines on this platform are UTF-8; the package keeps its texts
  // in its own code page (GBK when its Config.ini says 936).
  options.textsInUtf8 = true;

  const PackResult result = PackApplication(options);
  for (const std::string& warning : result.warnings) {
    std::fprintf(stderr, "velmar pack: warning: %s\n", warning.c_str());
  }
  if (!result.ok) {
    for (const std::string& error : result.errors) {
      std::fprintf(stderr, "velmar pack: %s\n", error.c_str());
    }
    return 1;
  }
  std::printf("packed %zu file(s) into %s\n", result.filesCopied, result.folder.c_str());
  if (!result.archive.empty()) std::printf("archive: %s\n", result.archive.c_str());
  return 0;
}

}  // namespace velmar

// vlmpack: the packed runner. Starts the scripts of Velmar.boot in its home
// folder and ends when the last of them has ended.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "engine/engine_environment.h"
#include "runner/headless_runner.h"
#include "runner/runner_home.h"
#include "tooling/trace_folder.h"
#include "values/version.h"
#ifdef VLMPACK_DESKTOP
#include "runner/windowed_runner.h"
#include "ui/display_check.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: vlmpack [--headless [--trace DIR [--trace-secrets]]] [--home DIR [--create-home]]\n"
    "       vlmpack --help | --version\n"
    "\n"
    "Starts every script named in Velmar.boot of the home folder and ends when\n"
    "the last of them has ended.\n"
    "  --headless   no tray icon and no hot key; the scripts' requests are\n"
    "               printed as by `velmar run`, prompts read standard input\n"
    "  --home DIR   the home folder (else the program's folder when it holds\n"
    "               Velmar.boot, else VELMAR_HOME, ... as for velmar); it must\n"
    "               exist\n"
    "  --create-home  make the --home folder when it does not exist\n"
    "  --trace DIR  record each script's run in DIR/NAME-N.trace (velmar help\n"
    "               trace); --trace-secrets keeps cookies and passwords in it\n"
    "exit status: 0 after the scripts have ended, 1 when the boot file cannot\n"
    "be used, 2 for a usage error, 130/143 when SIGINT/SIGTERM stopped the\n"
    "scripts.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vlmpack: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  bool createHome = false;
  std::string home;
  std::string traceFolder;
  bool traceSecrets = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--version") {
      std::printf("vlmpack %s\n", velmar::kVersion);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--home") {
      if (i + 1 >= argc) return UsageError("--home needs a folder");
      home = argv[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      home = arg.substr(7);
    } else if (arg == "--create-home") {
      createHome = true;
    } else if (arg == "--trace") {
      if (i + 1 >= argc) return UsageError("--trace needs a folder");
      traceFolder = argv[++i];
    } else if (arg == "--trace-secrets") {
      traceSecrets = true;
    } else {
      return UsageError("unknown argument: " + arg);
    }
  }
  if (!traceFolder.empty() && !headless) return UsageError("--trace records headless runs only");
  if (!velmar::HomeOptionAccepted("vlmpack", home, createHome)) return 2;
  const std::filesystem::path homeFolder = velmar::ResolveRunnerHome(home);
  if (!headless) {
#ifdef VLMPACK_DESKTOP
    const std::string reason = velmar::MissingDisplayReason();
    if (reason.empty()) return velmar::RunWindowed(homeFolder, argc, argv);
    std::fprintf(stderr, "vlmpack: %s; running headless\n", reason.c_str());
#else
    std::fputs("vlmpack: this build has no desktop mode; running headless\n", stderr);
#endif
  }
  // One trace per script run; a folder that cannot be written is said once
  // and the scripts run anyway.
  std::optional<velmar::TraceFolder> traces;
  if (!traceFolder.empty()) {
    traces.emplace(traceFolder, traceSecrets, [](std::string_view reason) {
      std::fprintf(stderr, "vlmpack: %.*s\n", static_cast<int>(reason.size()), reason.data());
    });
    std::string reason;
    if (!traces->Prepare(reason)) {
      std::fprintf(stderr, "vlmpack: not recording a trace: %s\n", reason.c_str());
      traces.reset();
    }
    return velmar::RunHeadless(homeFolder, stdout, STDIN_FILENO, true, traces ? &*traces : nullptr);
  }
  return velmar::RunHeadless(homeFolder, stdout, STDIN_FILENO, true);
}

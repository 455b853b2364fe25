// vlmpack: the packed runner. Starts the scripts of Velmar.boot in its home
// folder and ends when the last of them has ended.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/engine_environment.h"
#include "engine/run_deadline.h"
#include "engine/run_outcome.h"
#include "runner/headless_runner.h"
#include "runner/runner_home.h"
#include "runner/runner_texts.h"
#include "tooling/trace_folder.h"
#include "values/version.h"
#ifdef VLMPACK_DESKTOP
#include "runner/windowed_runner.h"
#include "ui/display_check.h"
#endif

namespace {

std::string UsageText() {
  return velmar::runner_text::kUsage + velmar::ExitStatusHelpText();
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "vlmpack: %s\n%s", message.c_str(), UsageText().c_str());
  return velmar::ExitStatusOf(velmar::RunOutcome::kUsage);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  bool createHome = false;
  std::string home;
  velmar::HeadlessOptions options;
  std::string traceFolder;
  bool traceSecrets = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(UsageText().c_str(), stdout);
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
    } else if (arg == "--jsonl") {
      options.jsonLines = true;
    } else if (arg == "--time-limit" || arg.rfind("--time-limit=", 0) == 0) {
      std::string text;
      if (arg == "--time-limit") {
        if (i + 1 >= argc) return UsageError("--time-limit needs a number of seconds");
        text = argv[++i];
      } else {
        text = arg.substr(13);
      }
      options.timeLimit = velmar::ParseTimeLimit(text);
      if (!options.timeLimit) return UsageError("--time-limit takes seconds above 0, not: " + text);
    } else {
      return UsageError("unknown argument: " + arg);
    }
  }
  if (!velmar::HomeOptionAccepted("vlmpack", home, createHome)) {
    return velmar::ExitStatusOf(velmar::RunOutcome::kUsage);
  }
  if (!traceFolder.empty() && !headless) return UsageError("--trace records headless runs only");
  // The desktop runner is watched by a person, not a supervisor.
  if (!headless && (options.jsonLines || options.timeLimit)) {
    return UsageError(std::string(options.jsonLines ? "--jsonl" : "--time-limit") +
                      " needs --headless");
  }
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
    if (traces->Prepare(reason)) {
      options.observer = &*traces;
    } else {
      std::fprintf(stderr, "vlmpack: not recording a trace: %s\n", reason.c_str());
    }
  }
  return velmar::RunHeadless(homeFolder, stdout, STDIN_FILENO, true, options);
}

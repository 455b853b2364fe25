#pragma once
// The runner with the console host: the scripts' requests are printed as by
// `velmar run`, the runner's own message boxes as `alert:` lines, prompts
// read standard input; there is no tray icon and no hot key. SIGINT and
// SIGTERM run the quit procedure.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "values/run_observer.h"

namespace velmar {

struct HeadlessOptions {
  // Every line as a JSON object (`--jsonl`), as `velmar run --jsonl`.
  bool jsonLines = false;
  // When it is up, the quit procedure runs as after a stop signal.
  std::optional<std::chrono::duration<double>> timeLimit;
  // When given, it watches every script (`--trace DIR`).
  RunObserver* observer = nullptr;
};

// Runs the boot file of `home` until the runner quits; returns the exit
// status of the table in engine/run_outcome.h, the worst outcome of all
// scripts. Signals are handled only when `handleSignals` is set (the
// program, not tests).
int RunHeadless(const std::filesystem::path& home, std::FILE* out, int inputFd, bool handleSignals,
                const HeadlessOptions& options = {});

}  // namespace velmar

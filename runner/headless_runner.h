#pragma once
// The runner with the console host: the scripts' requests are printed as by
// `velmar run`, the runner's own message boxes as `alert:` lines, prompts
// read standard input; there is no tray icon and no hot key. SIGINT and
// SIGTERM run the quit procedure.

#include <cstdio>
#include <filesystem>

#include "values/run_observer.h"

namespace velmar {

// Runs the boot file of `home` until the runner quits; returns the exit
// status (0 after a normal quit, 1 after the boot-file failure). Signals
// are handled only when `handleSignals` is set (the program, not tests).
// `observer`, when given, watches every script (vlmpack --trace).
int RunHeadless(const std::filesystem::path& home, std::FILE* out, int inputFd, bool handleSignals,
                RunObserver* observer = nullptr);

}  // namespace velmar

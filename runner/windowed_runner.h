#pragma once
// The runner on the desktop: no window of its own, the scripts' alerts,
// prompts, notes and HTML windows through the Qt host, a tray icon that the
// scripts show with `showtray`, its menu and the global hot key as window
// events. SIGINT and SIGTERM run the quit procedure as in the console.

#include <filesystem>

namespace velmar {

// Runs the boot file of `home` until the runner quits; returns the exit
// status (0 after a normal quit, 1 after the boot-file failure). Needs a
// display (see MissingDisplayReason).
int RunWindowed(const std::filesystem::path& home, int& argc, char** argv);

}  // namespace velmar

#pragma once
// Whole scripts on their worker thread in a console host, for tests of what
// a stop (or the script itself) ends and how soon. Output goes through a pipe
// so that a test can wait for a line the script shows.

#include <filesystem>
#include <string>

namespace velmar::testing {

struct ConsoleRun {
  // The worker's body returned within the allowed time.
  bool ended = false;
  // Milliseconds from the stop (or from the start, without one) to the end
  // of the body; only meaningful when it ended.
  double endMs = 0;
  // The console lines the script wrote.
  std::string output;
};

// Runs Script/<name>.vlm (written from `script`) in the home folder. With
// stopAfterMs >= 0 the script is stopped that long after it has shown
// "go" (a line `show go` must come before the long operation). Waits at most
// `boundMs` for the worker's body to return; a worker that does not end is
// left running (the host is leaked on purpose: destroying it would wait for
// the worker for ever), so the test fails instead of hanging.
ConsoleRun RunInConsole(const std::filesystem::path& home, const std::string& script,
                        int stopAfterMs, int boundMs);

}  // namespace velmar::testing

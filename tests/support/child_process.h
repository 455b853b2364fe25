#pragma once
// A server program run in the background for a test, stopped on destruction.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmar::testing {

class ChildProcess {
 public:
  // Starts the program; its output is appended to `log`, or dropped when no
  // log is given. running() is false when it could not be started.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::filesystem::path& log = {});
  // Stop() with the default grace time.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return pid_ > 0; }
  // True once the program has ended by itself.
  bool Exited();
  // Ends it at once, without a chance to shut down cleanly.
  void Kill();
  // Asks it to end (SIGTERM); kills it when it has not ended after `graceMs`.
  void Stop(int graceMs = 2000);

 private:
  pid_t pid_ = -1;
};

}  // namespace velmar::testing

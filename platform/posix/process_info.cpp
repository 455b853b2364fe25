#include "platform/process_info.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <system_error>

namespace velmar::platform {

std::filesystem::path ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

long CurrentProcessId() {
  return static_cast<long>(::getpid());
}

bool ProcessIsGone(long pid) {
  return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace velmar::platform

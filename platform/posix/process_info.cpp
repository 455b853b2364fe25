#include "platform/process_info.h"

#include <unistd.h>

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

}  // namespace velmar::platform

#include "platform/output_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace velmar::platform {

std::FILE* CreateOutputFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) ::close(fd);
  return file;
}

}  // namespace velmar::platform

#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velmar::platform {

std::FILE* OpenRegularFileForReading(const std::string& path) {
  // Opened without blocking so that a pipe with no writer is refused at
  // once instead of waiting in open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

bool RegularFileSize(std::FILE* file, uint64_t& size) {
  struct stat st;
  if (!file || ::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    return false;
  }
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

PathKind KindOfPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    return S_ISREG(st.st_mode) ? PathKind::kRegularFile : PathKind::kOther;
  }
  return errno == ENOENT ? PathKind::kMissing : PathKind::kOther;
}

}  // namespace velmar::platform

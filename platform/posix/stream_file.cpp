#include "platform/stream_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmar::platform {

bool StreamFile::Open(const std::string& path, std::string& reason) {
  Close();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    reason = path + ": " + std::strerror(errno);
    return false;
  }
  // An existing file keeps its mode through O_CREAT: narrowed here, so an
  // old world-readable file does not hand on what this run records.
  if (::fchmod(fd, 0600) != 0) {
    reason = path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool StreamFile::Write(std::string_view data, std::string& reason) {
  if (fd_ < 0) {
    reason = "not open";
    return false;
  }
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = path_ + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) {
      reason = path_ + ": " + std::strerror(ENOSPC);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void StreamFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace velmar::platform

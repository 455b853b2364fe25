#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

WholeFileRead ReadWholeRegularFile(const std::string& path, uint64_t limit, std::string& out,
                                   std::string& reason) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return WholeFileRead::kMissing;
    reason = "cannot read " + path + ": " + std::strerror(errno);
    return WholeFileRead::kRefused;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = "cannot read " + path + ": not a regular file";
    return WholeFileRead::kRefused;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    ::close(fd);
    reason = "cannot read " + path + ": larger than " + std::to_string(limit) + " bytes";
    return WholeFileRead::kRefused;
  }
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t have = 0;
  // A file that grows while it is read is taken up to its size at the
  // start; one that shrinks ends where it ends.
  while (have < out.size()) {
    const ssize_t n = ::read(fd, out.data() + have, out.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      out.clear();
      reason = "cannot read " + path + ": " + std::strerror(error);
      return WholeFileRead::kRefused;
    }
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  out.resize(have);
  ::close(fd);
  return WholeFileRead::kRead;
}

PathKind KindOfPath(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    return S_ISREG(st.st_mode) ? PathKind::kRegularFile : PathKind::kOther;
  }
  return errno == ENOENT ? PathKind::kMissing : PathKind::kOther;
}

}  // namespace velmar::platform

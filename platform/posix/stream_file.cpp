#include "platform/stream_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// Room is reserved once a file is past this size, each time as much as it
// holds (within the bounds): a short file (a body, a trace of a short run)
// never pays for it.
constexpr uint64_t kReserveFrom = 256 * 1024;
constexpr uint64_t kLeastReserve = 1024 * 1024;
constexpr uint64_t kMostReserve = 16 * 1024 * 1024;

}  // namespace

bool StreamFile::Write(std::string_view data, std::string& reason) {
  if (fd_ < 0) {
    reason = "not open";
    return false;
  }
#ifdef FALLOC_FL_KEEP_SIZE
  const uint64_t end = written_ + data.size();
  if (reserving_ && end > reserved_ && end > kReserveFrom) {
    const uint64_t step = std::min(std::max(written_, kLeastReserve), kMostReserve);
    // Blocks past the end, the size kept: a file system without it, or a
    // disk without the room, is simply written as it goes.
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(written_),
                    static_cast<off_t>(end - written_ + step)) == 0) {
      reserved_ = end + step;
    } else {
      reserving_ = false;
    }
  }
#endif
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
    written_ += static_cast<uint64_t>(n);
  }
  return true;
}

void StreamFile::Close() {
  if (fd_ < 0) return;
  // The room reserved past the end stays the file's until cut off.
  if (reserved_ > written_) (void)::ftruncate(fd_, static_cast<off_t>(written_));
  ::close(fd_);
  fd_ = -1;
  written_ = reserved_ = 0;
  reserving_ = true;
}

}  // namespace velmar::platform

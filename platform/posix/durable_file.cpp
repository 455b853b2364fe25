#include "platform/durable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace velmar::platform {

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? NewFileResult::kNameTaken : NewFileResult::kFailed;
  const bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return NewFileResult::kFailed;
  }
  return NewFileResult::kWritten;
}

}  // namespace velmar::platform

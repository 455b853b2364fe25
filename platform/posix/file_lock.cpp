#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/stop_signal.h"

namespace velmar::platform {

FileLock::FileLock(const std::filesystem::path& file, bool exclusive, const StopSignal* stop,
                   std::chrono::milliseconds limit) {
  handle_ = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (handle_ < 0) return;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::flock(handle_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK || errno == EINTR;
    if (!busy || (stop && stop->requested()) || std::chrono::steady_clock::now() >= deadline) {
      ::close(handle_);
      handle_ = -1;
      return;
    }
    // Short enough that a stop ends the wait within a few milliseconds; the
    // lock's users hold it briefly, so it is usually free at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

FileLock::~FileLock() {
  if (handle_ >= 0) ::close(handle_);  // closing releases the lock
}

}  // namespace velmar::platform

namespace velmar::platform {

FolderLock::FolderLock(const std::filesystem::path& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder.string();
  handle_ = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle_ < 0) return;
  while (::flock(handle_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FolderLock::~FolderLock() {
  if (handle_ >= 0) ::close(handle_);
}

}  // namespace velmar::platform

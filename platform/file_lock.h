#pragma once
// An advisory lock on a companion file, shared by every program of the user
// that works on the same data (the shared cookie store).

#include <chrono>
#include <filesystem>

namespace velmar {
class StopSignal;
}

namespace velmar::platform {

// Holds the lock on `<file>.lock` (created readable by its owner only) for
// the lifetime of the object. Another program may hold the lock for as long
// as it likes (or hang while holding it), so the wait is bounded and gives
// way to a stop request; held() tells whether the lock was taken.
class FileLock {
 public:
  FileLock(const std::filesystem::path& file, bool exclusive, const StopSignal* stop,
           std::chrono::milliseconds limit);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return handle_ >= 0; }

 private:
  int handle_ = -1;
};

}  // namespace velmar::platform

namespace velmar::platform {

// An exclusive lock on a folder, held for the life of the object; waits as
// long as another holder keeps it. Without a folder to open it holds
// nothing (held() is false).
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool held() const { return handle_ >= 0; }

 private:
  int handle_ = -1;
};

}  // namespace velmar::platform

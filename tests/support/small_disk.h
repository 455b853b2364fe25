#pragma once
// A small file system that fills up: a tmpfs of a few kilobytes mounted on
// a throwaway folder, for the writers' behaviour on a full disk. Mounting
// needs root (the CI machine runs the tests as root).

#include <cstddef>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace velmar::testing {

class SmallDisk {
 public:
  explicit SmallDisk(std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  // False where no tmpfs could be mounted (not root): the caller skips.
  bool mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return dir_.path(); }
  // Fills what is left of the disk with one file, so the next write of
  // more than a block fails for want of space.
  void Fill() const;

 private:
  TempDir dir_;
  bool mounted_ = false;
};

}  // namespace velmar::testing

// Skips (or, under CI=true, fails) a test that needs a small disk.
#define VELMAR_NEED_SMALL_DISK(disk)                                  \
  do {                                                                \
    if (!(disk).mounted()) VELMAR_SKIP_WITHOUT("a tmpfs mount (root)"); \
  } while (false)

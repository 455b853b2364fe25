#include "support/small_disk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace velmar::testing {

SmallDisk::SmallDisk(std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  // Detached, so a file a test left open cannot keep the folder busy.
  if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
}

void SmallDisk::Fill() const {
  const std::string file = (dir_.path() / "filler").string();
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  // The last partial page too, byte by byte in growing steps.
  for (std::size_t n = 2048; n > 0; n /= 2) {
    while (::write(fd, block.data(), n) > 0) {
    }
  }
  ::close(fd);
}

}  // namespace velmar::testing

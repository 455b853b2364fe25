#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velmar::platform {

WakeEvent::WakeEvent() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
  if (handle_ >= 0) close(handle_);
}

void WakeEvent::Set() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(handle_, &one, sizeof one);
}

WakeEvent::Wait WakeEvent::WaitForInput(Descriptor input) {
  while (true) {
    pollfd fds[2] = {{input, POLLIN, 0}, {handle_, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Wait::kFailed;
    }
    if (fds[1].revents != 0) return Wait::kWoken;
    if (fds[0].revents != 0) return Wait::kInput;
  }
}

}  // namespace velmar::platform

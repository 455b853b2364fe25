#include "platform/console_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace velmar::platform {

Descriptor DescriptorOf(std::FILE* stream) {
  return stream ? fileno(stream) : -1;
}

int ReadByte(Descriptor input, char& byte) {
  while (true) {
    const ssize_t n = read(input, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int>(n);
  }
}

WriteReadiness WaitForRoom(Descriptor output, int limitMs) {
  pollfd pfd{output, POLLOUT, 0};
  const int ready = poll(&pfd, 1, limitMs);
  if (ready < 0) return errno == EINTR ? WriteReadiness::kNotYet : WriteReadiness::kFailed;
  return ready == 0 ? WriteReadiness::kNotYet : WriteReadiness::kReady;
}

long WriteSome(Descriptor output, std::string_view bytes) {
  const ssize_t n = write(output, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  return static_cast<long>(n);
}

Descriptor OpenForReading(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void CloseDescriptor(Descriptor descriptor) {
  if (descriptor >= 0) close(descriptor);
}

std::optional<uint64_t> RegularFileSizeOf(Descriptor descriptor) {
  struct stat st {};
  if (fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

long ReadSome(Descriptor input, char* buffer, std::size_t capacity) {
  while (true) {
    const ssize_t n = read(input, buffer, capacity);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

}  // namespace velmar::platform

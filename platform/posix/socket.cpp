#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace velmar::platform {
namespace {

struct Resolved {
  sockaddr_storage address{};
  socklen_t length = 0;
  int family = AF_INET;
};

bool Resolve(const std::string& name, int port, std::vector<Resolved>& out) {
  if (port <= 0 || port > 65535) return false;
  in_addr v4{};
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) {
    Resolved r;
    auto* sin = reinterpret_cast<sockaddr_in*>(&r.address);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(static_cast<uint16_t>(port));
    sin->sin_addr = v4;
    r.length = sizeof(sockaddr_in);
    out.push_back(r);
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0 || !list) return false;
  for (int pass = 0; pass < 2; ++pass) {
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
      const bool isV4 = ai->ai_family == AF_INET;
      if ((pass == 0) != isV4) continue;
      if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
      Resolved r;
      std::memcpy(&r.address, ai->ai_addr, ai->ai_addrlen);
      r.length = static_cast<socklen_t>(ai->ai_addrlen);
      r.family = ai->ai_family;
      out.push_back(r);
    }
  }
  freeaddrinfo(list);
  return !out.empty();
}

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool SetTimeoutOption(int fd, int option, int32_t ms) {
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

static_assert(sizeof(sockaddr_storage) <= 128, "TcpSocket::address_ holds any address");

bool TcpSocket::Open(const std::string& host, int port, int32_t receiveTimeoutMs,
                     int32_t sendTimeoutMs) {
  Close();
  std::vector<Resolved> addresses;
  if (!Resolve(host, port, addresses)) return false;
  const Resolved* target = nullptr;
  for (const Resolved& r : addresses) {
    // Created non-blocking for the timed connect; blocking again afterwards.
    handle_ = ::socket(r.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (handle_ >= 0) {
      target = &r;
      break;
    }
  }
  if (!target) return false;
  std::memcpy(address_, &target->address, target->length);
  addressLength_ = target->length;

  if (receiveTimeoutMs != 0 || sendTimeoutMs != 0) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    if (setsockopt(handle_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg) != 0) return false;
    if (receiveTimeoutMs > 0 && !SetTimeoutOption(handle_, SO_RCVTIMEO, receiveTimeoutMs)) {
      return false;
    }
    if (sendTimeoutMs > 0 && !SetTimeoutOption(handle_, SO_SNDTIMEO, sendTimeoutMs)) return false;
  }
  const int one = 1;
  setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool TcpSocket::Connect(int limitMs, const std::function<bool()>& stopped) {
  if (handle_ < 0) return false;
  if (::connect(handle_, reinterpret_cast<const sockaddr*>(address_),
                static_cast<socklen_t>(addressLength_)) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0 || (stopped && stopped())) return false;
      pollfd p{handle_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      return false;
    }
  }
  return SetBlocking(handle_, true);
}

long TcpSocket::Send(const char* bytes, std::size_t length) {
  if (handle_ < 0) return -1;
  while (true) {
    const ssize_t n = ::send(handle_, bytes, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

long TcpSocket::Receive(char* buffer, std::size_t capacity) {
  if (handle_ < 0) return -1;
  while (true) {
    const ssize_t n = ::recv(handle_, buffer, capacity, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

void TcpSocket::Close() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = kNoSocket;
  addressLength_ = 0;
}

void ShutdownSocket(SocketHandle socket) {
  if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

bool IsIpLiteral(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

void IgnoreBrokenPipe() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      signal(SIGPIPE, SIG_IGN);
    }
  });
}

int WaitForSocket(SocketHandle socket, SocketEvents wanted, int limitMs, SocketEvents& happened) {
  pollfd p{socket, 0, 0};
  if (wanted.read) p.events |= POLLIN;
  if (wanted.write) p.events |= POLLOUT;
  if (wanted.urgent) p.events |= POLLPRI;
  const int ready = ::poll(&p, socket >= 0 ? 1 : 0, limitMs);
  happened = {};
  if (ready > 0) {
    happened.read = (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    happened.write = (p.revents & (POLLOUT | POLLHUP | POLLERR)) != 0;
    happened.urgent = (p.revents & POLLPRI) != 0;
  }
  return ready;
}

}  // namespace velmar::platform

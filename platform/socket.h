#pragma once
// TCP sockets and name resolution for the network clients of the core: the
// HTTP connection opens its own sockets here, the database client waits on
// the socket its client library owns.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velmar::platform {

using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;

// A connected (or connecting) TCP stream socket; closed with the object.
class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket() { Close(); }
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Resolves `host` (a dotted IPv4 address needs no lookup; of the names'
  // addresses the IPv4 ones come first) and creates a socket for the first
  // address that gives one. Positive time-outs (milliseconds) bound each
  // blocking send or receive; with either of them set, the socket ends with
  // a reset instead of lingering. False when the name does not resolve, the
  // port is outside 1..65535 or no socket can be set up.
  bool Open(const std::string& host, int port, int32_t receiveTimeoutMs, int32_t sendTimeoutMs);
  // Connects to the address Open chose, waiting at most `limitMs` and
  // looking at `stopped` every 100 ms; the socket blocks again afterwards.
  bool Connect(int limitMs, const std::function<bool()>& stopped);
  // Count sent, or 0 or less when the peer is gone or the time-out passed;
  // a broken connection never raises a signal.
  long Send(const char* bytes, std::size_t length);
  // Count received, 0 at the end of the stream, negative on error.
  long Receive(char* buffer, std::size_t capacity);
  void Close();

  bool valid() const { return handle_ != kNoSocket; }
  SocketHandle handle() const { return handle_; }

 private:
  SocketHandle handle_ = kNoSocket;
  // The address Open resolved, for Connect.
  alignas(8) unsigned char address_[128] = {};
  unsigned addressLength_ = 0;
};

// Ends both directions of a socket at once, from any thread: a blocked send
// or receive on it fails. The handle stays open for its owner to close.
void ShutdownSocket(SocketHandle socket);

// True for a numeric IPv4 or IPv6 address (no name to look up or to send
// as a TLS server name).
bool IsIpLiteral(const std::string& host);

// Keeps a peer that has gone away from ending the program when a library
// writes to its socket with plain write(): the write fails instead. Leaves a
// disposition the program set itself alone.
void IgnoreBrokenPipe();

// What a socket is ready for.
struct SocketEvents {
  bool read = false;
  bool write = false;
  bool urgent = false;
};

// Waits up to `limitMs` for `socket` to become ready for one of `wanted`.
// Positive when it did (with `happened` filled; a hang-up or error counts as
// ready for reading and writing), 0 when the time passed, negative on error.
// Without a socket (kNoSocket) it only waits.
int WaitForSocket(SocketHandle socket, SocketEvents wanted, int limitMs, SocketEvents& happened);

}  // namespace velmar::platform

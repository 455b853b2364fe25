#pragma once
// Reading an HTTP response: the header block as the bytes arrive (apart
// from any socket, for the byte-level rules), the proxy's reply to CONNECT,
// and the body into memory or into a file.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

class Connection;

// Collects a header block up to and including its first empty line (LF or
// CR LF after a line end; CR bytes never count as line content). Bytes may
// arrive in pieces of any size.
class HeaderBlockReader {
 public:
  // Appends bytes to `headers` until the block is complete or `headers`
  // holds `limit` bytes; returns how many bytes of `bytes` were taken.
  std::size_t Feed(std::string& headers, std::string_view bytes, std::size_t limit);
  bool complete() const { return complete_; }

 private:
  int count_ = 0;  // bytes other than CR since the last LF
  bool complete_ = false;
};

// "HTTP/1.x 2xx ..." opens the tunnel; anything else is the proxy's refusal.
bool TunnelAccepted(std::string_view reply);

// Appends the connection's next header block to `headers` (at most `limit`
// bytes); false when the stream ends or fails before the block is complete.
bool ReadHeaderBlock(Connection& connection, std::string& headers, std::size_t limit);

// The rest of the stream into the file at `path`, block by block, so any
// size of body keeps the memory use flat. The body goes into a temporary
// file beside it that takes the file's place only once the stream has
// ended; a download that a full disk or a stop cut short leaves the old
// file as it was and gives false with the reason. A file that cannot be
// created takes nothing and the body is not read. `followLink`: the script
// named the path itself (see platform/durable_file.h).
bool ReadBodyToFile(Connection& connection, const std::string& path, bool followLink,
                    std::string& reason);

// The rest of the stream appended to `body` until it ends or a stop is
// requested. False when the body would grow past `limit` bytes (the part
// read so far stays in `body`).
bool ReadBodyToMemory(Connection& connection, std::string& body, std::size_t limit);

}  // namespace velmar

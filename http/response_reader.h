#pragma once
// The byte-level reading of an HTTP response head, apart from the socket:
// finding the end of the header block as the bytes arrive, and telling
// whether a proxy's reply to CONNECT opened the tunnel.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

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

}  // namespace velmar

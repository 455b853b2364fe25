#include "http/response_reader.h"

namespace velmar {

std::size_t HeaderBlockReader::Feed(std::string& headers, std::string_view bytes,
                                    std::size_t limit) {
  std::size_t taken = 0;
  while (!complete_ && taken < bytes.size() && headers.size() < limit) {
    const char c = bytes[taken++];
    headers += c;
    if (c == '\n') {
      if (count_ == 0) complete_ = true;
      count_ = 0;
    } else if (c != '\r') {
      ++count_;
    }
  }
  return taken;
}

bool TunnelAccepted(std::string_view reply) {
  if (reply.size() < 12 || reply.compare(0, 5, "HTTP/") != 0) return false;
  const std::size_t space = reply.find(' ');
  return space != std::string_view::npos && space + 1 < reply.size() && reply[space + 1] == '2';
}

}  // namespace velmar

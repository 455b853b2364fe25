#include "http/response_reader.h"

#include <algorithm>
#include <cstdio>

#include "http/connection.h"
#include "platform/durable_file.h"

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

bool ReadHeaderBlock(Connection& connection, std::string& headers, std::size_t limit) {
  HeaderBlockReader reader;
  while (!reader.complete() && headers.size() < limit) {
    if (connection.Buffered().empty() && connection.Fill() <= 0) return false;
    connection.Take(reader.Feed(headers, connection.Buffered(), limit));
  }
  return reader.complete();
}

bool ReadBodyToFile(Connection& connection, const std::string& path, bool followLink,
                    std::string& reason) {
  platform::ReplacingFile file;
  platform::FileWriteOptions options;
  options.followLink = followLink;
  if (!file.Open(path, options, reason)) return false;
  bool written = true;
  while (true) {
    if (connection.Buffered().empty() && connection.Fill() <= 0) break;
    const std::string_view block = connection.Buffered();
    connection.Take(block.size());
    // After a failed write the rest of the stream is still read, so the
    // connection ends as it does for any other response.
    if (written) written = file.Write(block, reason);
  }
  if (connection.StopRequested()) {
    reason = "stopped";
    return false;
  }
  return file.Commit(reason);
}

bool ReadBodyToMemory(Connection& connection, std::string& body, std::size_t limit) {
  while (!connection.StopRequested()) {
    if (connection.Buffered().empty() && connection.Fill() <= 0) break;
    const std::string_view block = connection.Buffered();
    if (body.size() + block.size() > limit) return false;
    if (body.capacity() - body.size() < block.size()) {
      // Grown in doubling steps up to the limit, never past it.
      body.reserve(std::min(limit, std::max(body.capacity() * 2, body.size() + block.size())));
    }
    body.append(block);
    connection.Take(block.size());
  }
  return true;
}

}  // namespace velmar

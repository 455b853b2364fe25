#include "http/response_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "http/connection.h"
#include "platform/output_file.h"

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

std::string ReadBodyToFile(Connection& connection, const std::string& path) {
  errno = 0;
  std::FILE* file = platform::CreateOutputFile(path);
  int error = file ? 0 : (errno != 0 ? errno : EIO);
  while (true) {
    if (connection.Buffered().empty() && connection.Fill() <= 0) break;
    const std::string_view block = connection.Buffered();
    connection.Take(block.size());
    if (file && error == 0 && std::fwrite(block.data(), 1, block.size(), file) != block.size()) {
      error = errno != 0 ? errno : EIO;
    }
  }
  // A full disk often shows only when the last block is flushed.
  if (file && std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (error == 0) return {};
  return "cannot write the download file " + path + ": " + std::strerror(error);
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

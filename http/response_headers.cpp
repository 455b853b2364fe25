#include "http/response_headers.h"

namespace velmar {
namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string Lower(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

}  // namespace

int StatusCodeOf(std::string_view headers) {
  if (headers.size() < 12 || headers.compare(0, 5, "HTTP/") != 0) return 0;
  const std::size_t space = headers.find(' ');
  if (space == std::string_view::npos || space + 4 > headers.size()) return 0;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    const char c = headers[i];
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  if (space + 4 < headers.size() && headers[space + 4] >= '0' && headers[space + 4] <= '9') {
    return 0;
  }
  return code;
}

std::string HeaderValue(std::string_view headers, std::string_view name) {
  std::size_t from = headers.find('\n');  // the status line is no header
  while (from != std::string_view::npos && from < headers.size()) {
    ++from;
    std::size_t end = headers.find('\n', from);
    std::string_view line = headers.substr(from, end == std::string_view::npos ? end : end - from);
    from = end;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() <= name.size() || line[name.size()] != ':') continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = LowerAscii(line[i]) == LowerAscii(name[i]);
    }
    if (!same) continue;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return std::string(value);
  }
  return {};
}

long long ContentLengthOf(std::string_view headers) {
  const std::string value = HeaderValue(headers, "Content-Length");
  if (value.empty() || value.size() > 18) return -1;
  long long n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool KeepsConnection(std::string_view headers) {
  const std::string connection = Lower(HeaderValue(headers, "Connection"));
  if (headers.compare(0, 8, "HTTP/1.1") == 0) return connection.find("close") == std::string::npos;
  return connection.find("keep-alive") != std::string::npos;
}

}  // namespace velmar

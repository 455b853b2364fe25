#pragma once
// What the client reads out of a response's header block: the status code,
// single header values, and how the body is framed. Pure: texts in, values
// out.

#include <string>
#include <string_view>

namespace velmar {

// The code of a status line "HTTP/x.y NNN ..."; 0 when the block starts
// with none.
int StatusCodeOf(std::string_view headers);
// The value of the first header line named `name` (any letter case), blanks
// around it removed; empty when there is none.
std::string HeaderValue(std::string_view headers, std::string_view name);
// `Content-Length` as a count; -1 when missing or not a number.
long long ContentLengthOf(std::string_view headers);
// Whether the server keeps the connection open after this response: an
// HTTP/1.1 response without "Connection: close", or an HTTP/1.0 one with
// "Connection: keep-alive".
bool KeepsConnection(std::string_view headers);
// A response to these codes never has a body.
inline bool HasNoBody(int status) {
  return (status >= 100 && status < 200) || status == 204 || status == 304;
}
// 301, 302, 303, 307 and 308.
inline bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace velmar

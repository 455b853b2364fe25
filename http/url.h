#pragma once
// The one reading of an http or https URL, shared by the client (where to
// connect, what to ask for) and the cookie store (which cookies belong to
// it). Pure: a text in, a value out.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmar {

struct Url {
  // A longer name is no valid host name (DNS allows 255 bytes at most), so
  // such a URL fails instead of reaching a server under a cut name. Paths
  // have no limit: the server gets the URL exactly as the script wrote it.
  static constexpr std::size_t kMaxHostLength = 255;

  bool secure = false;          // https
  bool schemeWritten = false;   // false for a bare "host/path", taken as http
  bool slashesWritten = false;  // "//" came before the host
  std::string host;             // as written (case kept), never holds ':'
  // 80 or 443 unless written; a written port is read like a script number
  // and kept within -1 .. 2^20 (the connection refuses what no port can be).
  int port = 80;
  // Everything after the host and port, as written: usually the path with
  // its query, or empty.
  std::string target;

  // "HTTP" or "HTTPS", as the client names the scheme.
  const char* scheme() const { return secure ? "HTTPS" : "HTTP"; }
};

// Splits `text` as the client always has: the text before the first ':' is
// the scheme (only http and https pass, in any case; without a ':' the URL
// is http), an optional "//", then the host with its port as the longest run
// of letters, digits, '-', '.' and ':'. Whatever follows is the target, even
// when it does not start with '/' ("http://user@h/x" names the host "user").
// Nothing is trimmed or decoded. Fails for another scheme and for a host
// longer than kMaxHostLength.
std::optional<Url> ParseUrl(std::string_view text);

// The URL a reference such as a `Location` header names, read against the
// URL of the request it answered: an absolute http(s) URL as it is, "//host/x"
// with the request's scheme, "/x" on the request's host and port, "?q" on its
// path, and "x" or "../x" beside its path (dot segments removed). The
// fragment is left off, since it is never sent. Empty when `base` is no URL
// that can be requested.
std::string ResolveReference(std::string_view base, std::string_view reference);

}  // namespace velmar

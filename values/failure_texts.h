#pragma once
// Why a request of the HTTP client or an operation of a database connection
// failed: a code the callers and tests compare, with the parts its text
// names (a host, a port, the TLS library's or the driver's own reason).
// Each code has one text in the table of failure_texts.cpp; the texts go to
// the host's diagnostics (standard error of the console programs) as they
// are, in English, so they stay apart from the alerts of values/messages.h.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

enum class HttpFailure : uint8_t {
  kNone,
  kBadUrl,              // the URL cannot be requested
  kPortOutOfRange,      // the port to connect to is no TCP port
  kNameNotResolved,     // the host (or proxy) name has no address
  kConnectionRefused,   // no connection within the connect limit
  kProxyTunnelRefused,  // the proxy opened no CONNECT tunnel
  kTlsRefused,          // the TLS handshake failed, with the library's reason
  kTlsNoCertificate,    // the handshake ended without a named certificate
  kTooManyRedirects,    // more redirects than the script allows
  kNoResponse,          // nothing within the receive time-out
  kBodyTooLarge,        // a body read into memory past its limit
  kBodyBroken,          // broken chunked or compressed framing
  kBodyNotCompressed,   // a body said to be compressed that is no such stream
  kSaveFailed,          // the download's file could not be written
  kStopped,             // a stop ended the request
};

enum class DbFailure : uint8_t {
  kNone,
  kDriver,              // the client library's or driver's own message
  kOutOfMemory,         // no handle for a MySQL connection
  kMysqlNotOpen,        // a query on a MySQL connection that is not open
  kNotOpen,             // a query on an ODBC connection that is not open
  kNoOdbcEnvironment,   // the ODBC driver manager gave no environment
  kStopped,             // a stop ended the operation
};

// A failure and the parts its text names: part 1 takes the place of "%1" in
// the code's text, part 2 of "%2", and so on.
template <typename Code>
struct Failure {
  Code code = Code::kNone;
  std::vector<std::string> parts;

  explicit operator bool() const { return code != Code::kNone; }
  void Set(Code c, std::initializer_list<std::string> with = {}) {
    code = c;
    parts.assign(with);
  }
  void Clear() {
    code = Code::kNone;
    parts.clear();
  }
};

using HttpError = Failure<HttpFailure>;
using DbError = Failure<DbFailure>;

// The text of a code, with its "%N" places left open.
std::string_view FailureText(HttpFailure code);
std::string_view FailureText(DbFailure code);

// The whole text of a failure; empty for none.
std::string Describe(const HttpError& failure);
std::string Describe(const DbError& failure);

// Fills "%1" to "%9" of `text` with `parts`; a place without a part stays empty.
std::string FillParts(std::string_view text, const std::vector<std::string>& parts);

}  // namespace velmar

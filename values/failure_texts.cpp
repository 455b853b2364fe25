#include "values/failure_texts.h"

#include <iterator>

namespace velmar {
namespace {

template <typename Code>
struct Row {
  Code code;
  const char* text;
};

// Kept in the order of the enumeration; failure_texts_test checks that each
// code has its own row.
constexpr Row<HttpFailure> kHttpTexts[] = {
    {HttpFailure::kNone, ""},
    {HttpFailure::kBadUrl, "not a URL that can be requested: %1"},
    {HttpFailure::kPortOutOfRange, "port %1 is out of range"},
    {HttpFailure::kNameNotResolved, "cannot resolve %1"},
    {HttpFailure::kConnectionRefused, "cannot connect to %1:%2"},
    {HttpFailure::kProxyTunnelRefused, "the proxy %1:%2 opened no tunnel to %3:%4"},
    {HttpFailure::kTlsRefused, "%1"},
    {HttpFailure::kTlsNoCertificate, "the server %1 presented no named certificate"},
    {HttpFailure::kTooManyRedirects, "more than %1 redirects; the last led from %2 to %3"},
    {HttpFailure::kNoResponse, "no response from %1:%2 within the receive time-out"},
    {HttpFailure::kBodyTooLarge, "response body larger than %1 bytes"},
    {HttpFailure::kBodyBroken, "the response body is broken (chunked or compressed)"},
    {HttpFailure::kBodyNotCompressed, "the response body is no valid compressed stream"},
    {HttpFailure::kSaveFailed, "%1"},
    {HttpFailure::kStopped, "stopped"},
};

constexpr Row<DbFailure> kDbTexts[] = {
    {DbFailure::kNone, ""},
    {DbFailure::kDriver, "%1"},
    {DbFailure::kOutOfMemory, "out of memory"},
    {DbFailure::kMysqlNotOpen, "MySQL server connection is not open"},
    {DbFailure::kNotOpen, "connection is not open"},
    {DbFailure::kNoOdbcEnvironment, "ODBC environment unavailable"},
    {DbFailure::kStopped, "stopped"},
};

template <typename Code, std::size_t N>
std::string_view Lookup(const Row<Code> (&table)[N], Code code) {
  const auto at = static_cast<std::size_t>(code);
  return at < N && table[at].code == code ? table[at].text : "";
}

}  // namespace

std::string_view FailureText(HttpFailure code) { return Lookup(kHttpTexts, code); }
std::string_view FailureText(DbFailure code) { return Lookup(kDbTexts, code); }

std::string FillParts(std::string_view text, const std::vector<std::string>& parts) {
  std::string out;
  out.reserve(text.size() + 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const auto part = static_cast<std::size_t>(text[i + 1] - '1');
      if (part < parts.size()) out += parts[part];
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string Describe(const HttpError& failure) {
  return FillParts(FailureText(failure.code), failure.parts);
}

std::string Describe(const DbError& failure) {
  return FillParts(FailureText(failure.code), failure.parts);
}

}  // namespace velmar

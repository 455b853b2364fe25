#include "http/url.h"

#include <algorithm>

#include "values/text_file_ops.h"

namespace velmar {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view lowerB) {
  if (a.size() != lowerB.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != lowerB[i]) return false;
  }
  return true;
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ':';
}

}  // namespace

std::optional<Url> ParseUrl(std::string_view text) {
  Url url;
  std::string_view rest = text;
  // The first ':' of the whole text ends a scheme: "host:8080/" without one
  // is read as the scheme "host" and fails.
  if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
    const std::string_view scheme = rest.substr(0, colon);
    if (EqualsIgnoringCase(scheme, "https")) {
      url.secure = true;
      url.port = 443;
    } else if (!EqualsIgnoringCase(scheme, "http")) {
      return std::nullopt;
    }
    url.schemeWritten = true;
    rest.remove_prefix(colon + 1);
  }
  if (rest.substr(0, 2) == "//") {
    url.slashesWritten = true;
    rest.remove_prefix(2);
  }
  std::size_t hostEnd = 0;
  while (hostEnd < rest.size() && IsHostChar(rest[hostEnd])) ++hostEnd;
  std::string_view authority = rest.substr(0, hostEnd);
  url.target = rest.substr(hostEnd);
  if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    const long long port = LeadingInteger(authority.substr(colon + 1));
    url.port = static_cast<int>(std::clamp<long long>(port, -1, 1 << 20));
    authority = authority.substr(0, colon);
  }
  if (authority.size() > Url::kMaxHostLength) return std::nullopt;
  url.host = authority;
  return url;
}

}  // namespace velmar

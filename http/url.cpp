#include "http/url.h"

#include <algorithm>
#include <vector>

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

// "name:digits" with nothing but host characters before the colon; the
// names of the two schemes never count as hosts.
bool IsBareHostAndPort(std::string_view text, std::size_t colon) {
  const std::string_view name = text.substr(0, colon);
  if (name.empty() || EqualsIgnoringCase(name, "http") || EqualsIgnoringCase(name, "https")) {
    return false;
  }
  for (char c : name) {
    if (!IsHostChar(c)) return false;
  }
  return colon + 1 < text.size() && text[colon + 1] >= '0' && text[colon + 1] <= '9';
}

}  // namespace

std::optional<Url> ParseUrl(std::string_view text) {
  Url url;
  std::string_view rest = text;
  // The first ':' of the whole text ends a scheme, unless what comes before
  // it reads as a host name and a port number follows: "localhost:8080/x"
  // is the plain URL the manual promises, while "ftp://x" still fails.
  if (const std::size_t colon = rest.find(':');
      colon != std::string_view::npos && !IsBareHostAndPort(rest, colon)) {
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

namespace {

// "/a/b/../c/./d" becomes "/a/c/d"; a ".." above the root stays at the root.
std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> kept;
  std::size_t from = 1;
  const bool trailingSlash = path.size() > 1 && (path.back() == '/' || path.ends_with("/.") ||
                                                 path.ends_with("/.."));
  while (from <= path.size()) {
    std::size_t end = path.find('/', from);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(from, end - from);
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
    } else if (segment != "." && !segment.empty()) {
      kept.push_back(segment);
    } else if (segment.empty() && end < path.size()) {
      kept.push_back(segment);  // "//" inside a path is kept
    }
    from = end + 1;
  }
  std::string out;
  for (std::string_view segment : kept) {
    out += '/';
    out += segment;
  }
  if (out.empty() || (trailingSlash && out.back() != '/')) out += '/';
  return out;
}

bool StartsWithScheme(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view scheme = text.substr(0, colon);
  return EqualsIgnoringCase(scheme, "http") || EqualsIgnoringCase(scheme, "https");
}

}  // namespace

std::string ResolveReference(std::string_view base, std::string_view reference) {
  while (!reference.empty() && (reference.front() == ' ' || reference.front() == '\t')) {
    reference.remove_prefix(1);
  }
  while (!reference.empty() && (reference.back() == ' ' || reference.back() == '\t')) {
    reference.remove_suffix(1);
  }
  if (const std::size_t hash = reference.find('#'); hash != std::string_view::npos) {
    reference = reference.substr(0, hash);
  }
  if (StartsWithScheme(reference)) return std::string(reference);
  const std::optional<Url> url = ParseUrl(base);
  if (!url) return {};
  const std::string scheme = url->secure ? "https:" : "http:";
  if (reference.starts_with("//")) return scheme + std::string(reference);
  std::string origin = scheme + "//" + url->host;
  if (url->port != (url->secure ? 443 : 80)) origin += ":" + std::to_string(url->port);
  std::string_view target = url->target;
  if (const std::size_t hash = target.find('#'); hash != std::string_view::npos) {
    target = target.substr(0, hash);
  }
  const std::size_t queryAt = target.find('?');
  std::string path(target.substr(0, queryAt));
  if (path.empty() || path.front() != '/') path = "/" + path;
  if (reference.empty()) return origin + std::string(target.empty() ? "/" : target);
  if (reference.front() == '?') return origin + path + std::string(reference);
  const std::size_t refQuery = reference.find('?');
  const std::string_view refPath = reference.substr(0, refQuery);
  const std::string_view refRest =
      refQuery == std::string_view::npos ? std::string_view() : reference.substr(refQuery);
  std::string merged;
  if (refPath.starts_with("/")) {
    merged = refPath;
  } else {
    merged = path.substr(0, path.rfind('/') + 1);
    merged += refPath;
  }
  return origin + RemoveDotSegments(merged) + std::string(refRest);
}

}  // namespace velmar

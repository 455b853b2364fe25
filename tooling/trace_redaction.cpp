#include "tooling/trace_redaction.h"

#include <array>

namespace velmar {
namespace {

// Header and field names are ASCII; bytes of other letters stay as they are.
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// `lower` in lower case already. Every header line of every traced request
// is compared: no copy is made for it.
bool EqualsNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lower[i]) return false;
  }
  return true;
}

bool IsSecretHeader(std::string_view name) {
  return EqualsNoCase(name, "cookie") || EqualsNoCase(name, "set-cookie") ||
         EqualsNoCase(name, "authorization") || EqualsNoCase(name, "proxy-authorization");
}

// The value of a parameter as a header holds it (`name="value"`).
std::string_view HeaderParameter(std::string_view header, std::string_view name) {
  const std::string lower = Lower(header);
  const std::string key = Lower(name) + "=";
  std::size_t at = lower.find(key);
  while (at != std::string::npos && at > 0 && lower[at - 1] != ' ' && lower[at - 1] != ';') {
    at = lower.find(key, at + 1);
  }
  if (at == std::string::npos) return {};
  std::string_view rest = header.substr(at + key.size());
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    return rest.substr(0, rest.find('"'));
  }
  return rest.substr(0, rest.find_first_of("; \r\n"));
}

// The head's header value (first match, no letter case), or empty.
std::string_view HeadValue(std::string_view head, std::string_view name) {
  const std::string lowerName = Lower(name);
  std::size_t pos = 0;
  while (pos < head.size()) {
    std::size_t end = head.find('\n', pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(line.substr(0, colon), lowerName)) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return value;
    }
    pos = end + 1;
  }
  return {};
}

std::string RedactMultipart(std::string_view body, std::string_view boundary) {
  const std::string delimiter = "--" + std::string(boundary);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t at = body.find(delimiter, pos);
    if (at == std::string_view::npos) {
      out.append(body.substr(pos));
      return out;
    }
    // [pos, at) is the previous part's content (or the preamble).
    out.append(body.substr(pos, at - pos));
    out.append(delimiter);
    pos = at + delimiter.size();
    const std::size_t headEnd = body.find("\r\n\r\n", pos);
    if (headEnd == std::string_view::npos) continue;
    const std::string_view partHead = body.substr(pos, headEnd + 4 - pos);
    out.append(partHead);
    pos = headEnd + 4;
    const std::size_t next = body.find("\r\n" + delimiter, pos);
    if (next == std::string_view::npos) continue;
    const std::string_view name =
        HeaderParameter(HeadValue(partHead, "Content-Disposition"), "name");
    if (LooksSecretName(name)) {
      out.append(RedactedMark(next - pos));
      pos = next;
    }
  }
}

}  // namespace

std::string RedactedMark(std::size_t length) {
  return "[redacted] (" + std::to_string(length) + " bytes)";
}

bool LooksSecretName(std::string_view name) {
  static constexpr std::array<std::string_view, 10> kParts = {
      "pass",    "pwd",    "token",   "secret",  "auth",
      "session", "apikey", "api_key", "api-key", "credential"};
  const std::string lower = Lower(name);
  for (std::string_view part : kParts) {
    if (lower.find(part) != std::string::npos) return true;
  }
  return false;
}

bool ReadsSecret(std::string_view code) {
  return LooksSecretName(code) || Lower(code).find("cookie") != std::string::npos;
}

std::string RedactHead(std::string_view head) {
  std::string out;
  out.reserve(head.size());
  std::size_t pos = 0;
  while (pos < head.size()) {
    std::size_t end = head.find('\n', pos);
    const bool lastLine = end == std::string_view::npos;
    if (lastLine) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    std::string_view ending = lastLine ? std::string_view() : std::string_view("\n");
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
      ending = lastLine ? std::string_view("\r") : std::string_view("\r\n");
    }
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && IsSecretHeader(line.substr(0, colon))) {
      std::size_t start = colon + 1;
      while (start < line.size() && line[start] == ' ') ++start;
      out.append(line.substr(0, start));
      out.append(RedactedMark(line.size() - start));
    } else {
      out.append(line);
    }
    out.append(ending);
    pos = end + 1;
  }
  return out;
}

std::string RedactUrlEncoded(std::string_view fields) {
  std::string out;
  out.reserve(fields.size());
  std::size_t pos = 0;
  while (pos <= fields.size()) {
    std::size_t end = fields.find('&', pos);
    if (end == std::string_view::npos) end = fields.size();
    const std::string_view field = fields.substr(pos, end - pos);
    const std::size_t eq = field.find('=');
    if (eq != std::string_view::npos && LooksSecretName(field.substr(0, eq))) {
      out.append(field.substr(0, eq + 1));
      out.append(RedactedMark(field.size() - eq - 1));
    } else {
      out.append(field);
    }
    if (end == fields.size()) break;
    out.push_back('&');
    pos = end + 1;
  }
  return out;
}

std::string RedactRequest(std::string_view request) {
  std::size_t headEnd = request.find("\r\n\r\n");
  const std::size_t split = headEnd == std::string_view::npos ? request.size() : headEnd + 4;
  std::string_view head = request.substr(0, split);
  const std::string_view body = request.substr(split);
  // The request line's query.
  std::string out;
  const std::size_t lineEnd = head.find("\r\n");
  std::string_view line = head.substr(0, lineEnd);
  const std::size_t query = line.find('?');
  const std::size_t space = line.rfind(' ');
  if (query != std::string_view::npos && space != std::string_view::npos && space > query) {
    out.append(line.substr(0, query + 1));
    out.append(RedactUrlEncoded(line.substr(query + 1, space - query - 1)));
    out.append(line.substr(space));
  } else {
    out.append(line);
  }
  out.append(RedactHead(head.substr(line.size())));
  const std::string type = Lower(HeadValue(head, "Content-Type"));
  if (type.rfind("application/x-www-form-urlencoded", 0) == 0) {
    out.append(RedactUrlEncoded(body));
  } else if (type.rfind("multipart/form-data", 0) == 0) {
    const std::string_view boundary = HeaderParameter(HeadValue(head, "Content-Type"), "boundary");
    out.append(boundary.empty() ? std::string(body) : RedactMultipart(body, boundary));
  } else {
    out.append(body);
  }
  return out;
}

std::string RedactStatementText(std::string_view keyword, std::string_view text) {
  if (keyword == "setcookies") return RedactedMark(text.size());
  if (keyword == "header") {
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
      std::string_view name = text.substr(0, colon);
      while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
      while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
      if (IsSecretHeader(name)) {
        return std::string(text.substr(0, colon + 1)) + " " + RedactedMark(text.size() - colon - 1);
      }
    }
  }
  if (keyword == "add" || keyword == "addx") {
    const std::size_t space = text.find(' ');
    if (space != std::string_view::npos && LooksSecretName(text.substr(0, space))) {
      return std::string(text.substr(0, space + 1)) + RedactedMark(text.size() - space - 1);
    }
  }
  if (keyword == "openmysql" || keyword == "openmssql") return RedactConnectionText(text);
  std::size_t query = text.find('?');
  if (query == std::string_view::npos) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  while (query != std::string_view::npos) {
    std::size_t end = text.find_first_of(" \t\r\n", query);
    if (end == std::string_view::npos) end = text.size();
    out.append(text.substr(pos, query + 1 - pos));
    out.append(RedactUrlEncoded(text.substr(query + 1, end - query - 1)));
    pos = end;
    query = text.find('?', end);
  }
  out.append(text.substr(pos));
  return out;
}

std::string RedactConnectionText(std::string_view text) {
  // ODBC attributes: PWD=...; and Password=...;
  std::string out;
  std::size_t pos = 0;
  bool odbc = false;
  while (pos <= text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view attribute = text.substr(pos, end - pos);
    const std::size_t eq = attribute.find('=');
    if (eq != std::string_view::npos) odbc = true;
    if (eq != std::string_view::npos && LooksSecretName(attribute.substr(0, eq))) {
      out.append(attribute.substr(0, eq + 1));
      out.append(RedactedMark(attribute.size() - eq - 1));
    } else {
      out.append(attribute);
    }
    if (end == text.size()) break;
    out.push_back(';');
    pos = end + 1;
  }
  if (odbc) return out;
  // host<<<catalog<<<user<<<password
  const std::size_t last = text.rfind("<<<");
  if (last == std::string_view::npos) return std::string(text);
  return std::string(text.substr(0, last + 3)) + RedactedMark(text.size() - last - 3);
}

}  // namespace velmar

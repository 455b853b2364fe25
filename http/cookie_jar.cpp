#include "http/cookie_jar.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "values/text_file_ops.h"

namespace velmar {
namespace {

constexpr std::string_view kAttributeNames = "|path|domain|expires|max-age|secure|httponly|";
constexpr std::string_view kMarker = "{wren}";

bool IsAttributeName(std::string_view name) {
  std::string probe = "|";
  for (char c : name) probe += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  probe += '|';
  return kAttributeNames.find(probe) != std::string_view::npos;
}

// The value part of a Set-Cookie line: after its colon, leading blanks
// removed, so "set-cookie:a=1" keeps the whole name. A line without a colon
// keeps the old fixed offset.
std::string_view SetCookieValue(std::string_view line) {
  const std::size_t colon = line.find(':', 10);
  if (colon == std::string_view::npos) {
    return line.size() > 12 ? line.substr(12) : std::string_view();
  }
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  return value;
}

}  // namespace

int CookieJar::TakeSetCookies(std::string_view headerText) {
  std::vector<std::string_view> lines;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = headerText.find("\r\n", from);
    if (at == std::string_view::npos) {
      lines.push_back(headerText.substr(from));
      break;
    }
    lines.push_back(headerText.substr(from, at - from));
    from = at + 2;
  }
  static constexpr std::string_view kName = "SET-COOKIE";
  int found = 0;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const std::string_view line = *it;
    if (line.size() < kName.size()) continue;
    bool match = true;
    for (std::size_t i = 0; i < kName.size() && match; ++i) {
      char c = line[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      match = c == kName[i];
    }
    if (!match) continue;
    ++found;
    ParseCookieText(SetCookieValue(line));
  }
  if (found > 0) RecomputeCookieText();
  return found;
}

void CookieJar::ParseCookieText(std::string_view text) {
  std::string prefix;
  std::size_t pos = 0;
  const std::size_t n = text.size();
  while (pos < n) {
    while (pos < n && text[pos] == ' ') ++pos;
    const std::size_t eq = text.find('=', pos);
    if (eq == std::string_view::npos) return;
    const std::string_view name = text.substr(pos, eq - pos);
    const std::size_t valueStart = eq + 1;
    std::size_t i = valueStart;
    bool nested = false;
    while (i < n && text[i] != '&' && text[i] != ';') {
      if (text[i] == '=') {
        nested = true;
        break;
      }
      ++i;
    }
    if (nested) {
      prefix.assign(name);
      prefix += '=';
      pos = valueStart;
      continue;
    }
    if (!IsAttributeName(name)) {
      std::string key = prefix;
      key += name;
      entries_[key] = text.substr(valueStart, i - valueStart);
    }
    if (i >= n) return;
    if (text[i] == ';') prefix.clear();
    pos = i + 1;
  }
}

void CookieJar::RecomputeCookieText() {
  std::string text;
  for (const auto& [key, value] : entries_) {
    const std::size_t eq = key.find('=');
    std::size_t insertAt = std::string::npos;
    if (eq != std::string::npos) {
      const std::string outer = key.substr(0, eq + 1);
      const std::size_t at = text.find(";" + outer);
      if (at != std::string::npos) {
        insertAt = at + 1 + outer.size();
      } else if (text.compare(0, outer.size(), outer) == 0) {
        insertAt = outer.size();
      }
      if (insertAt != std::string::npos) {
        std::string piece = key.substr(eq + 1);
        piece += kMarker;
        piece += value;
        piece += '&';
        text.insert(insertAt, piece);
        continue;
      }
    }
    if (!text.empty()) text += ';';
    text += key;
    text += kMarker;
    text += value;
  }
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(kMarker, from);
    if (at == std::string::npos) break;
    out.append(text, from, at - from);
    out += '=';
    from = at + kMarker.size();
  }
  out.append(text, from);
  cookieText_ = std::move(out);
}

void CookieJar::Remove(std::string_view key) {
  const auto it = entries_.find(key);
  if (it != entries_.end()) entries_.erase(it);
}

const std::string& CookieJar::Get(std::string_view key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) it = entries_.emplace(std::string(key), std::string()).first;
  return it->second;
}

void CookieJar::Clear() {
  entries_.clear();
  RecomputeCookieText();
}

bool CookieJar::SaveFile(const std::string& path, const CodePage& cp) const {
  if (entries_.empty()) return false;
  std::string content;
  for (const auto& [key, value] : entries_) {
    content += key;
    content += '^';
    content += value;
    content += "\r\n";
  }
  // Session cookies are credentials: only their owner may read the file.
  return WritePrivateTextFile(path, content, "wb", cp);
}

int CookieJar::LoadFile(const std::string& path, const CodePage& cp) {
  entries_.clear();
  // Read as scripts are, so a pipe or a device at the path is no file and
  // an endless one cannot fill the memory.
  const std::string text = ReadTextFile(path, cp);
  int loaded = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 2;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string> pieces = SplitText(line, "^", cp);
    if (pieces.size() < 2) continue;
    entries_[pieces[0]] = pieces[1];
    ++loaded;
  }
  if (loaded > 0) RecomputeCookieText();
  return loaded;
}

}  // namespace velmar

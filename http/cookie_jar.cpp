#include "http/cookie_jar.h"

#include <cstdio>
#include <cstdlib>
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

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The moment of a cookie date ("Wed, 09-Jun-2021 10:18:14 GMT", "Wed, 09 Jun
// 2021 10:18:14 GMT", "Wednesday, 09-Jun-21 ...", "Wed Jun  9 10:18:14 2021"),
// read token by token as browsers do; -1 when no day, month and year are in
// it.
std::time_t ParseCookieDate(std::string_view text) {
  static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
  int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0;
  bool timeSeen = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto isDelimiter = [](char c) {
      return c == ' ' || c == '\t' || c == ',' || c == '-' || c == '/';
    };
    while (i < text.size() && isDelimiter(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !isDelimiter(text[end])) ++end;
    const std::string_view token = text.substr(i, end - i);
    i = end;
    if (token.empty()) continue;
    int h, m, sec;
    if (!timeSeen && std::sscanf(std::string(token).c_str(), "%d:%d:%d", &h, &m, &sec) == 3) {
      hour = h;
      minute = m;
      second = sec;
      timeSeen = true;
    } else if (token[0] >= '0' && token[0] <= '9') {
      const int number = std::atoi(std::string(token).c_str());
      if (day < 0 && token.size() <= 2) {
        day = number;
      } else if (year < 0) {
        year = number;
      }
    } else if (month < 0 && token.size() >= 3) {
      const std::size_t at = kMonths.find(Lower(token.substr(0, 3)));
      if (at != std::string_view::npos && at % 3 == 0) month = static_cast<int>(at / 3);
    }
  }
  if (day < 1 || day > 31 || month < 0 || year < 0) return -1;
  if (year < 70) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

}  // namespace

void CookieJar::Set(std::string_view key, std::string_view value) {
  entries_[std::string(key)] = value;
  if (const auto it = secureKeys_.find(key); it != secureKeys_.end()) secureKeys_.erase(it);
}

void CookieJar::TakeSetCookieValue(std::string_view value, std::time_t now) {
  // The attributes after the first ';' decide what becomes of the cookie;
  // the name and value part is read as always.
  bool secure = false;
  bool expired = false;
  bool maxAgeSeen = false;
  std::size_t from = value.find(';');
  while (from != std::string_view::npos) {
    const std::size_t next = value.find(';', from + 1);
    const std::string_view attribute =
        TrimBlanks(value.substr(from + 1, next == std::string_view::npos ? next : next - from - 1));
    from = next;
    const std::size_t eq = attribute.find('=');
    const std::string name = Lower(TrimBlanks(attribute.substr(0, eq)));
    const std::string_view argument =
        eq == std::string_view::npos ? std::string_view() : TrimBlanks(attribute.substr(eq + 1));
    if (name == "secure") {
      secure = true;
    } else if (name == "max-age" && !argument.empty()) {
      // Max-Age outranks Expires, whichever comes first.
      maxAgeSeen = true;
      expired = std::atoll(std::string(argument).c_str()) <= 0;
    } else if (name == "expires" && !maxAgeSeen) {
      const std::time_t at = ParseCookieDate(argument);
      expired = at != -1 && at <= now;
    }
  }
  CookieJar parsed;
  parsed.ParseCookieText(value);
  for (auto& [key, text] : parsed.entries_) {
    if (expired) {
      // Deleting a compound cookie takes its sub-values with it.
      Remove(key);
      const std::string outer = key + "=";
      for (auto it = entries_.lower_bound(outer);
           it != entries_.end() && it->first.compare(0, outer.size(), outer) == 0;) {
        secureKeys_.erase(it->first);
        it = entries_.erase(it);
      }
      continue;
    }
    entries_[key] = std::move(text);
    if (secure) {
      secureKeys_.insert(key);
    } else if (const auto it = secureKeys_.find(key); it != secureKeys_.end()) {
      secureKeys_.erase(it);
    }
  }
}

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
    TakeSetCookieValue(SetCookieValue(line), std::time(nullptr));
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

namespace {

std::string BuildCookieText(const CookieJar::Entries& entries,
                            const std::set<std::string, std::less<>>* leaveOut) {
  std::string text;
  for (const auto& [key, value] : entries) {
    if (leaveOut && leaveOut->count(key)) continue;
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
  return out;
}

}  // namespace

void CookieJar::RecomputeCookieText() {
  cookieText_ = BuildCookieText(entries_, nullptr);
  plainCookieText_ = secureKeys_.empty() ? std::string() : BuildCookieText(entries_, &secureKeys_);
}

void CookieJar::Remove(std::string_view key) {
  const auto it = entries_.find(key);
  if (it != entries_.end()) entries_.erase(it);
  if (const auto secure = secureKeys_.find(key); secure != secureKeys_.end()) {
    secureKeys_.erase(secure);
  }
}

const std::string& CookieJar::Get(std::string_view key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) it = entries_.emplace(std::string(key), std::string()).first;
  return it->second;
}

void CookieJar::Clear() {
  entries_.clear();
  secureKeys_.clear();
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
  // The file keeps names and values only.
  secureKeys_.clear();
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

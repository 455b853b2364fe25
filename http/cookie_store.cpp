#include "http/cookie_store.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <vector>

#include "http/url.h"
#include "platform/durable_file.h"
#include "platform/file_lock.h"
#include "platform/process_info.h"
#include "platform/regular_file.h"
#include "platform/stop_signal.h"
#include "values/text_limits.h"

namespace velmar {
namespace {

constexpr std::string_view kHeader = "# Netscape HTTP Cookie File\n";
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

// A line of the file: a cookie, or any other line kept as it was (comments,
// and lines the store cannot read, which it must not destroy).
struct FileLine {
  bool isCookie = false;
  StoredCookie cookie;
  std::string raw;
};

struct UrlParts {
  bool secure = false;
  std::string host;
  std::string path;
};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The store takes only URLs written out in full ("http://" or "https://",
// spaces and tabs around them ignored); hosts compare without case and
// without trailing dots, paths without query or fragment.
bool ParseStoreUrl(std::string_view text, UrlParts& parts) {
  const std::optional<Url> url = ParseUrl(Trim(text));
  if (!url || !url->schemeWritten || !url->slashesWritten) return false;
  parts.secure = url->secure;
  parts.host = Lower(url->host);
  while (!parts.host.empty() && parts.host.back() == '.') parts.host.pop_back();
  if (parts.host.empty()) return false;
  const std::string_view path =
      std::string_view(url->target).substr(0, url->target.find_first_of("?#"));
  parts.path = path.empty() || path.front() != '/' ? "/" : std::string(path);
  return true;
}

bool IsIpAddress(std::string_view host) {
  return host.find(':') != std::string_view::npos ||
         std::all_of(host.begin(), host.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

bool DomainMatches(const StoredCookie& cookie, std::string_view host) {
  if (!cookie.includeSubdomains) return host == cookie.domain;
  std::string_view domain = cookie.domain;
  if (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (host == domain) return true;
  return !IsIpAddress(host) && host.size() > domain.size() &&
         host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view cookiePath, std::string_view requestPath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string DefaultPath(std::string_view urlPath) {
  if (urlPath.empty() || urlPath.front() != '/') return "/";
  const std::size_t last = urlPath.rfind('/');
  if (last == 0) return "/";
  return std::string(urlPath.substr(0, last));
}

bool FitsInFile(std::string_view text) {
  return text.find_first_of("\t\r\n") == std::string_view::npos;
}

bool ParseLine(const std::string& line, StoredCookie& cookie) {
  std::string_view text = line;
  if (text.rfind(kHttpOnlyPrefix, 0) == 0) {
    cookie.httpOnly = true;
    text.remove_prefix(kHttpOnlyPrefix.size());
  } else if (text.empty() || text.front() == '#') {
    return false;
  }
  std::vector<std::string_view> fields;
  for (int i = 0; i < 6; ++i) {
    const std::size_t tab = text.find('\t');
    if (tab == std::string_view::npos) return false;
    fields.push_back(text.substr(0, tab));
    text.remove_prefix(tab + 1);
  }
  fields.push_back(text);
  if (fields[0].empty() || fields[2].empty() || fields[2].front() != '/') return false;
  for (const char c : fields[4]) {
    if (c < '0' || c > '9') return false;
  }
  if (fields[4].empty() || fields[4].size() > 18) return false;
  cookie.domain = Lower(fields[0]);
  cookie.includeSubdomains = fields[1] == "TRUE";
  cookie.path = std::string(fields[2]);
  cookie.secure = fields[3] == "TRUE";
  cookie.expires = std::stoll(std::string(fields[4]));
  cookie.name = std::string(fields[5]);
  cookie.value = std::string(fields[6]);
  return true;
}

std::string FormatLine(const StoredCookie& c) {
  std::string out;
  if (c.httpOnly) out += kHttpOnlyPrefix;
  out += c.domain;
  out += c.includeSubdomains ? "\tTRUE\t" : "\tFALSE\t";
  out += c.path;
  out += c.secure ? "\tTRUE\t" : "\tFALSE\t";
  out += std::to_string(c.expires);
  out += '\t';
  out += c.name;
  out += '\t';
  out += c.value;
  out += '\n';
  return out;
}

bool Expired(const StoredCookie& c, int64_t now) {
  return c.expires != 0 && c.expires <= now;
}

std::string TempPrefix(const std::filesystem::path& file) {
  return file.filename().string() + ".tmp.";
}

// Removes the temporary files that writers killed half-way left beside the
// store. Only names of the form "<store>.tmp.<pid>.<number>" (as WriteLines
// makes them) are touched, and only when the writing process is gone or the
// file has not changed for a long time. Called with the exclusive lock held,
// so no living writer of the store is in the middle of its write.
void RemoveStaleTempFiles(const std::filesystem::path& file) {
  const std::string prefix = TempPrefix(file);
  std::error_code ec;
  const std::filesystem::path folder =
      file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const std::filesystem::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == rest.size() || dot > 9) continue;
    const std::string_view pidText = rest.substr(0, dot);
    const std::string_view tag = rest.substr(dot + 1);
    auto digits = [](std::string_view t) {
      return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(pidText) || !digits(tag) || tag.size() > 20) continue;
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const bool ownerGone = platform::ProcessIsGone(std::stol(std::string(pidText)));
    const auto changed = entry.last_write_time(ec);
    const bool old = !ec && now - changed > CookieStore::kStaleTempAge;
    if (ownerGone || old) std::filesystem::remove(entry.path(), ec);
  }
}

// The lines of the store; false when something other than a regular file
// of at most the text limit stands at its name. That is read as no cookies
// and never replaced by a store made from nothing.
bool ReadLines(const std::filesystem::path& file, std::vector<FileLine>& lines,
               std::string& error) {
  lines.clear();
  std::string text;
  if (platform::ReadWholeRegularFile(file.string(), kMaxExpandedTextSize, text, error) ==
      platform::WholeFileRead::kRefused) {
    return false;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && line.back() == '\r') line.pop_back();
    FileLine entry;
    if (ParseLine(line, entry.cookie)) {
      entry.isCookie = true;
    } else {
      if (line.empty()) continue;
      entry.raw = std::move(line);
    }
    lines.push_back(std::move(entry));
  }
  return true;
}

bool WriteLines(const std::filesystem::path& file, const std::vector<FileLine>& lines,
                std::string& error) {
  std::string content;
  if (lines.empty() || lines.front().isCookie || lines.front().raw.rfind("# Netscape", 0) != 0) {
    content += kHeader;
  }
  for (const FileLine& line : lines) {
    if (line.isCookie) {
      content += FormatLine(line.cookie);
    } else {
      content += line.raw;
      content += '\n';
    }
  }
  // Written beside the file and renamed over it, so a reader never sees
  // half a file and a crash or a full disk never leaves one. Session
  // cookies are credentials: only their owner may read the store, like its
  // lock file; a link planted at its name is replaced, not written through.
  platform::FileWriteOptions options;
  options.privateFile = true;
  return platform::ReplaceFile(file.string(), content, options, error);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsDateDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Leading digits of a token (between min and max of them); -1 otherwise.
int LeadingDigits(std::string_view token, std::size_t minDigits, std::size_t maxDigits,
                  std::size_t* used = nullptr) {
  std::size_t i = 0;
  int value = 0;
  while (i < token.size() && i < maxDigits && token[i] >= '0' && token[i] <= '9') {
    value = value * 10 + (token[i] - '0');
    ++i;
  }
  if (i < minDigits || (i < token.size() && token[i] >= '0' && token[i] <= '9')) return -1;
  if (used) *used = i;
  return value;
}

}  // namespace

CookieStore::CookieStore(std::filesystem::path file, StopSignal* stop,
                         std::chrono::milliseconds lockWait)
    : file_(std::move(file)), stop_(stop), lockWait_(lockWait) {}

int64_t CookieStore::ParseCookieDate(std::string_view text) {
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsDateDelimiter(static_cast<unsigned char>(text[i]))) ++i;
    const std::string_view token = text.substr(start, i - start);
    if (token.empty()) continue;
    if (!haveTime) {
      std::size_t a = 0, b = 0;
      const int h = LeadingDigits(token, 1, 2, &a);
      if (h >= 0 && a < token.size() && token[a] == ':') {
        const std::string_view rest1 = token.substr(a + 1);
        const int m = LeadingDigits(rest1, 1, 2, &b);
        if (m >= 0 && b < rest1.size() && rest1[b] == ':') {
          const int s = LeadingDigits(rest1.substr(b + 1), 1, 2);
          if (s >= 0) {
            haveTime = true;
            hour = h;
            minute = m;
            second = s;
            continue;
          }
        }
      }
    }
    if (!haveDay) {
      const int d = LeadingDigits(token, 1, 2);
      if (d >= 0) {
        haveDay = true;
        day = d;
        continue;
      }
    }
    if (!haveMonth && token.size() >= 3) {
      static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                     "jul", "aug", "sep", "oct", "nov", "dec"};
      const std::string prefix = Lower(token.substr(0, 3));
      bool found = false;
      for (int m = 0; m < 12; ++m) {
        if (prefix == kMonths[m]) {
          haveMonth = true;
          month = m + 1;
          found = true;
          break;
        }
      }
      if (found) continue;
    }
    if (!haveYear) {
      const int y = LeadingDigits(token, 2, 4);
      if (y >= 0) {
        haveYear = true;
        year = y;
        continue;
      }
    }
  }
  if (!haveTime || !haveDay || !haveMonth || !haveYear) return -1;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) return -1;
  // Earlier dates count as 1970: a negative answer would read as "no date"
  // and turn a cookie meant to be deleted into a session cookie.
  const int64_t seconds =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second;
  return seconds < 0 ? 0 : seconds;
}

bool CookieStore::SetCookie(std::string_view url, std::string_view cookieString) {
  UrlParts target;
  if (!ParseStoreUrl(url, target)) return false;

  const std::size_t pairEnd = cookieString.find(';');
  const std::string_view pair = cookieString.substr(0, pairEnd);
  const std::size_t eq = pair.find('=');
  if (eq == std::string_view::npos) return false;
  StoredCookie cookie;
  cookie.name = std::string(Trim(pair.substr(0, eq)));
  cookie.value = std::string(Trim(pair.substr(eq + 1)));
  if (!FitsInFile(cookie.name) || !FitsInFile(cookie.value)) return false;

  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  bool haveMaxAge = false;
  int64_t expires = 0;
  std::string domainAttribute;
  std::string pathAttribute;
  std::string_view attributes =
      pairEnd == std::string_view::npos ? std::string_view() : cookieString.substr(pairEnd + 1);
  while (!attributes.empty()) {
    const std::size_t end = attributes.find(';');
    const std::string_view attribute = attributes.substr(0, end);
    attributes = end == std::string_view::npos ? std::string_view() : attributes.substr(end + 1);
    const std::size_t aeq = attribute.find('=');
    const std::string name = Lower(Trim(attribute.substr(0, aeq)));
    const std::string_view value =
        aeq == std::string_view::npos ? std::string_view() : Trim(attribute.substr(aeq + 1));
    if (name == "expires" && !haveMaxAge) {
      const int64_t when = ParseCookieDate(value);
      if (when >= 0) expires = when == 0 ? 1 : when;
    } else if (name == "max-age") {
      std::string digits(value);
      bool negative = !digits.empty() && digits.front() == '-';
      if (negative) digits.erase(0, 1);
      if (digits.empty() || digits.size() > 15 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      const int64_t seconds = std::stoll(digits);
      haveMaxAge = true;
      expires = negative || seconds == 0 ? 1 : now + seconds;
    } else if (name == "domain") {
      domainAttribute = Lower(value);
    } else if (name == "path") {
      pathAttribute = std::string(value);
    } else if (name == "secure") {
      cookie.secure = true;
    } else if (name == "httponly") {
      cookie.httpOnly = true;
    }
  }
  cookie.expires = expires;

  while (!domainAttribute.empty() && domainAttribute.front() == '.') domainAttribute.erase(0, 1);
  if (!domainAttribute.empty()) {
    StoredCookie probe;
    probe.domain = domainAttribute;
    probe.includeSubdomains = true;
    if (!DomainMatches(probe, target.host) || !FitsInFile(domainAttribute)) return false;
    cookie.domain = IsIpAddress(domainAttribute) ? domainAttribute : "." + domainAttribute;
    cookie.includeSubdomains = !IsIpAddress(domainAttribute);
  } else {
    cookie.domain = target.host;
  }
  cookie.path = !pathAttribute.empty() && pathAttribute.front() == '/' && FitsInFile(pathAttribute)
                    ? pathAttribute
                    : DefaultPath(target.path);

  platform::FileLock lock(file_, true, stop_, lockWait_);
  if (!lock.held()) return false;
  RemoveStaleTempFiles(file_);
  lastError_.clear();
  std::vector<FileLine> lines;
  if (!ReadLines(file_, lines, lastError_)) return false;
  std::erase_if(lines, [&](const FileLine& line) {
    if (!line.isCookie) return false;
    const StoredCookie& c = line.cookie;
    return Expired(c, now) ||
           (c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path);
  });
  if (!Expired(cookie, now)) {
    FileLine line;
    line.isCookie = true;
    line.cookie = std::move(cookie);
    lines.push_back(std::move(line));
  }
  return WriteLines(file_, lines, lastError_);
}

std::string CookieStore::GetCookies(std::string_view url) const {
  UrlParts target;
  if (!ParseStoreUrl(url, target)) return {};
  std::vector<FileLine> lines;
  {
    platform::FileLock lock(file_, false, stop_, lockWait_);
    if (!lock.held()) return {};
    lastError_.clear();
    if (!ReadLines(file_, lines, lastError_)) return {};
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<const StoredCookie*> chosen;
  for (const FileLine& line : lines) {
    if (!line.isCookie) continue;
    const StoredCookie& c = line.cookie;
    if (Expired(c, now) || !DomainMatches(c, target.host) || !PathMatches(c.path, target.path) ||
        (c.secure && !target.secure)) {
      continue;
    }
    chosen.push_back(&c);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [](const StoredCookie* a, const StoredCookie* b) {
    return a->path.size() > b->path.size();
  });
  std::string out;
  for (const StoredCookie* c : chosen) {
    if (!out.empty()) out += "; ";
    out += c->name;
    out += '=';
    out += c->value;
  }
  return out;
}

std::vector<StoredCookie> CookieStore::AllCookies() const {
  std::vector<FileLine> lines;
  {
    platform::FileLock lock(file_, false, stop_, lockWait_);
    if (!lock.held()) return {};
    lastError_.clear();
    if (!ReadLines(file_, lines, lastError_)) return {};
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<StoredCookie> cookies;
  for (FileLine& line : lines) {
    if (line.isCookie && !Expired(line.cookie, now)) cookies.push_back(std::move(line.cookie));
  }
  return cookies;
}

}  // namespace velmar

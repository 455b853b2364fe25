#include "values/profile.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "values/code_page.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The section name of a "[name]" line, or nothing.
bool SectionOf(std::string_view line, std::string_view& name) {
  line = CodePage::Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = CodePage::Trim(line.substr(1, close - 1));
  return true;
}

bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = CodePage::Trim(line.substr(0, eq));
  value = CodePage::Trim(line.substr(eq + 1));
  return !key.empty() && key.front() != ';';
}

}  // namespace

std::string Profile::GetString(std::string_view key, std::string_view defaultValue,
                               std::string_view section) const {
  std::string value(defaultValue);
  bool inSection = false;
  bool found = false;
  for (const std::string& line : ReadLines(file_)) {
    std::string_view name;
    if (SectionOf(line, name)) {
      inSection = EqualsNoCase(name, section);
      continue;
    }
    std::string_view k, v;
    if (inSection && KeyOf(line, k, v) && EqualsNoCase(k, key)) {
      if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') ||
                            (v.front() == '\'' && v.back() == '\''))) {
        v = v.substr(1, v.size() - 2);
      }
      value.assign(v);
      found = true;
      break;
    }
  }
  (void)found;
  if (value.size() > kReadBuffer - 1) value.resize(kReadBuffer - 1);
  return value;
}

long long Profile::GetInt(std::string_view key, long long defaultValue,
                          std::string_view section) const {
  const std::string text = GetString(key, {}, section);
  if (CodePage::Trim(text).empty()) return defaultValue;
  return LeadingInteger(text);
}

bool Profile::WriteString(std::string_view key, std::string_view value,
                          std::string_view section) const {
  std::vector<std::string> lines = ReadLines(file_);
  bool inSection = false;
  std::size_t sectionEnd = std::string::npos;
  bool written = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    std::string_view name;
    if (SectionOf(lines[i], name)) {
      if (inSection) break;
      inSection = EqualsNoCase(name, section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyOf(lines[i], k, v) && EqualsNoCase(k, key)) {
      lines[i] = std::string(k) + "=" + std::string(value);
      written = true;
    } else if (!CodePage::Trim(lines[i]).empty()) {
      sectionEnd = i + 1;
    }
  }
  if (!written) {
    const std::string entry = std::string(key) + "=" + std::string(value);
    if (sectionEnd == std::string::npos) {
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
    }
  }
  std::ostringstream out;
  for (const std::string& line : lines) out << line << "\r\n";
  const std::filesystem::path tmp = file_.string() + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << out.str();
    if (!f.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, file_, ec);
  return !ec;
}

}  // namespace velmar

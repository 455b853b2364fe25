#include "values/profile.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/durable_file.h"
#include "platform/file_lock.h"
#include "platform/regular_file.h"
#include "values/code_page.h"
#include "values/text_file_ops.h"
#include "values/text_limits.h"

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

// Settings are read again at every lookup; a file that is refused is
// reported once per process and reason, not at every key.
void ReportRefusedFile(const std::string& reason) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> lock(mutex);
  if (reported.size() > 64 || !reported.insert(reason).second) return;
  std::fprintf(stderr, "velmar: %s; the settings' defaults are used\n", reason.c_str());
}

// The whole file; false when it exists but cannot be read (a missing file
// reads as empty). Only a regular file within the text limit is read: a
// pipe there would hold the program before any script starts, a device
// would fill the memory.
bool ReadBytes(const std::filesystem::path& file, std::string& out) {
  std::string reason;
  const platform::WholeFileRead read =
      platform::ReadWholeRegularFile(file.string(), kMaxExpandedTextSize, out, reason);
  if (read == platform::WholeFileRead::kRefused) ReportRefusedFile(reason);
  return read != platform::WholeFileRead::kRefused;
}

// One line of the file: its text is [begin, end), its line end (CR LF, LF or
// nothing at the end of the file) runs up to next.
struct LineSpan {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

std::vector<LineSpan> LinesOf(const std::string& text) {
  std::vector<LineSpan> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t lf = text.find('\n', pos);
    if (lf == std::string::npos) {
      lines.push_back({pos, text.size(), text.size()});
      break;
    }
    const std::size_t end = lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
    lines.push_back({pos, end, lf + 1});
    pos = lf + 1;
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

// Serialises the writers of this program.
std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::string Profile::GetString(std::string_view key, std::string_view defaultValue,
                               std::string_view section) const {
  std::string value(defaultValue);
  std::string text;
  ReadBytes(file_, text);
  // Only the first section of the name counts, as with the system's own
  // profile reader.
  enum { kBefore, kInside, kAfter } where = kBefore;
  for (const LineSpan& span : LinesOf(text)) {
    const std::string_view line(text.data() + span.begin, span.end - span.begin);
    std::string_view name;
    if (SectionOf(line, name)) {
      if (where == kInside) break;
      if (EqualsNoCase(name, section)) where = kInside;
      continue;
    }
    std::string_view k, v;
    if (where == kInside && KeyOf(line, k, v) && EqualsNoCase(k, key)) {
      if (v.size() >= 2 &&
          ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
        v = v.substr(1, v.size() - 2);
      }
      value.assign(v);
      break;
    }
  }
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
  // Read, change and replace form one step: two writers at once, threads
  // of this program or other programs, would otherwise both start from the
  // same old file and the later one would drop the other's key.
  std::lock_guard<std::mutex> inProcess(WriterMutex());
  const platform::FolderLock otherPrograms(file_.parent_path());
  std::string text;
  // A file that is there but unreadable is never replaced by one holding
  // only this key.
  if (!ReadBytes(file_, text)) return false;
  const std::vector<LineSpan> lines = LinesOf(text);
  // New lines follow the file's own line ends; a new file gets CR LF.
  const std::size_t firstLf = text.find('\n');
  const std::string eol =
      firstLf != std::string::npos && (firstLf == 0 || text[firstLf - 1] != '\r') ? "\n" : "\r\n";
  const std::string entry = std::string(key) + "=" + std::string(value);

  bool inSection = false;
  const LineSpan* lastInSection = nullptr;  // last non-blank line of the section
  const LineSpan* keyLine = nullptr;
  for (const LineSpan& span : lines) {
    const std::string_view line(text.data() + span.begin, span.end - span.begin);
    std::string_view name;
    if (SectionOf(line, name)) {
      if (inSection) break;
      inSection = EqualsNoCase(name, section);
      if (inSection) lastInSection = &span;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyOf(line, k, v) && EqualsNoCase(k, key)) {
      keyLine = &span;
      break;
    }
    if (!CodePage::Trim(line).empty()) lastInSection = &span;
  }

  if (keyLine != nullptr) {
    // Keep the key as the file spells it; only the value changes.
    const std::string_view line(text.data() + keyLine->begin, keyLine->end - keyLine->begin);
    std::string_view k, v;
    KeyOf(line, k, v);
    text.replace(keyLine->begin, keyLine->end - keyLine->begin,
                 std::string(k) + "=" + std::string(value));
  } else if (lastInSection != nullptr) {
    const bool hasEnd = lastInSection->next > lastInSection->end;
    text.insert(lastInSection->next, (hasEnd ? "" : eol) + entry + eol);
  } else {
    if (!text.empty() && text.back() != '\n') text += eol;
    text += "[" + std::string(section) + "]" + eol + entry + eol;
  }

  // Write next to the file and move it in place, so a reader never sees a
  // half-written file and a full disk leaves the old one; a link is followed
  // so that it stays a link.
  platform::FileWriteOptions options;
  options.followLink = true;
  std::string reason;
  return platform::ReplaceFile(file_.string(), text, options, reason);
}

}  // namespace velmar

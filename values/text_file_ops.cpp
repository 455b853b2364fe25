#include "values/text_file_ops.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/regular_file.h"
#include "values/text_limits.h"

namespace velmar {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A NUL byte would cut the path short at the system call and open some
// other file: such a path names no file.
bool UsablePath(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

// Only regular files are read (see OpenRegularFileForReading).
FilePtr OpenForReading(const std::string& normalizedPath) {
  if (!UsablePath(normalizedPath)) return nullptr;
  return FilePtr(platform::OpenRegularFileForReading(normalizedPath));
}

// A path that exists but is no regular file (or cannot be checked) is not
// written: opening a pipe with no reader would block, and a device is no
// place for a script's text.
bool WritablePath(const std::string& normalizedPath) {
  return platform::KindOfPath(normalizedPath) != platform::PathKind::kOther;
}

// Reads a file in large blocks and hands out its lines in text mode: LF ends
// a line, a CR right before it is part of the line end, and a last line
// without a line end still counts. Lines have no length limit and may hold
// NUL bytes. A read error (a folder opened as a file, for instance) ends the
// input as the end of the file would.
class LineReader {
 public:
  explicit LineReader(std::FILE* f) : f_(f) {}

  // Appends the next line (without its line end) to `line`; false when no
  // line is left.
  bool AppendNext(std::string& line) {
    const std::size_t lineStart = line.size();
    bool any = false;
    for (;;) {
      if (pos_ == len_ && !Fill()) {
        if (!any) return false;
        return true;  // last line without a line end: a lone CR stays
      }
      any = true;
      const char* start = buf_ + pos_;
      const auto* lf = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
      if (lf == nullptr) {
        line.append(start, len_ - pos_);
        pos_ = len_;
        continue;
      }
      line.append(start, static_cast<std::size_t>(lf - start));
      pos_ = static_cast<std::size_t>(lf - buf_) + 1;
      if (line.size() > lineStart && line.back() == '\r') line.pop_back();
      return true;
    }
  }

  // Skips the next line; false when no line is left.
  bool Skip() {
    bool any = false;
    for (;;) {
      if (pos_ == len_ && !Fill()) return any;
      any = true;
      const char* start = buf_ + pos_;
      const auto* lf = static_cast<const char*>(std::memchr(start, '\n', len_ - pos_));
      if (lf == nullptr) {
        pos_ = len_;
        continue;
      }
      pos_ = static_cast<std::size_t>(lf - buf_) + 1;
      return true;
    }
  }

 private:
  bool Fill() {
    if (eof_) return false;
    len_ = std::fread(buf_, 1, sizeof buf_, f_);
    pos_ = 0;
    if (len_ == 0) eof_ = true;
    return len_ > 0;
  }

  std::FILE* f_;
  char buf_[1 << 16];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool eof_ = false;
};

// Size of a regular file, to size the result once; 0 when unknown.
std::size_t SizeHint(std::FILE* f) {
  uint64_t size = 0;
  if (!platform::RegularFileSize(f, size) || size > SIZE_MAX) return 0;
  return static_cast<std::size_t>(size);
}

std::string ReadTextFileAt(const std::string& normalizedPath) {
  FilePtr f = OpenForReading(normalizedPath);
  if (!f) return {};
  // A text past the expansion limit could never be used in a script.
  uint64_t size = 0;
  if (!platform::RegularFileSize(f.get(), size) || size > kMaxExpandedTextSize) return {};
  std::string out;
  // Every LF may gain a CR, but scripts are mostly CR LF or sparse LF text:
  // reserve a little headroom and let the string grow if needed.
  const std::size_t hint = SizeHint(f.get());
  if (hint > 0) out.reserve(hint + hint / 16 + 2);
  auto reader = std::make_unique<LineReader>(f.get());
  while (reader->AppendNext(out)) out += "\r\n";
  return out;
}

std::string ReadTextLineAt(const std::string& normalizedPath, long long n) {
  if (n < 1) return {};
  FilePtr f = OpenForReading(normalizedPath);
  if (!f) return {};
  auto reader = std::make_unique<LineReader>(f.get());
  for (long long i = 1; i < n; ++i) {
    if (!reader->Skip()) return {};
  }
  std::string line;
  if (!reader->AppendNext(line)) return {};
  return line;
}

long long CountTextLinesAt(const std::string& normalizedPath) {
  FilePtr f = OpenForReading(normalizedPath);
  if (!f) return 0;
  auto reader = std::make_unique<LineReader>(f.get());
  long long count = 0;
  while (reader->Skip()) ++count;
  return count;
}

bool WriteTextFileAt(const std::string& normalizedPath, std::string_view text,
                     std::string_view mode) {
  const bool binary = mode.find('b') != std::string_view::npos;
  // The mode goes to fopen as the script wrote it; in text mode a "b" is put
  // right after the access letter so that the line-end translation below is
  // the only one made (anything after a ',' stays where it was).
  std::string m(mode);
  if (!binary) m.insert(m.empty() ? 0 : 1, 1, 'b');
  if (!UsablePath(normalizedPath) || m.find('\0') != std::string::npos) return false;
  if (!WritablePath(normalizedPath)) return false;
  std::FILE* f = std::fopen(normalizedPath.c_str(), m.c_str());
  if (f == nullptr) return false;
  bool ok;
  if (binary) {
    ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  } else {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  }
  // Buffered data reaches the disk only at close: a full disk shows there.
  const bool closed = std::fclose(f) == 0;
  return ok && closed;
}

}  // namespace

std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   const CodePage& cp) {
  std::vector<std::string> pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = cp.Find(text, separator, pos);
    if (hit == std::string_view::npos) break;
    pieces.emplace_back(text.substr(pos, hit - pos));
    pos = hit + separator.size();
  }
  pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string NormalizePath(std::string_view path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

std::string NormalizePath(std::string_view path, const CodePage& cp) {
  std::string p(path);
  // A GBK trail byte may equal `\`; it belongs to its character.
  for (std::size_t pos = 0; pos < p.size(); pos += cp.CharLength(p, pos)) {
    if (p[pos] == '\\') p[pos] = '/';
  }
  return p;
}

std::string ReadTextFile(std::string_view path) {
  return ReadTextFileAt(NormalizePath(path));
}
std::string ReadTextFile(std::string_view path, const CodePage& cp) {
  return ReadTextFileAt(NormalizePath(path, cp));
}

std::string ReadTextLine(std::string_view path, long long n) {
  return ReadTextLineAt(NormalizePath(path), n);
}
std::string ReadTextLine(std::string_view path, long long n, const CodePage& cp) {
  return ReadTextLineAt(NormalizePath(path, cp), n);
}

long long CountTextLines(std::string_view path) {
  return CountTextLinesAt(NormalizePath(path));
}
long long CountTextLines(std::string_view path, const CodePage& cp) {
  return CountTextLinesAt(NormalizePath(path, cp));
}

bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode) {
  return WriteTextFileAt(NormalizePath(path), text, mode);
}
bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode,
                   const CodePage& cp) {
  return WriteTextFileAt(NormalizePath(path, cp), text, mode);
}

std::string UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += ch;
    } else if (CodePage::IsSpace(ch)) {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

long long LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && CodePage::IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kMax = std::numeric_limits<long long>::max();
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int d = text[i] - '0';
    if (value > (kMax - d) / 10) {
      value = kMax;
      break;
    }
    value = value * 10 + d;
  }
  return negative ? -value : value;
}

}  // namespace velmar

#include "values/text_file_ops.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "platform/durable_file.h"
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

// Why the last write of this thread failed (see LastWriteFailure).
thread_local std::string lastWriteFailure;

bool Failed(std::string reason) {
  lastWriteFailure = std::move(reason);
  return false;
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

std::string TextModeBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// The mode is read as fopen reads it (access letter, then '+', 'b', 'x' in
// any order up to a ','), but no write goes into the file in place: a
// replaced file is written beside it and renamed over it, an append that
// fails is cut back, so a full disk never leaves a fragment of either.
bool WriteTextFileAt(const std::string& normalizedPath, std::string_view text,
                     std::string_view mode, bool scriptPath, bool privateFile) {
  lastWriteFailure.clear();
  if (!UsablePath(normalizedPath) || mode.find('\0') != std::string_view::npos) {
    return Failed("cannot write a path or mode holding a NUL byte");
  }
  const std::string_view flags = mode.substr(0, mode.find(','));
  if (flags.empty() || (flags[0] != 'w' && flags[0] != 'a' && flags[0] != 'r')) {
    return Failed("cannot write " + normalizedPath + ": mode \"" + std::string(mode) +
                  "\" is no file mode");
  }
  const bool binary = flags.find('b') != std::string_view::npos;
  const bool update = flags.find('+') != std::string_view::npos;
  std::string converted;
  if (!binary) {
    converted = TextModeBytes(text);
    text = converted;
  }
  platform::FileWriteOptions options;
  options.privateFile = privateFile;
  options.followLink = scriptPath;
  options.mustNotExist = flags[0] == 'w' && flags.find('x') != std::string_view::npos;
  std::string reason;
  bool ok = false;
  switch (flags[0]) {
    case 'a':
      ok = platform::AppendToFile(normalizedPath, text, options, reason);
      break;
    case 'w':
      ok = platform::ReplaceFile(normalizedPath, text, options, reason);
      break;
    default: {
      // "r" opens for reading only; "r+" writes over the start of a file
      // that must exist and keeps whatever lies past the new text.
      if (!update) return Failed("cannot write " + normalizedPath + ": mode \"r\" only reads");
      FilePtr f = OpenForReading(platform::WriteTarget(normalizedPath, scriptPath));
      uint64_t size = 0;
      if (!f || !platform::RegularFileSize(f.get(), size)) {
        return Failed("cannot write " + normalizedPath + ": no such regular file");
      }
      if (size > kMaxExpandedTextSize + text.size()) {
        return Failed("cannot write " + normalizedPath + ": file too large to update");
      }
      std::string whole(static_cast<std::size_t>(size), '\0');
      whole.resize(std::fread(whole.data(), 1, whole.size(), f.get()));
      if (whole.size() != size) return Failed("cannot read " + normalizedPath);
      whole.replace(0, std::min(whole.size(), text.size()), text);
      ok = platform::ReplaceFile(normalizedPath, whole, options, reason);
      break;
    }
  }
  if (!ok) return Failed(std::move(reason));
  return true;
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
  return WriteTextFileAt(NormalizePath(path), text, mode, true, false);
}
bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode,
                   const CodePage& cp) {
  return WriteTextFileAt(NormalizePath(path, cp), text, mode, true, false);
}
bool WritePrivateTextFile(std::string_view path, std::string_view text, std::string_view mode,
                          const CodePage& cp) {
  return WriteTextFileAt(NormalizePath(path, cp), text, mode, true, true);
}
bool WriteOwnTextFile(const std::string& path, std::string_view text, std::string_view mode) {
  return WriteTextFileAt(path, text, mode, false, false);
}

const std::string& LastWriteFailure() {
  return lastWriteFailure;
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

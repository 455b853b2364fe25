#include "values/text_file_ops.h"

#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

namespace velmar {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(std::string_view path) {
  return FilePtr(std::fopen(NormalizePath(path).c_str(), "rb"));
}

// Reads the next line in text mode: CR LF ends a line as LF does, and the CR
// is not part of the line. Returns false at the end of the file. getline keeps
// NUL bytes and has no limit on the length of a line.
bool NextLine(std::FILE* f, std::string& line) {
  char* buf = nullptr;
  std::size_t cap = 0;
  const ssize_t n = ::getline(&buf, &cap, f);
  if (n < 0) {
    std::free(buf);
    return false;
  }
  line.assign(buf, static_cast<std::size_t>(n));
  std::free(buf);
  if (!line.empty() && line.back() == '\n') {
    line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
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

std::string ReadTextFile(std::string_view path) {
  FilePtr f = OpenForReading(path);
  if (!f) return {};
  std::string out;
  std::string line;
  while (NextLine(f.get(), line)) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::string ReadTextLine(std::string_view path, long long n) {
  if (n < 1) return {};
  FilePtr f = OpenForReading(path);
  if (!f) return {};
  std::string line;
  for (long long i = 1; NextLine(f.get(), line); ++i) {
    if (i == n) return line;
  }
  return {};
}

long long CountTextLines(std::string_view path) {
  FilePtr f = OpenForReading(path);
  if (!f) return 0;
  std::string line;
  long long count = 0;
  while (NextLine(f.get(), line)) ++count;
  return count;
}

bool WriteTextFile(std::string_view path, std::string_view text, std::string_view mode) {
  const bool binary = mode.find('b') != std::string_view::npos;
  // The mode goes to fopen as the script wrote it, with "b" added so that
  // the line-end translation below is the only one made.
  std::string m(mode);
  if (!binary) m += 'b';
  FilePtr f(std::fopen(NormalizePath(path).c_str(), m.c_str()));
  if (!f) return false;
  if (binary) {
    return std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  }
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
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

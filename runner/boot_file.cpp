#include "runner/boot_file.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "values/text_file_ops.h"

namespace velmar {

std::optional<BootEntry> ParseBootLine(std::string_view line, const CodePage& cp) {
  std::vector<std::string> fields = SplitText(line, "^", cp);
  if (fields.size() < 3) return std::nullopt;
  return BootEntry{std::move(fields[0]), std::move(fields[1]), std::move(fields[2])};
}

BootFile ReadBootFile(const std::filesystem::path& path, const CodePage& cp) {
  BootFile boot;
  std::error_code ec;
  // Only a regular file (or a link to one) is a boot file: a folder opens
  // but reads nothing, a pipe could block the start for ever.
  if (!std::filesystem::is_regular_file(path, ec)) return boot;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) return boot;
  boot.opened = true;

  std::string line;
  bool overlong = false;
  auto endLine = [&] {
    if (overlong) {
      boot.overlongLines += 1;
    } else {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (auto entry = ParseBootLine(line, cp)) {
        boot.entries.push_back(std::move(*entry));
      } else {
        boot.skippedLines += 1;
      }
    }
    line.clear();
    overlong = false;
  };
  std::vector<char> buffer(1 << 16);
  bool pending = false;  // bytes of a line without its line end yet
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f.get());
    if (n == 0) break;
    std::size_t pos = 0;
    while (pos < n) {
      const char* start = buffer.data() + pos;
      const auto* lf = static_cast<const char*>(std::memchr(start, '\n', n - pos));
      const std::size_t length = lf ? static_cast<std::size_t>(lf - start) : n - pos;
      if (!overlong) {
        if (line.size() + length > kMaxBootLineBytes) {
          overlong = true;
          line.clear();
          line.shrink_to_fit();
        } else {
          line.append(start, length);
        }
      }
      pending = true;
      pos += length;
      if (lf) {
        pos += 1;
        endLine();
        pending = false;
      }
    }
  }
  if (pending) endLine();
  return boot;
}

}  // namespace velmar

#pragma once
// The boot file Velmar.boot: one script per line as
// display name ^ script file (relative to Script/) ^ parameter, further
// fields ignored. Lines with fewer than three fields start nothing.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "values/code_page.h"

namespace velmar {

inline constexpr char kBootFileName[] = "Velmar.boot";
// A line longer than this is no boot line: it is skipped without being held
// in memory, so a huge file without line ends cannot exhaust the memory.
inline constexpr std::size_t kMaxBootLineBytes = 1 << 20;

struct BootEntry {
  std::string displayName;
  std::string fileName;
  std::string param;
};

struct BootFile {
  bool opened = false;
  std::vector<BootEntry> entries;  // the usable lines, in file order
  std::size_t skippedLines = 0;    // lines with fewer than three fields
  std::size_t overlongLines = 0;   // lines longer than kMaxBootLineBytes
};

// A line cut at every "^" (empty fields count); nothing when it has fewer
// than three fields.
std::optional<BootEntry> ParseBootLine(std::string_view line, const CodePage& cp);

// Reads the file line by line as text (LF ends a line, a CR before it is part
// of the line end). A folder, a missing or unreadable file is not opened.
BootFile ReadBootFile(const std::filesystem::path& path, const CodePage& cp);

}  // namespace velmar

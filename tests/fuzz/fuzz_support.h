#pragma once
// Small helpers shared by the fuzz targets: splitting an input into pieces,
// a private scratch folder for targets whose parsers read files, and the
// check that turns a broken invariant into a finding.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The input cut at every NUL byte: later pieces are optional parts (a second
// file, a value). The parsers under test see NUL bytes only inside pieces of
// targets that keep them.
inline std::vector<std::string_view> Pieces(const uint8_t* data, std::size_t size,
                                            std::size_t maxPieces) {
  std::vector<std::string_view> out;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (out.size() + 1 < maxPieces) {
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    out.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  out.push_back(rest);
  return out;
}

// A folder of this process under the temporary folder, removed at exit.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar-fuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr);
    static std::string remove;
    remove = pattern;
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(remove, ec);
    });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

inline void WriteFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(static_cast<bool>(out));
}

}  // namespace fuzz

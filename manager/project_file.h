#pragma once
// Project files (.tmpro): one script a line, "name^path^param", CR LF line
// ends, no header. A script whose runs are recorded has a fourth field,
// "record": readers that take the first three pieces of a line and ignore
// the rest read such a file as before.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

struct ProjectEntry {
  std::string name;
  std::string path;
  std::string param;
  // Each run of the script leaves a trace.
  bool record = false;
};

// The fourth field of a recording script.
inline constexpr char kRecordField[] = "record";

// The file's text for the entries in list order; empty for no entries.
// A field holding "^" or a line end would read back as other scripts, so
// such an entry is refused: the index of the first one is returned in
// `badEntry` and the text is empty.
std::string ProjectText(const std::vector<ProjectEntry>& entries,
                        std::optional<std::size_t>* badEntry = nullptr);

// The entries of a file's text: CR LF and LF line ends alike; a line with
// fewer than three pieces is skipped; a fourth piece "record" marks a
// recording script (any other fourth piece, or none, does not); pieces after
// the fourth are ignored.
std::vector<ProjectEntry> ParseProject(std::string_view text);

// Reads a whole project file; nullopt when it cannot be read (a missing
// file, a folder).
std::optional<std::string> ReadProjectFile(const std::string& path);
bool WriteProjectFile(const std::string& path, std::string_view text);
// Replaces the file so that a crash leaves the old text or the new one,
// never a mix: a new file beside it, flushed to the disk, renamed over it.
bool ReplaceProjectFile(const std::string& path, std::string_view text);

}  // namespace velmar

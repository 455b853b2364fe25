#include "manager/project_file.h"

#include "platform/durable_file.h"
#include "platform/regular_file.h"
#include "values/text_limits.h"

namespace velmar {
namespace {

bool Storable(std::string_view field) {
  return field.find_first_of("^\r\n") == std::string_view::npos;
}

}  // namespace

std::string ProjectText(const std::vector<ProjectEntry>& entries,
                        std::optional<std::size_t>* badEntry) {
  if (badEntry) badEntry->reset();
  std::string text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ProjectEntry& e = entries[i];
    if (!Storable(e.name) || !Storable(e.path) || !Storable(e.param)) {
      if (badEntry) *badEntry = i;
      return {};
    }
    text += e.name;
    text += '^';
    text += e.path;
    text += '^';
    text += e.param;
    // Only where it says something: a list without recording scripts is
    // written as it always was.
    if (e.record) {
      text += '^';
      text += kRecordField;
    }
    text += "\r\n";
  }
  return text;
}

std::vector<ProjectEntry> ParseProject(std::string_view text) {
  std::vector<ProjectEntry> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    while (pieces.size() < 4) {
      const std::size_t caret = line.find('^', from);
      pieces.push_back(
          line.substr(from, caret == std::string_view::npos ? line.npos : caret - from));
      if (caret == std::string_view::npos) break;
      from = caret + 1;
    }
    if (pieces.size() < 3) continue;
    entries.push_back({std::string(pieces[0]), std::string(pieces[1]), std::string(pieces[2]),
                       pieces.size() > 3 && pieces[3] == kRecordField});
  }
  return entries;
}

std::optional<std::string> ReadProjectFile(const std::string& path) {
  // Only a regular file of a script's size: a pipe would hold the window,
  // a device fill the memory.
  std::string text, reason;
  if (platform::ReadWholeRegularFile(path, kMaxExpandedTextSize, text, reason) !=
      platform::WholeFileRead::kRead) {
    return std::nullopt;
  }
  return text;
}

bool WriteProjectFile(const std::string& path, std::string_view text) {
  // The person chose the path: a link there is written through. A full disk
  // leaves the earlier project as it was.
  platform::FileWriteOptions options;
  options.followLink = true;
  std::string reason;
  return platform::ReplaceFile(path, text, options, reason);
}

bool ReplaceProjectFile(const std::string& path, std::string_view text) {
  // The manager's own list: a link planted at its name is replaced, never
  // written through.
  std::string reason;
  return platform::ReplaceFile(path, text, platform::FileWriteOptions{}, reason);
}

}  // namespace velmar

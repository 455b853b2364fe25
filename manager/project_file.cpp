#include "manager/project_file.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/durable_file.h"

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
    while (pieces.size() < 3) {
      const std::size_t caret = line.find('^', from);
      pieces.push_back(
          line.substr(from, caret == std::string_view::npos ? line.npos : caret - from));
      if (caret == std::string_view::npos) break;
      from = caret + 1;
    }
    if (pieces.size() < 3) continue;
    entries.push_back({std::string(pieces[0]), std::string(pieces[1]), std::string(pieces[2])});
  }
  return entries;
}

std::optional<std::string> ReadProjectFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

bool WriteProjectFile(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return static_cast<bool>(out);
}

bool ReplaceProjectFile(const std::string& path, std::string_view text) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path target(path);
  std::filesystem::path fresh = target;
  fresh += ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  if (platform::WriteNewFile(fresh, text) != platform::NewFileResult::kWritten) return false;
  std::error_code ec;
  std::filesystem::rename(fresh, target, ec);
  if (ec) std::filesystem::remove(fresh, ec);
  return !ec;
}

}  // namespace velmar

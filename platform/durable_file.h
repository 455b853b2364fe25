#pragma once
// Files written so that a crash or a power cut leaves either nothing or the
// whole text: the writers of settings and stores write a new file this way
// and then rename it over the old one.

#include <filesystem>
#include <string_view>

namespace velmar::platform {

enum class NewFileResult {
  kWritten,    // created, written completely and flushed to the disk
  kNameTaken,  // a file of that name exists; nothing was touched
  kFailed,     // not written; a file this call created is removed again
};

// Creates `path` (it must not exist yet) and writes `data` into it.
NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view data);

}  // namespace velmar::platform

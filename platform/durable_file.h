#pragma once
// Files written so that a full disk, a crash or a power cut leaves either
// the old file or the whole new text, never a fragment: every writer of the
// programs writes a temporary file beside the target (created exclusively,
// never through a link), flushes it and renames it over the old file.

#include <filesystem>
#include <string>
#include <string_view>

namespace velmar::platform {

enum class NewFileResult {
  kWritten,    // created, written completely and flushed to the disk
  kNameTaken,  // a file of that name exists; nothing was touched
  kFailed,     // not written; a file this call created is removed again
};

// Creates `path` (it must not exist yet) and writes `data` into it.
NewFileResult WriteNewFile(const std::filesystem::path& path, std::string_view data);

struct FileWriteOptions {
  // Cookies, passwords and traces: the file is created for its owner only
  // (mode 600, narrowed further by a stricter umask). Otherwise a new file
  // gets 666 less the umask and a replaced file keeps its permissions.
  bool privateFile = false;
  // The script named this path itself: a link there is written through, as
  // a script that keeps its output behind a link expects. Files the
  // programs name themselves (under the home folder) never are: a link
  // planted there is replaced, its target left alone.
  bool followLink = false;
  // Fails when a file of that name exists (fopen's "x").
  bool mustNotExist = false;
};

// A file being written in place of another: data goes into a temporary
// file beside the target, and only Commit puts it there. Dropped without a
// Commit, the temporary file is removed and the target left as it was.
class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile() { Abandon(); }

  // False (with the reason) when no temporary file could be made there.
  bool Open(const std::string& path, const FileWriteOptions& options, std::string& reason);
  // False once any write failed (a full disk); later writes do nothing.
  bool Write(std::string_view data, std::string& reason);
  // Flushes and renames over the target; false (the target unchanged) when
  // a write failed or the file could not be flushed or moved.
  bool Commit(std::string& reason);
  void Abandon();
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool failed_ = false;
  bool mustNotExist_ = false;
  std::string target_;
  std::string temp_;
};

// The whole file replaced by `data` through a ReplacingFile.
bool ReplaceFile(const std::string& path, std::string_view data, const FileWriteOptions& options,
                 std::string& reason);

// Appends `data`; when it cannot all be written the file is cut back to its
// old length (and a file this call created is removed), so a failed append
// never leaves half a text behind.
bool AppendToFile(const std::string& path, std::string_view data, const FileWriteOptions& options,
                  std::string& reason);

// Creates the folder (and missing folders above it) when it is missing;
// the folder itself is made for its owner only (mode 700): it holds the
// cookie store and the scripts' own files. An existing folder keeps its
// mode. False when it is not there afterwards.
bool CreatePrivateFolder(const std::filesystem::path& folder);

// A folder of the home folder's own (its `Temp`) for the programs' files,
// created as above. False, with the reason, when the name is a symbolic link
// or no folder: files the programs name themselves are never written
// through a link, and a planted `Temp` link would carry every note and
// captcha image out of the home folder.
bool OwnFolder(const std::filesystem::path& folder, std::string& reason);

// The path a write reaches: for a path the script named, the file behind a
// chain of links (which need not exist yet); otherwise the path itself.
std::string WriteTarget(const std::string& path, bool followLink);

}  // namespace velmar::platform

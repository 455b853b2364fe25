#pragma once
// A Debian package of a packed application: the folder under /opt/NAME, a
// menu entry that starts it, and a dependency on the libraries the runner
// loads. Made by `velmar pack --deb`.

#include <filesystem>
#include <string>
#include <vector>

namespace velmar {

struct DebOptions {
  std::string name;        // the package name; derived from the folder when empty
  std::string version;     // "1.0" when empty
  std::string maintainer;  // "Name <address>"
  std::string summary;     // one line: the application's name
};

struct DebResult {
  bool ok = false;
  std::vector<std::string> errors;
  std::filesystem::path package;  // the .deb made beside the folder
};

// Packs `appFolder` (made by PackApplication) into NAME_VERSION_ARCH.deb in
// its parent folder. dpkg-deb does the archive.
DebResult BuildApplicationDeb(const std::filesystem::path& appFolder, const DebOptions& options);

// A Debian package name from any text: lower case letters, digits and
// "+-." (starting with a letter or digit); empty when nothing is left.
std::string DebianPackageName(const std::string& text);

}  // namespace velmar

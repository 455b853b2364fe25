#pragma once
// Files a download is written into: created, or emptied when they exist.

#include <cstdio>
#include <string>

namespace velmar::platform {

// The file opened for binary writing (new files readable by everyone, as
// downloads usually are); null when it cannot be created or opened. The
// handle is not passed on to programs the script starts.
std::FILE* CreateOutputFile(const std::string& path);

}  // namespace velmar::platform

#pragma once
// What the running program knows about itself.

#include <filesystem>

namespace velmar::platform {

// Folder of the running executable; empty when the system does not say.
std::filesystem::path ExecutableFolder();
// Identifier of this process (unique among the processes running now).
long CurrentProcessId();

}  // namespace velmar::platform

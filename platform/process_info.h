#pragma once
// What the running program knows about itself.

#include <filesystem>

namespace velmar::platform {

// Folder of the running executable; empty when the system does not say.
std::filesystem::path ExecutableFolder();
// Identifier of this process (unique among the processes running now).
long CurrentProcessId();
// True only when the system says for certain that no process has this
// identifier any more (a process of another user still counts as alive).
bool ProcessIsGone(long pid);

}  // namespace velmar::platform

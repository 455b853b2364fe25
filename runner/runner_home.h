#pragma once
// The runner's home folder (its application folder): --home, else the
// executable's folder when it holds Velmar.boot (a packed application),
// else the home rules of every program.

#include <filesystem>
#include <string>

namespace velmar {

std::filesystem::path ResolveRunnerHome(const std::string& explicitHome);

// Folder of the running executable; empty when it cannot be told.
std::filesystem::path RunnerExecutableFolder();

}  // namespace velmar

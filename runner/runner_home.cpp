#include "runner/runner_home.h"

#include <system_error>

#include "engine/engine_environment.h"
#include "runner/boot_file.h"

namespace velmar {

std::filesystem::path RunnerExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path ResolveRunnerHome(const std::string& explicitHome) {
  if (explicitHome.empty()) {
    const std::filesystem::path exeDir = RunnerExecutableFolder();
    std::error_code ec;
    if (!exeDir.empty() && std::filesystem::exists(exeDir / kBootFileName, ec)) {
      return ResolveHomeFolder(exeDir.string());
    }
  }
  return ResolveHomeFolder(explicitHome);
}

}  // namespace velmar

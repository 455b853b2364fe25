#include "engine/engine_environment.h"

#include <cstdlib>
#include <system_error>

#include "platform/process_info.h"

namespace velmar {

EngineEnvironment EngineEnvironment::ForHome(const std::filesystem::path& home,
                                             KeywordFlavor flavor) {
  EngineEnvironment env;
  env.home = home;
  env.config = Profile(home / "Config.ini");
  env.codePage = &CodePage::Get(static_cast<int>(env.config.GetInt("codepage", CodePage::kUtf8)));
  env.flavor = flavor;
  return env;
}

std::filesystem::path ResolveHomeFolder(const std::string& explicitHome) {
  std::error_code ec;
  std::filesystem::path home;
  if (!explicitHome.empty()) {
    home = explicitHome;
  } else if (const char* env = std::getenv("VELMAR_HOME"); env && *env) {
    home = env;
  } else {
    const std::filesystem::path exeDir = platform::ExecutableFolder();
    if (!exeDir.empty() && (std::filesystem::is_directory(exeDir / "Script", ec) ||
                            std::filesystem::is_regular_file(exeDir / "Config.ini", ec))) {
      home = exeDir;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME");
               xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
      // Only an absolute XDG_DATA_HOME counts; a relative one is ignored.
      home = std::filesystem::path(xdg) / "velmar";
    } else if (const char* h = std::getenv("HOME"); h && *h) {
      home = std::filesystem::path(h) / ".local" / "share" / "velmar";
    } else {
      home = std::filesystem::current_path(ec) / "velmar";
    }
  }
  std::filesystem::create_directories(home, ec);
  std::filesystem::path absolute = std::filesystem::absolute(home, ec);
  if (ec) absolute = home;
  absolute = absolute.lexically_normal();
  // Paths are built as home + "/Script/...": keep no trailing separator.
  if (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  return absolute;
}

}  // namespace velmar

#pragma once
// What every script of one host shares: the home folder (the program folder
// of the original design), its Config.ini, the active code page and the
// keyword flavour of the program.

#include <filesystem>
#include <string>

#include "engine/keyword_table.h"
#include "values/code_page.h"
#include "values/profile.h"

namespace velmar {

struct EngineEnvironment {
  std::filesystem::path home;
  Profile config;
  const CodePage* codePage = &CodePage::Get(CodePage::kUtf8);
  KeywordFlavor flavor = KeywordFlavor::kManager;

  // Environment for a home folder: reads `codepage` from its Config.ini.
  static EngineEnvironment ForHome(const std::filesystem::path& home,
                                   KeywordFlavor flavor = KeywordFlavor::kManager);
};

// The home folder: --home, else VELMAR_HOME, else the executable's folder
// when it holds Script/ or Config.ini (portable install), else
// $XDG_DATA_HOME/velmar (~/.local/share/velmar), created on first use.
std::filesystem::path ResolveHomeFolder(const std::string& explicitHome);

}  // namespace velmar

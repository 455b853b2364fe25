#include "cli/pack_command.h"

#include <cstdio>
#include <optional>

#include <cstdlib>

#include "cli/help_command.h"
#include "engine/engine_environment.h"
#include "runner/app_deb.h"
#include "runner/app_packer.h"
#include "values/code_page.h"
#include "values/profile.h"

namespace velmar {

namespace {

constexpr const char* kPackUsage =
    "usage: velmar pack SCRIPT_FOLDER OUTPUT [--archive] [--force] [--appname NAME]\n"
    "                   [--homepage URL] [--hotkey KEY] [--boot FILE]\n"
    "                   [--deb [--deb-name NAME] [--deb-version V] [--maintainer 'N <A>']]\n";

// The manager's boss key when its Config.ini names none.
constexpr char kManagerDefaultHotKey[] = "CTRL + 9";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar pack: %s\n%s", message.c_str(), kPackUsage);
  return 2;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args) {
  PackOptions options;
  bool deb = false;
  std::optional<std::string> debName;
  std::optional<std::string> debVersion;
  std::optional<std::string> maintainer;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string>* target = nullptr;
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (!optionsEnded && arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      name = arg.substr(0, arg.find('='));
      inlineValue = arg.substr(arg.find('=') + 1);
    }
    std::optional<std::string> boot;
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return PrintCommandHelp("pack");
    if (arg == "--version") return PrintVersion("velmar");
    if (name == "--archive" && !inlineValue) {
      options.archive = true;
      continue;
    }
    if (name == "--force" && !inlineValue) {
      options.force = true;
      continue;
    }
    if (name == "--deb" && !inlineValue) {
      deb = true;
      continue;
    }
    if (name == "--appname") {
      target = &options.appName;
    } else if (name == "--homepage") {
      target = &options.homepage;
    } else if (name == "--hotkey") {
      target = &options.hotKey;
    } else if (name == "--boot") {
      target = &boot;
    } else if (name == "--deb-name") {
      target = &debName;
    } else if (name == "--deb-version") {
      target = &debVersion;
    } else if (name == "--maintainer") {
      target = &maintainer;
    } else {
      return UsageError("unknown option: " + arg);
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) return UsageError(name + " needs a value");
      inlineValue = args[++i];
    }
    *target = *inlineValue;
    if (name == "--boot") options.bootFile = std::filesystem::path(*boot);
  }
  if (positional.size() != 2) return UsageError("give the script folder and the output folder");
  options.scriptFolder = positional[0];
  options.output = positional[1];
  options.runnerProgram = DefaultRunnerProgram();
  if ((debName || debVersion || maintainer) && !deb) {
    return UsageError("--deb-name, --deb-version and --maintainer go with --deb");
  }
  if (deb && !maintainer && !(std::getenv("DEBFULLNAME") && std::getenv("DEBEMAIL"))) {
    return UsageError("--deb needs --maintainer \"Name <address>\" (or DEBFULLNAME and DEBEMAIL)");
  }
  // The boss key of the user's manager, to warn about a package hot key
  // that would fight with it.
  const char* home = std::getenv("VELMAR_HOME");
  const Profile managerConfig(ResolveHomeFolder(home ? home : "") / "Config.ini");
  options.managerHotKey = managerConfig.GetString("hotkey", kManagerDefaultHotKey);
  // Command lines on this platform are UTF-8; the package keeps its texts
  // in its own code page (GBK when its Config.ini says 936).
  options.textsInUtf8 = true;

  const PackResult result = PackApplication(options);
  for (const std::string& warning : result.warnings) {
    std::fprintf(stderr, "velmar pack: warning: %s\n", warning.c_str());
  }
  if (!result.ok) {
    for (const std::string& error : result.errors) {
      std::fprintf(stderr, "velmar pack: %s\n", error.c_str());
    }
    return 1;
  }
  std::printf("packed %zu file(s) into %s\n", result.filesCopied, result.folder.c_str());
  if (!result.archive.empty()) std::printf("archive: %s\n", result.archive.c_str());
  if (deb) {
    DebOptions debOptions;
    debOptions.name = debName.value_or("");
    debOptions.version = debVersion.value_or("");
    if (maintainer) {
      debOptions.maintainer = *maintainer;
    } else if (const char* who = std::getenv("DEBFULLNAME"), *mail = std::getenv("DEBEMAIL");
               who && mail && *who && *mail) {
      debOptions.maintainer = std::string(who) + " <" + mail + ">";
    }
    // The menu shows UTF-8; the package keeps its texts in its code page.
    const Profile config(result.folder / "Config.ini");
    debOptions.summary = CodePage::Get(static_cast<int>(config.GetInt("codepage", CodePage::kUtf8)))
                             .ToUtf8(config.GetString("appname"));
    const DebResult made = BuildApplicationDeb(result.folder, debOptions);
    if (!made.ok) {
      for (const std::string& error : made.errors) {
        std::fprintf(stderr, "velmar pack: %s\n", error.c_str());
      }
      return 1;
    }
    std::printf("package: %s\n", made.package.c_str());
  }
  return 0;
}

}  // namespace velmar

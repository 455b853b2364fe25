#include "cli/check_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <unistd.h>

#include "engine/engine_environment.h"
#include "tooling/script_checker.h"
#include "values/text_file_ops.h"

namespace velmar {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCheckUsage =
    "usage: velmar check [--format text|json] [--werror] [--home DIR] [--codepage 65001|936] "
    "FILE...\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "velmar check: %s\n", message.c_str());
  std::fputs(kCheckUsage, stderr);
  return 2;
}

// Only a regular file that can be opened is read: a folder, a pipe or a
// device is refused rather than read as nothing or waited on.
bool IsReadableScriptFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && ::access(path.c_str(), R_OK) == 0;
}

void WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& args) {
  bool json = false;
  bool werror = false;
  std::string homeOption;
  std::optional<int> codePage;
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const std::string& name, std::string& out) {
      if (arg == name) {
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        return true;
      }
      out = arg.substr(name.size() + 1);
      return true;
    };
    auto is = [&](const std::string& name) { return arg == name || arg.rfind(name + "=", 0) == 0; };
    if (optionsEnded) {
      files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kCheckUsage, stdout);
      return 0;
    } else if (arg == "--werror") {
      werror = true;
    } else if (is("--format")) {
      std::string format;
      if (!value("--format", format)) return UsageError("--format needs text or json");
      if (format != "text" && format != "json") return UsageError("unknown format: " + format);
      json = format == "json";
    } else if (is("--home")) {
      if (!value("--home", homeOption)) return UsageError("--home needs a folder");
    } else if (is("--codepage")) {
      std::string text;
      if (!value("--codepage", text)) return UsageError("--codepage needs 65001 or 936");
      if (text == "65001") {
        codePage = CodePage::kUtf8;
      } else if (text == "936") {
        codePage = CodePage::kGbk;
      } else {
        return UsageError("unknown code page: " + text + " (use 65001 or 936)");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option: " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return UsageError("no script given");

  EngineEnvironment env = EngineEnvironment::ForHome(ResolveHomeFolder(homeOption), KeywordFlavor::kRunner);
  if (codePage) env.codePage = &CodePage::Get(*codePage);

  bool errors = false;
  bool unreadable = false;
  for (const std::string& file : files) {
    if (!IsReadableScriptFile(file)) {
      std::fprintf(stderr, "velmar check: cannot read %s\n", file.c_str());
      unreadable = true;
      continue;
    }
    for (CheckFinding& finding : CheckScriptFile(file, env)) {
      if (werror) finding.error = true;
      errors = errors || finding.error;
      // JSON is UTF-8: script text quoted in a message of a GBK script is
      // converted (the text form keeps the script's own bytes).
      if (json && env.codePage->id() != CodePage::kUtf8) finding.message = env.codePage->ToUtf8(finding.message);
      WriteLine(json ? FormatFindingJson(finding) : FormatFindingText(finding));
    }
  }
  if (std::fflush(stdout) != 0) return 2;
  if (unreadable) return 2;
  return errors ? 1 : 0;
}

}  // namespace velmar

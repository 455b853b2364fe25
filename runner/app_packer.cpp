#include "runner/app_packer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <set>
#include <system_error>

#include "engine/keyword_table.h"
#include "engine/script_program.h"
#include "runner/boot_file.h"
#include "ui/hot_key_text.h"
#include "runner/runner_home.h"
#include "runner/runner_texts.h"
#include "values/failure_texts.h"
#include "values/profile.h"
#include "values/text_file_ops.h"

extern char** environ;

namespace velmar {

namespace fs = std::filesystem;
namespace t = runner_text;

namespace {

constexpr int kMaxFolderDepth = 64;
constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;

// Runs a tool and waits for it; false when it cannot be run or fails.
bool RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A value of the Exec key: the program in double quotes, with the
// characters the key reserves escaped, and the backslash of each escape
// doubled for the desktop file's own string rules.
std::string QuotedExec(const std::string& program) {
  std::string out = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += "\\\\";
    out += c;
    if (c == '\\') out += c;
  }
  return out + "\"";
}

}  // namespace

std::string DesktopEntry(std::string name, const fs::path& program) {
  // Desktop files want UTF-8 and one line per key.
  std::replace_if(
      name.begin(), name.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + name + "\n"
         "Comment=Velmar packed application\n"
         "Exec=" + QuotedExec(program.string()) + "\n"
         "Icon=vlmpack\n"
         "Terminal=false\n"
         "Categories=Network;Utility;\n";
}

namespace {

bool IsInside(const fs::path& inner, const fs::path& outer) {
  const auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

fs::path Canonical(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec ? fs::absolute(p, ec).lexically_normal() : c;
}

// An earlier package, or an empty folder: the only folders --force replaces.
bool IsReplaceable(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec) || fs::is_symlink(folder, ec)) return false;
  if (fs::is_empty(folder, ec)) return true;
  return fs::exists(folder / kBootFileName, ec) && fs::exists(folder / "vlmpack", ec);
}

class Packer {
 public:
  Packer(const PackOptions& options, PackResult& result) : o_(options), r_(result) {}

  bool Run() {
    if (!CheckInputs()) return false;
    const fs::path staging = output_.parent_path() / ("." + output_.filename().string() +
                                                      ".packing-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(staging, ec);
    if (!fs::create_directories(staging / "Script", ec)) {
      return Fail(t::kPackCannotCreate, {(staging / "Script").string(), ec.message()});
    }
    const bool made = Fill(staging);
    if (made && Install(staging)) return !o_.archive || MakeArchive();
    fs::remove_all(staging, ec);
    return false;
  }

 private:
  // A reason that stops the packing, and one worth a look; the texts and
  // their places are in runner/runner_texts.h.
  bool Fail(const char* text, std::vector<std::string> parts = {}) {
    r_.errors.push_back(FillParts(text, parts));
    return false;
  }
  void Warn(const char* text, std::vector<std::string> parts = {}) {
    r_.warnings.push_back(FillParts(text, parts));
  }

  bool CheckInputs() {
    std::error_code ec;
    if (!fs::is_directory(o_.scriptFolder, ec)) {
      return Fail(t::kPackNotAFolder, {o_.scriptFolder.string()});
    }
    scriptRoot_ = Canonical(o_.scriptFolder);
    if (fs::is_directory(scriptRoot_ / "Script", ec)) {
      baseConfig_ = scriptRoot_ / "Config.ini";
      scriptRoot_ = Canonical(scriptRoot_ / "Script");
    }
    if (o_.output.empty()) return Fail(t::kPackNoOutput);
    output_ = Canonical(o_.output);
    if (!output_.has_filename() || output_ == output_.root_path()) {
      return Fail(t::kPackUnusableOutput, {o_.output.string()});
    }
    const fs::path source = Canonical(o_.scriptFolder);
    if (IsInside(output_, source) || IsInside(source, output_)) {
      return Fail(t::kPackOutputInside, {output_.string()});
    }
    if (fs::exists(fs::symlink_status(output_, ec))) {
      if (!o_.force) return Fail(t::kPackOutputExists, {output_.string()});
      if (!IsReplaceable(output_)) {
        return Fail(t::kPackOutputNotPackage, {output_.string()});
      }
    }
    if (o_.archive) {
      archive_ = output_.parent_path() / (output_.filename().string() + ".tar.gz");
      if (fs::exists(fs::symlink_status(archive_, ec))) {
        if (!o_.force) return Fail(t::kPackArchiveExists, {archive_.string()});
        if (!fs::is_regular_file(fs::symlink_status(archive_, ec))) {
          return Fail(t::kPackArchiveNotFile, {archive_.string()});
        }
      }
    }
    if (!fs::is_regular_file(o_.runnerProgram, ec)) {
      return Fail(t::kPackNoRunner, {o_.runnerProgram.string()});
    }
    if (o_.bootFile && !fs::is_regular_file(*o_.bootFile, ec)) {
      return Fail(t::kPackNoBootFile, {o_.bootFile->string()});
    }
    if (!fs::is_directory(output_.parent_path(), ec)) {
      return Fail(t::kPackNoParent, {output_.parent_path().string()});
    }
    return true;
  }

  bool Fill(const fs::path& staging) {
    std::vector<fs::path> chain{scriptRoot_};
    if (!CopyTree(scriptRoot_, staging / "Script", chain, 0)) return false;

    // A package for this platform: the code page and every other key of the
    // source's Config.ini carry over; the options override.
    const fs::path config = staging / "Config.ini";
    std::error_code ec;
    if (!baseConfig_.empty() && fs::is_regular_file(baseConfig_, ec)) {
      if (!fs::copy_file(baseConfig_, config, ec)) {
        return Fail(t::kPackCannotCopy, {baseConfig_.string(), ec.message()});
      }
    }
    const Profile profile(config);
    cp_ = &CodePage::Get(static_cast<int>(profile.GetInt("codepage", CodePage::kUtf8)));

    std::vector<BootEntry> boot;
    if (!WriteBoot(staging, boot)) return false;
    auto text = [this](const std::optional<std::string>& value) -> std::optional<std::string> {
      if (!value || !o_.textsInUtf8) return value;
      return cp_->FromUtf8(*value);
    };
    std::string appName = text(o_.appName).value_or(profile.GetString("appname"));
    if (appName.empty()) appName = boot.front().displayName;
    if (!WriteSetting(profile, "appname", appName)) return false;
    if (o_.homepage && !WriteSetting(profile, "homepage", *text(o_.homepage))) return false;
    if (o_.hotKey) {
      if (!CheckHotKey(*o_.hotKey)) return false;
      if (!WriteSetting(profile, "hotkey", *text(o_.hotKey))) return false;
    }

    CheckIncludes(staging, boot);

    const fs::path runner = staging / "vlmpack";
    if (!fs::copy_file(o_.runnerProgram, runner, ec)) {
      return Fail(t::kPackCannotCopy, {o_.runnerProgram.string(), ec.message()});
    }
    fs::permissions(runner, kExecutable, ec);
    // The symbols only make the copy large: the package is for running.
    RunTool({"strip", "--strip-unneeded", runner.string()});
    return WriteLauncher(staging) && WriteDesktopFile(staging, appName);
  }

  // The runner registers Control and Alt with the key of the text's last
  // byte. Any other modifier would be dropped and the bare key grabbed from
  // every program ("SHIFT + Q" would take every Q typed), so such a text is
  // refused, as is one whose last byte is no key at all.
  bool CheckHotKey(const std::string& text) {
    const HotKey key = HotKeyFromText(text);
    const KeyInfo* info = key.valid() ? FindKey(key.keyCode) : nullptr;
    if (!info) {
      return Fail(t::kPackHotKeyNoKey, {text});
    }
    const std::size_t plus = text.rfind('+');
    if (plus != std::string::npos) {
      std::string_view modifiers = std::string_view(text).substr(0, plus);
      while (!modifiers.empty()) {
        const std::size_t cut = modifiers.find('+');
        const std::string_view word = CodePage::Trim(modifiers.substr(0, cut));
        if (word != "CTRL" && word != "ALT") {
          return Fail(t::kPackHotKeyModifier,
                      {text,
                       word.empty() ? std::string(t::kPackEmptyModifier)
                                    : "\"" + std::string(word) + "\"",
                       info->name});
        }
        modifiers = cut == std::string_view::npos ? std::string_view() : modifiers.substr(cut + 1);
      }
    }
    // "CTRL + F5" is Control and 5: a key named after the last "+" is not
    // what the runner registers unless it is that one byte.
    const std::string_view named =
        CodePage::Trim(std::string_view(text).substr(plus == std::string::npos ? 0 : plus + 1));
    if (named.size() != 1) {
      Warn(named.empty() ? t::kPackHotKeyLastByte : t::kPackHotKeyLastByteNotAs,
           {text, info->name, std::string(named)});
    }
    if (o_.managerHotKey) {
      const HotKey boss = HotKeyFromText(*o_.managerHotKey);
      if (boss.valid() && boss.keyCode == key.keyCode && boss.control == key.control &&
          boss.alt == key.alt) {
        Warn(t::kPackHotKeyBossKey, {text, *o_.managerHotKey});
      }
    }
    return true;
  }

  // `start` beside the runner: what menus and file managers launch. It runs
  // the application in place, or, where its folder cannot be written (an
  // installed copy under /opt), from a folder of the user's own, so that
  // cookies, notes and settings have somewhere to go.
  bool WriteLauncher(const fs::path& staging) {
    const fs::path path = staging / "start";
    const std::string text =
        "#!/bin/sh\n"
        "# Starts this packed application; arguments go to vlmpack.\n"
        "here=$(dirname \"$(readlink -f \"$0\")\")\n"
        "if [ -w \"$here\" ]; then exec \"$here/vlmpack\" \"$@\"; fi\n"
        "# An installed copy: the scripts and the boot file are refreshed from\n"
        "# here at each start, the user's Config.ini is kept.\n"
        "home=\"${XDG_DATA_HOME:-$HOME/.local/share}/velmar-apps/$(basename \"$here\")\"\n"
        "mkdir -p \"$home\" || exit 1\n"
        "rm -rf \"$home/Script\" && cp -R \"$here/Script\" \"$home/Script\" &&\n"
        "  cp \"$here/Velmar.boot\" \"$home/Velmar.boot\" || exit 1\n"
        "[ -f \"$home/Config.ini\" ] || cp \"$here/Config.ini\" \"$home/Config.ini\"\n"
        "exec \"$here/vlmpack\" --home \"$home\" \"$@\"\n";
    if (!WriteTextFile(path.string(), text, "wb")) return Fail(t::kPackCannotWrite, {path.string()});
    std::error_code ec;
    fs::permissions(path, kExecutable, ec);
    return true;
  }

  // Copies regular files and follows links to files and folders (so the
  // package holds real files); a link back to a folder being copied is a
  // loop and is skipped.
  bool CopyTree(const fs::path& from, const fs::path& to, std::vector<fs::path>& chain, int depth) {
    std::error_code ec;
    if (depth > kMaxFolderDepth) {
      Warn(t::kPackTooDeep, {std::to_string(kMaxFolderDepth), from.string()});
      return true;
    }
    fs::directory_iterator it(from, ec);
    if (ec) {
      Warn(t::kPackCannotReadFolder, {from.string(), ec.message()});
      return true;
    }
    std::vector<fs::directory_entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec) break;
      entries.push_back(*it);
    }
    for (const fs::directory_entry& entry : entries) {
      const fs::path target = to / entry.path().filename();
      const fs::file_status st = fs::status(entry.path(), ec);
      if (ec || !fs::exists(st)) {
        Warn(t::kPackBrokenLink, {entry.path().string()});
        continue;
      }
      if (fs::is_directory(st)) {
        const fs::path real = Canonical(entry.path());
        if (std::find(chain.begin(), chain.end(), real) != chain.end()) {
          Warn(t::kPackLinkLoop, {entry.path().string()});
          continue;
        }
        if (!fs::create_directory(target, ec) && ec) {
          return Fail(t::kPackCannotCreate, {target.string(), ec.message()});
        }
        chain.push_back(real);
        const bool ok = CopyTree(entry.path(), target, chain, depth + 1);
        chain.pop_back();
        if (!ok) return false;
      } else if (fs::is_regular_file(st)) {
        if (!fs::copy_file(entry.path(), target, ec)) {
          return Fail(t::kPackCannotCopy, {entry.path().string(), ec.message()});
        }
        r_.filesCopied += 1;
      } else {
        Warn(t::kPackNotFileOrFolder, {entry.path().string()});
      }
    }
    return true;
  }

  bool WriteBoot(const fs::path& staging, std::vector<BootEntry>& entries) {
    const fs::path bootPath = staging / kBootFileName;
    std::error_code ec;
    if (o_.bootFile) {
      const BootFile boot = ReadBootFile(*o_.bootFile, *cp_);
      if (boot.entries.empty()) {
        return Fail(t::kPackBootNoLine, {o_.bootFile->string()});
      }
      if (!fs::copy_file(*o_.bootFile, bootPath, ec)) {
        return Fail(t::kPackCannotCopy, {o_.bootFile->string(), ec.message()});
      }
      entries = boot.entries;
      for (const BootEntry& entry : entries) {
        const std::string path = NormalizePath(entry.fileName, *cp_);
        if (!fs::is_regular_file(staging / "Script" / path, ec)) {
          Warn(t::kPackBootScriptMissing, {entry.fileName});
        }
      }
      return true;
    }
    std::string main;
    std::vector<std::string> topScripts;
    for (fs::directory_iterator it(staging / "Script", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      if (it->is_regular_file(ec) && it->path().extension() == ".vlm") {
        topScripts.push_back(it->path().filename().string());
      }
    }
    if (std::find(topScripts.begin(), topScripts.end(), "main.vlm") != topScripts.end()) {
      main = "main.vlm";
    } else if (topScripts.size() == 1) {
      main = topScripts.front();
    } else if (topScripts.empty()) {
      return Fail(t::kPackNoScript, {scriptRoot_.string()});
    } else {
      return Fail(t::kPackNoMain, {scriptRoot_.string(), std::to_string(topScripts.size())});
    }
    BootEntry entry{fs::path(main).stem().string(), main, ""};
    if (!WriteTextFile(bootPath.string(), entry.displayName + "^" + entry.fileName + "^\n", "wb")) {
      return Fail(t::kPackCannotWrite, {bootPath.string()});
    }
    entries.push_back(std::move(entry));
    return true;
  }

  bool WriteSetting(const Profile& profile, const char* key, const std::string& value) {
    if (value.size() >= Profile::kReadBuffer) {
      Warn(t::kPackSettingCut, {std::to_string(Profile::kReadBuffer - 1), key});
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
      return Fail(t::kPackSettingLineBreak, {key});
    }
    if (!profile.WriteString(key, value)) {
      return Fail(t::kPackCannotWrite, {profile.file().string()});
    }
    return true;
  }

  // Follows `using` from the boot scripts the way the loader does and names
  // every include that is not there. Each file is looked at once, so an
  // include cycle ends here too.
  void CheckIncludes(const fs::path& staging, const std::vector<BootEntry>& boot) {
    EngineEnvironment env;
    env.home = staging;
    env.codePage = cp_;
    env.flavor = KeywordFlavor::kRunner;
    std::set<std::string> seen;
    std::deque<std::string> queue;
    for (const BootEntry& entry : boot) {
      queue.push_back(NormalizePath((staging / "Script").string() + "/" + entry.fileName, *cp_));
    }
    std::error_code ec;
    while (!queue.empty()) {
      const std::string file = queue.front();
      queue.pop_front();
      const std::string key = Canonical(file).string();
      if (!seen.insert(key).second || !fs::is_regular_file(file, ec)) continue;
      const std::string text = ReadTextFile(file, *cp_);
      std::size_t pos = 0;
      while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line =
            CodePage::TrimLeft(std::string_view(text).substr(pos, end - pos));
        pos = end + 2;
        const StatementSplit split = splitStatement(line, *cp_, env.flavor);
        if (split.id != stmt::kUsing) continue;
        const std::string include = IncludePath(staging, split.text, *cp_);
        if (fs::is_regular_file(include, ec)) {
          queue.push_back(include);
        } else {
          const fs::path relative = fs::path(file).lexically_relative(staging);
          Warn(t::kPackMissingInclude,
               {std::string(CodePage::Trim(split.text)), relative.string(),
                fs::path(include).lexically_relative(staging).string()});
        }
      }
    }
  }

  bool WriteDesktopFile(const fs::path& staging, const std::string& appName) {
    std::error_code ec;
    const fs::path path = staging / (output_.filename().string() + ".desktop");
    if (!WriteTextFile(path.string(), DesktopEntry(cp_->ToUtf8(appName), output_ / "start"), "wb")) {
      return Fail(t::kPackCannotWrite, {path.string()});
    }
    // File managers start only desktop files that are executable.
    fs::permissions(path, kExecutable, ec);
    return true;
  }

  bool Install(const fs::path& staging) {
    std::error_code ec;
    // The earlier package is moved aside, not removed, until the new one is
    // in its place: a move that fails puts it back, so nothing is lost.
    fs::path earlier;
    if (fs::exists(fs::symlink_status(output_, ec))) {
      earlier = staging.string() + ".earlier";
      fs::remove_all(earlier, ec);
      fs::rename(output_, earlier, ec);
      if (ec)
        return Fail(t::kPackCannotRemoveEarlier, {output_.string(), ec.message()});
    }
    fs::rename(staging, output_, ec);
    if (ec) {
      const std::string why = ec.message();
      if (!earlier.empty()) fs::rename(earlier, output_, ec);
      return Fail(t::kPackCannotMove, {output_.string(), why});
    }
    if (!earlier.empty()) fs::remove_all(earlier, ec);
    r_.folder = output_;
    return true;
  }

  bool MakeArchive() {
    const fs::path partial = archive_.string() + ".partial";
    const std::string parent = output_.parent_path().string();
    const std::string name = output_.filename().string();
    const std::string out = partial.string();
    std::vector<std::string> args{"tar", "-czf", out, "-C", parent, "--", name};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "tar", nullptr, nullptr, argv.data(), environ) != 0) {
      return Fail(t::kPackNoTar, {archive_.string()});
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::error_code ec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fs::remove(partial, ec);
      return Fail(t::kPackTarFailed, {archive_.string()});
    }
    fs::rename(partial, archive_, ec);
    if (ec) return Fail(t::kPackCannotWriteWhy, {archive_.string(), ec.message()});
    r_.archive = archive_;
    return true;
  }

  const PackOptions& o_;
  PackResult& r_;
  fs::path scriptRoot_;
  fs::path baseConfig_;
  fs::path output_;
  fs::path archive_;
  const CodePage* cp_ = &CodePage::Get(CodePage::kUtf8);
};

}  // namespace

PackResult PackApplication(const PackOptions& options) {
  PackResult result;
  result.ok = Packer(options, result).Run();
  return result;
}

fs::path DefaultRunnerProgram() {
  return RunnerExecutableFolder() / "vlmpack";
}

}  // namespace velmar

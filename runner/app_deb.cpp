#include "runner/app_deb.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <fstream>
#include <iterator>
#include <system_error>

#include "runner/app_packer.h"
#include "values/text_file_ops.h"

extern char** environ;

namespace velmar {

namespace fs = std::filesystem;

namespace {

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a tool with its output into `log`; the exit status, -1 when it could
// not be started.
int RunTool(std::vector<std::string> args, const fs::path& log) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool IsDebianVersion(const std::string& version) {
  if (version.empty() || !std::isdigit(static_cast<unsigned char>(version[0]))) return false;
  for (char c : version) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '+' && c != '~' &&
        c != '-') {
      return false;
    }
  }
  return true;
}

// The architecture dpkg installs for, as dpkg itself names it.
std::string Architecture(const fs::path& scratch) {
  const fs::path out = scratch / "arch";
  if (RunTool({"dpkg", "--print-architecture"}, out) != 0) return {};
  std::string arch = ReadFileBytes(out);
  while (!arch.empty() && (arch.back() == '\n' || arch.back() == '\r')) arch.pop_back();
  return arch;
}

// Directories 755, files 644, executables 755: what dpkg-deb and lintian
// expect of every file, whatever the user's umask made of the copy.
void NormalizePermissions(const fs::path& root) {
  std::error_code ec;
  const auto exec = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
  const auto plain = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                     fs::perms::others_read;
  fs::permissions(root, exec, ec);
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    if (fs::is_symlink(status)) continue;
    const bool executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
    fs::permissions(it->path(), fs::is_directory(status) || executable ? exec : plain, ec);
  }
}

}  // namespace

std::string DebianPackageName(const std::string& text) {
  std::string name;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) && u < 0x80) {
      name += static_cast<char>(std::tolower(u));
    } else if ((c == '+' || c == '-' || c == '.') && !name.empty()) {
      name += c;
    } else if ((c == ' ' || c == '_') && !name.empty() && name.back() != '-') {
      name += '-';
    }
  }
  while (!name.empty() && !std::isalnum(static_cast<unsigned char>(name.back()))) name.pop_back();
  return name.size() >= 2 ? name : std::string();
}

DebResult BuildApplicationDeb(const fs::path& appFolder, const DebOptions& options) {
  DebResult r;
  auto fail = [&r](std::string message) {
    r.errors.push_back(std::move(message));
    return r;
  };
  const std::string name =
      DebianPackageName(options.name.empty() ? appFolder.filename().string() : options.name);
  if (name.empty()) {
    return fail("no Debian package name can be made of \"" +
                (options.name.empty() ? appFolder.filename().string() : options.name) +
                "\"; give one with --deb-name (lower case letters, digits, + - .)");
  }
  if (!options.name.empty() && name != options.name) {
    return fail("\"" + options.name +
                "\" is no Debian package name; use lower case letters, "
                "digits and + - . (for example \"" +
                name + "\")");
  }
  const std::string version = options.version.empty() ? "1.0" : options.version;
  if (!IsDebianVersion(version)) {
    return fail("\"" + version +
                "\" is no package version: it starts with a digit and holds "
                "letters, digits and . + ~ -");
  }
  if (options.maintainer.find('<') == std::string::npos ||
      options.maintainer.find('@') == std::string::npos || options.maintainer.back() != '>') {
    return fail(
        "the package needs a maintainer as \"Name <address>\" (--maintainer, or the "
        "variables DEBFULLNAME and DEBEMAIL)");
  }

  const fs::path parent = appFolder.parent_path();
  const fs::path scratch = parent / ("." + name + ".deb-" + std::to_string(::getpid()));
  std::error_code ec;
  fs::remove_all(scratch, ec);
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code e;
      fs::remove_all(path, e);
    }
  } cleanup{scratch};
  const fs::path root = scratch / "root";
  const fs::path opt = root / "opt" / name;
  fs::create_directories(opt.parent_path(), ec);
  fs::create_directories(root / "DEBIAN", ec);
  fs::create_directories(root / "usr/share/applications", ec);
  fs::create_directories(root / "usr/share/doc" / name, ec);
  fs::create_directories(root / "usr/share/lintian/overrides", ec);
  if (ec) return fail("cannot create " + root.string() + ": " + ec.message());

  fs::copy(appFolder, opt, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  if (ec) return fail("cannot copy " + appFolder.string() + ": " + ec.message());
  // The folder's own desktop file names the folder; the menu entry names
  // the installed copy.
  for (const auto& entry : fs::directory_iterator(opt, ec)) {
    if (entry.path().extension() == ".desktop") fs::remove(entry.path(), ec);
  }
  const std::string summary = options.summary.empty() ? name : options.summary;
  bool written = WriteTextFile((root / "usr/share/applications" / (name + ".desktop")).string(),
                               DesktopEntry(summary, fs::path("/opt") / name / "start"), "wb");

  const std::string arch = Architecture(scratch);
  if (arch.empty()) return fail("cannot ask dpkg for the architecture (is dpkg installed?)");
  char date[64];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &utc);
  const std::string doc = (root / "usr/share/doc" / name).string();
  written =
      written &&
      WriteTextFile(doc + "/copyright",
                    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                    "Upstream-Name: " +
                        name + "\nUpstream-Contact: " + options.maintainer +
                        "\n\nFiles: *\nCopyright: " + options.maintainer +
                        "\nLicense: other\n The terms are those its maintainer states.\n",
                    "wb");
  written = written && WriteTextFile(doc + "/changelog",
                                     name + " (" + version +
                                         ") unstable; urgency=medium\n\n"
                                         "  * Packed with velmar pack.\n\n -- " +
                                         options.maintainer + "  " + date + "\n",
                                     "wb");
  // Applications packed by their users live in /opt by design.
  written = written && WriteTextFile((root / "usr/share/lintian/overrides" / name).string(),
                                     name + ": dir-or-file-in-opt\n", "wb");
  if (!written) return fail("cannot write the package's files under " + root.string());
  const fs::path log = scratch / "log";
  if (RunTool({"gzip", "-9n", doc + "/changelog"}, log) != 0) {
    return fail("gzip could not compress the changelog");
  }

  NormalizePermissions(root);
  std::uintmax_t bytes = 0;
  for (auto it = fs::recursive_directory_iterator(opt, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) bytes += it->file_size(ec);
  }
  const std::string control =
      "Package: " + name + "\nVersion: " + version + "\nArchitecture: " + arch +
      "\nMaintainer: " + options.maintainer +
      "\nInstalled-Size: " + std::to_string((bytes + 1023) / 1024) +
      "\nDepends: " VELMAR_RUNTIME_DEPENDS "\nSection: misc\nPriority: optional\nDescription: " +
      summary +
      "\n A Velmar application: scripts run by the packed runner vlmpack,\n started from the "
      "menu entry or /opt/" +
      name + "/start.\n";
  if (!WriteTextFile((root / "DEBIAN/control").string(), control, "wb")) {
    return fail("cannot write the package's control file");
  }
  fs::permissions(root / "DEBIAN/control",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read,
                  ec);

  const fs::path deb = parent / (name + "_" + version + "_" + arch + ".deb");
  const fs::path partial = scratch / "package.deb";
  if (RunTool({"dpkg-deb", "--root-owner-group", "--build", root.string(), partial.string()},
              log) != 0) {
    return fail("dpkg-deb could not build the package: " + ReadFileBytes(log));
  }
  fs::rename(partial, deb, ec);
  if (ec) return fail("cannot write " + deb.string() + ": " + ec.message());
  r.package = deb;
  r.ok = true;
  return r;
}

}  // namespace velmar

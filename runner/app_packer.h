#pragma once
// Makes a packed application: a folder that holds the runner program, the
// scripts under Script/, a Velmar.boot, a Config.ini and a .desktop file,
// and runs wherever it is moved. Used by `velmar pack` and by the manager's
// packer entry.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

struct PackOptions {
  // A folder of scripts, or a home folder (one that holds Script/; its
  // Config.ini then becomes the package's starting point).
  std::filesystem::path scriptFolder;
  std::filesystem::path output;
  // Also writes output + ".tar.gz".
  bool archive = false;
  // Replaces an earlier package at `output` (never any other folder).
  bool force = false;
  std::optional<std::string> appName;
  std::optional<std::string> homepage;
  std::optional<std::string> hotKey;
  // appName, homepage and hotKey are UTF-8 (typed into the manager's
  // dialog) and are converted into the package's code page; otherwise they
  // are taken as bytes of that code page.
  bool textsInUtf8 = false;
  // A boot file to use as it is; without one, a line for the main script
  // (main.vlm, or the only script at the top of the folder) is written.
  std::optional<std::filesystem::path> bootFile;
  // The vlmpack program to copy in.
  std::filesystem::path runnerProgram;
  // The manager's boss key (its Config.ini `hotkey`), to warn about a
  // package hot key that collides with it.
  std::optional<std::string> managerHotKey;
};

struct PackResult {
  bool ok = false;
  std::vector<std::string> errors;    // why nothing was made
  std::vector<std::string> warnings;  // made, but worth a look (missing includes, ...)
  std::filesystem::path folder;
  std::filesystem::path archive;
  std::size_t filesCopied = 0;
};

PackResult PackApplication(const PackOptions& options);

// The .desktop text that starts `program` (an absolute path) under `name`
// (UTF-8).
std::string DesktopEntry(std::string name, const std::filesystem::path& program);

// The vlmpack program beside the running executable.
std::filesystem::path DefaultRunnerProgram();

}  // namespace velmar

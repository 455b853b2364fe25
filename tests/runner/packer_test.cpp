// `velmar pack`: the application folder it makes runs wherever it is moved;
// includes, boot files, settings, archives and the refusal to overwrite.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "runner/app_packer.h"
#include "support/test_support.h"
#include "values/profile.h"

namespace velmar {
namespace {

namespace fs = std::filesystem;
using testing::ProcessResult;
using testing::RunProcess;
using testing::RunVelmar;
using testing::TempDir;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The packer's reasons are assembled from a text and the names it is
// given; each must read whole, as people and scripts have seen it.
TEST(Packer, HotKeyReasonsReadWhole) {
  TempDir work;
  work.Write("src/main.vlm", "show hi\n");
  work.Write("runner/vlmpack", "not a real runner; the packer only copies it");
  const auto pack = [&](const std::string& key, const char* out) {
    PackOptions o;
    o.scriptFolder = work.path() / "src";
    o.output = work.path() / out;
    o.runnerProgram = work.path() / "runner" / "vlmpack";
    o.hotKey = key;
    o.managerHotKey = "CTRL + 9";
    return PackApplication(o);
  };
  PackResult r = pack("SHIFT + Q", "a");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0],
            "the hot key \"SHIFT + Q\" names \"SHIFT\", which the runner cannot register (only "
            "CTRL and ALT are): it would take the key Q alone from every program");
  r = pack(" + Q", "b");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_NE(r.errors[0].find("\" names an empty modifier, which"), std::string::npos) << r.errors[0];
  r = pack("CTRL + F5", "c");
  ASSERT_TRUE(r.errors.empty()) << r.errors[0];
  EXPECT_EQ(r.warnings, std::vector<std::string>{
                            "the hot key \"CTRL + F5\" is registered as its last byte, the key 5, "
                            "not as \"F5\""});
  r = pack("CTRL + 9", "d");
  EXPECT_EQ(r.warnings, std::vector<std::string>{
                            "the hot key \"CTRL + 9\" is the manager's boss key (\"CTRL + 9\"): "
                            "while tamarind runs, one of the two programs will not get it"});
  // A name holding a place marker of the texts is taken as it is.
  PackOptions o;
  o.scriptFolder = work.path() / "no %1 here";
  o.output = work.path() / "e";
  o.runnerProgram = work.path() / "runner" / "vlmpack";
  r = PackApplication(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], "not a folder: " + (work.path() / "no %1 here").string());
}

TEST(Packer, PackedFolderRunsAfterBeingMoved) {
  TempDir work;
  work.Write("src/main.vlm", "show main [#param]\ncall <util>\nexit\nusing lib.util\n");
  work.Write("src/lib/util.vlm", "<util>\nshow from util\nreturn\n");
  work.Write("src/data/words.txt", "kept\n");
  const fs::path out = work.path() / "out" / "app";
  fs::create_directories(out.parent_path());
  const ProcessResult pack =
      RunVelmar({"pack", (work.path() / "src").string(), out.string(), "--appname", "Word tool",
                 "--homepage", "https://example.org/", "--hotkey", "CTRL + ALT + W"});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(pack.err, "");
  for (const char* file : {"vlmpack", "Velmar.boot", "Config.ini", "app.desktop", "Script/main.vlm",
                           "Script/lib/util.vlm", "Script/data/words.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(out / file)) << file;
  }
  EXPECT_EQ(testing::ReadFile(out / "Velmar.boot"), "main^main.vlm^\n");
  const Profile config(out / "Config.ini");
  EXPECT_EQ(config.GetString("appname"), "Word tool");
  EXPECT_EQ(config.GetString("homepage"), "https://example.org/");
  EXPECT_EQ(config.GetString("hotkey"), "CTRL + ALT + W");
  const std::string desktop = testing::ReadFile(out / "app.desktop");
  EXPECT_TRUE(Contains(desktop, "Name=Word tool\n")) << desktop;
  // Menus and file managers need an absolute program and an executable file.
  EXPECT_TRUE(Contains(desktop, "\nExec=\"" + (out / "start").string() + "\"\n")) << desktop;
  for (const char* file : {"app.desktop", "start", "vlmpack"}) {
    EXPECT_NE(fs::status(out / file).permissions() & fs::perms::owner_exec, fs::perms::none) << file;
  }
  // The copy is stripped: no symbol table, which a build's program has.
  EXPECT_LT(fs::file_size(out / "vlmpack"), fs::file_size(VLMPACK_PATH));

  // Moved, and the source gone: the program finds its home beside itself.
  const fs::path moved = work.path() / "elsewhere" / "moved";
  fs::create_directories(moved.parent_path());
  fs::rename(out, moved);
  fs::remove_all(work.path() / "src");
  const ProcessResult run = RunProcess({(moved / "vlmpack").string(), "--headless"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "show: main \nshow: from util\nstate: exit\n");
}

// What a file manager or `gio launch` does with the .desktop file starts the
// application (headless here: no display), which finds its folder.
TEST(Packer, TheDesktopFileStartsTheApplication) {
  TempDir work;
  work.Write("src/main.vlm", "var [#w] [@writefile<<<[@userpath]/launched.txt<<<yes<<<w]\n");
  const fs::path out = work.path() / "my app";
  ASSERT_EQ(RunVelmar({"pack", (work.path() / "src").string(), out.string()}).exitCode, 0);
  const ProcessResult gio =
      RunProcess({"/bin/sh", "-c", "command -v gio >/dev/null || exit 99; gio launch \"$0\"",
                  (out / "my app.desktop").string()},
                 {}, 30, {"DISPLAY=", "WAYLAND_DISPLAY="});
  if (gio.exitCode == 99) VELMAR_SKIP_WITHOUT("gio (libglib2.0-bin)");
  ASSERT_EQ(gio.exitCode, 0) << gio.err;
  for (int i = 0; i < 200 && !fs::exists(out / "launched.txt"); ++i) usleep(50 * 1000);
  EXPECT_EQ(testing::ReadFile(out / "launched.txt"), "yes");
}

TEST(Packer, ReportsMissingIncludesAndSurvivesCyclesAndLinkLoops) {
  TempDir work;
  work.Write("src/main.vlm", "using a\nusing not.there\nshow main\n");
  work.Write("src/a.vlm", "using b\n");
  work.Write("src/b.vlm", "using a\nusing main\n");
  fs::create_directory_symlink(work.path() / "src", work.path() / "src" / "loop");
  const fs::path out = work.path() / "app";
  const ProcessResult pack = RunVelmar({"pack", (work.path() / "src").string(), out.string()});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_TRUE(Contains(pack.err,
                       "missing include: \"using not.there\" in Script/main.vlm "
                       "(Script/not/there.vlm is not there)"))
      << pack.err;
  EXPECT_TRUE(Contains(pack.err, "link loop skipped")) << pack.err;
  EXPECT_FALSE(fs::exists(out / "Script" / "loop" / "loop"));
  // No appname given: the main script's name.
  EXPECT_EQ(Profile(out / "Config.ini").GetString("appname"), "main");
  const ProcessResult run = RunProcess({(out / "vlmpack").string(), "--headless"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "show: main\nstate: exit\n");
}

TEST(Packer, NeverOverwritesWithoutForceAndOnlyPackagesWithIt) {
  TempDir work;
  work.Write("src/main.vlm", "show one\n");
  const std::string src = (work.path() / "src").string();
  const fs::path out = work.path() / "app";
  ASSERT_EQ(RunVelmar({"pack", src, out.string()}).exitCode, 0);

  work.Write("src/main.vlm", "show two\n");
  const ProcessResult again = RunVelmar({"pack", src, out.string()});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_TRUE(Contains(again.err, "exists; --force replaces an earlier package")) << again.err;
  EXPECT_EQ(testing::ReadFile(out / "Script" / "main.vlm"), "show one\n");

  const ProcessResult forced = RunVelmar({"pack", src, out.string(), "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(testing::ReadFile(out / "Script" / "main.vlm"), "show two\n");

  // A folder that is no package stays as it is, --force or not.
  work.Write("documents/letter.txt", "keep me");
  const ProcessResult other =
      RunVelmar({"pack", src, (work.path() / "documents").string(), "--force"});
  EXPECT_EQ(other.exitCode, 1);
  EXPECT_TRUE(Contains(other.err, "is no packed application")) << other.err;
  EXPECT_EQ(testing::ReadFile(work.path() / "documents" / "letter.txt"), "keep me");

  // Nor can the package be made inside the scripts it packs.
  const ProcessResult inside = RunVelmar({"pack", src, src + "/app"});
  EXPECT_EQ(inside.exitCode, 1);
  EXPECT_TRUE(Contains(inside.err, "must lie outside the script folder")) << inside.err;
}

TEST(Packer, ArchiveBootFileAndHomeFolders) {
  TempDir work;
  // A home folder: its Script/ is packed, its Config.ini carried over.
  work.Write("home/Config.ini", "[setting]\ncodepage=936\nappname=Old\n");
  work.Write("home/Script/one.vlm", "show one [#param]\n");
  work.Write("home/Script/two.vlm", "show two\n");
  work.Write("boot.txt", "One^one.vlm^p\nTwo^two.vlm^\nGone^gone.vlm^\n");
  const fs::path out = work.path() / "app";
  const ProcessResult pack =
      RunVelmar({"pack", (work.path() / "home").string(), out.string(), "--archive", "--boot",
                 (work.path() / "boot.txt").string()});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_TRUE(Contains(pack.err, "not in the package: gone.vlm")) << pack.err;
  const Profile config(out / "Config.ini");
  EXPECT_EQ(config.GetString("codepage"), "936");
  EXPECT_EQ(config.GetString("appname"), "Old");
  const ProcessResult list =
      RunProcess({"/bin/tar", "-tzf", (work.path() / "app.tar.gz").string()});
  EXPECT_TRUE(Contains(list.out, "app/vlmpack\n")) << list.out;
  EXPECT_TRUE(Contains(list.out, "app/Script/two.vlm\n")) << list.out;

  // A name typed on the (UTF-8) command line is stored in the package's
  // code page, so the runner's tray shows 工具 and not GBK misread bytes.
  const fs::path utf8Name = work.path() / "utf8Name";
  const ProcessResult packNamed =
      RunVelmar({"pack", (work.path() / "home").string(), utf8Name.string(), "--boot",
                 (work.path() / "boot.txt").string(), "--appname", "\xE5\xB7\xA5\xE5\x85\xB7"});
  ASSERT_EQ(packNamed.exitCode, 0) << packNamed.err;
  EXPECT_EQ(Profile(utf8Name / "Config.ini").GetString("appname"), "\xB9\xA4\xBE\xDF");

  // Two scripts and no main.vlm: the main script has to be named.
  const ProcessResult unclear =
      RunVelmar({"pack", (work.path() / "home").string(), (work.path() / "b").string()});
  EXPECT_EQ(unclear.exitCode, 1);
  EXPECT_TRUE(Contains(unclear.err, "give --boot FILE")) << unclear.err;
  EXPECT_FALSE(fs::exists(work.path() / "b"));
  // A boot file without a usable line is refused.
  work.Write("bad.boot", "one.vlm\n");
  const ProcessResult badBoot =
      RunVelmar({"pack", (work.path() / "home").string(), (work.path() / "c").string(), "--boot",
                 (work.path() / "bad.boot").string()});
  EXPECT_EQ(badBoot.exitCode, 1);
  EXPECT_TRUE(Contains(badBoot.err, "has no line of the form")) << badBoot.err;
  EXPECT_FALSE(fs::exists(work.path() / "c"));
  // A hot key whose last byte is the code of no key is refused, and so is
  // one with a modifier the runner drops: "SHIFT + Q" would grab every Q.
  for (const char* refused : {"CTRL + :", "SHIFT + Q", "CTRL + WIN + Q"}) {
    const ProcessResult noKey =
        RunVelmar({"pack", (work.path() / "home" / "Script").string(), (work.path() / "d").string(),
                   "--boot", (work.path() / "boot.txt").string(), "--hotkey", refused});
    EXPECT_EQ(noKey.exitCode, 1) << refused;
    EXPECT_TRUE(Contains(noKey.err, std::string("the hot key \"") + refused + "\"")) << noKey.err;
    EXPECT_FALSE(fs::exists(work.path() / "d")) << refused;
  }
  const ProcessResult padKey =
      RunVelmar({"pack", (work.path() / "home" / "Script").string(), (work.path() / "e").string(),
                 "--boot", (work.path() / "boot.txt").string(), "--hotkey", "CTRL + a"});
  EXPECT_EQ(padKey.exitCode, 0) << padKey.err;
  EXPECT_FALSE(Contains(padKey.err, "hot key")) << padKey.err;
  // A key named after the last "+" is not what the runner registers.
  const ProcessResult named =
      RunVelmar({"pack", (work.path() / "home" / "Script").string(), (work.path() / "f").string(),
                 "--boot", (work.path() / "boot.txt").string(), "--hotkey", "CTRL + F5"});
  EXPECT_EQ(named.exitCode, 0) << named.err;
  EXPECT_TRUE(Contains(named.err, "\"CTRL + F5\" is registered as its last byte, the key 5, "
                                  "not as \"F5\""))
      << named.err;
  // The manager's boss key (its default, or its Config.ini's) is warned about.
  TempDir managerHome;
  const ProcessResult boss = RunVelmar(
      {"pack", (work.path() / "home" / "Script").string(), (work.path() / "g").string(), "--boot",
       (work.path() / "boot.txt").string(), "--hotkey", "CTRL + 9"},
      "", 60, {"VELMAR_HOME=" + managerHome.path().string()});
  EXPECT_EQ(boss.exitCode, 0) << boss.err;
  EXPECT_TRUE(Contains(boss.err, "is the manager's boss key")) << boss.err;
  // Usage errors.
  EXPECT_EQ(RunVelmar({"pack", "only-one"}).exitCode, 2);
  EXPECT_EQ(RunVelmar({"pack", "a", "b", "--maintainer", "A <a@b>"}).exitCode, 2);
  EXPECT_EQ(RunVelmar({"pack", "a", "b", "--what"}).exitCode, 2);
}

}  // namespace
}  // namespace velmar

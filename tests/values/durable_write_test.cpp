// Files the programs write on a disk that fills up, with links planted at
// their names, and files that are no regular files where settings are read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "engine/engine_environment.h"
#include "support/script_fixture.h"
#include "support/small_disk.h"
#include "values/profile.h"
#include "values/text_file_ops.h"

namespace velmar::testing {
namespace {

namespace fs = std::filesystem;

// Names in the folder other than the ones given: a writer that failed must
// leave no temporary file behind.
std::vector<std::string> Leftovers(const fs::path& folder, std::vector<std::string> expected) {
  std::vector<std::string> extra;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
  }
  return extra;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

TEST(DurableWrite, WritefileOnAFullDiskKeepsTheOldFileAndSaysWhy) {
  SmallDisk disk(64 * 1024);
  VELMAR_NEED_SMALL_DISK(disk);
  ScriptFixture f;
  std::vector<std::string> diagnostics;
  f.env.diagnostic = [&](int32_t, std::string_view text) { diagnostics.emplace_back(text); };
  const std::string file = (disk.path() / "data.txt").string();
  const std::string old(3000, 'o');
  ASSERT_EQ(f.Expand("[@writefile<<<" + file + "<<<" + old + "<<<wb]"), "1");
  disk.Fill();

  const std::string big(20000, 'n');
  for (const char* mode : {"w", "wb", "a", "ab", "r+", "w+"}) {
    SCOPED_TRACE(mode);
    diagnostics.clear();
    EXPECT_EQ(f.Expand("[@writefile<<<" + file + "<<<" + big + "<<<" + mode + "]"), "0");
    EXPECT_EQ(ReadFile(file), old);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("No space left on device"), std::string::npos) << diagnostics[0];
    EXPECT_NE(diagnostics[0].find(file), std::string::npos) << diagnostics[0];
  }
  EXPECT_TRUE(Leftovers(disk.path(), {"data.txt", "filler"}).empty());
  // A new file that does not fit is not left behind as a fragment either.
  const std::string fresh = (disk.path() / "fresh.txt").string();
  EXPECT_EQ(f.Expand("[@writefile<<<" + fresh + "<<<" + big + "]"), "0");
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_TRUE(Leftovers(disk.path(), {"data.txt", "filler"}).empty());

  // Room again: the same writes succeed.
  fs::remove(disk.path() / "filler");
  EXPECT_EQ(f.Expand("[@writefile<<<" + file + "<<<" + big + "<<<wb]"), "1");
  EXPECT_EQ(ReadFile(file), big);
}

TEST(DurableWrite, ModesKeepTheirMeaning) {
  TempDir dir;
  const std::string file = (dir.path() / "m.txt").string();
  ASSERT_TRUE(WriteTextFile(file, "abcdef", "wb"));
  EXPECT_TRUE(WriteTextFile(file, "XY", "r+b"));
  EXPECT_EQ(ReadFile(file), "XYcdef");
  EXPECT_TRUE(WriteTextFile(file, "1\n", "a"));
  EXPECT_EQ(ReadFile(file), "XYcdef1\r\n");
  EXPECT_FALSE(WriteTextFile(file, "z", "r"));  // reading only
  EXPECT_FALSE(WriteTextFile(file, "z", "wx"));  // exists already
  EXPECT_FALSE(WriteTextFile(file, "z", "q"));
  EXPECT_EQ(ReadFile(file), "XYcdef1\r\n");
  EXPECT_FALSE(WriteTextFile((dir.path() / "none").string(), "z", "r+"));
  EXPECT_FALSE(fs::exists(dir.path() / "none"));
  EXPECT_TRUE(WriteTextFile((dir.path() / "new").string(), "z", "wx"));

  // A replaced file keeps who may read it.
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(WriteTextFile(file, "again", "w"));
  EXPECT_EQ(ModeOf(file), 0640u);
  // A folder or a pipe is no file for a text.
  ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);
  EXPECT_FALSE(WriteTextFile((dir.path() / "pipe").string(), "z", "w"));
  EXPECT_FALSE(WriteTextFile((dir.path() / "pipe").string(), "z", "a"));
  EXPECT_FALSE(WriteTextFile(dir.path().string(), "z", "w"));
}

TEST(DurableWrite, LinksAreWrittenThroughOnlyWhereTheScriptNamedThePath) {
  TempDir outside, home;
  const fs::path victim = outside.Write("victim.txt", "precious");
  const fs::path temp = home.path() / "Temp";
  fs::create_directories(temp);
  fs::create_symlink(victim, temp / "note_1.txt");
  // The programs' own file: the planted link is replaced, its target kept.
  ASSERT_TRUE(WriteOwnTextFile((temp / "note_1.txt").string(), "note", "w"));
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(temp / "note_1.txt"));
  EXPECT_EQ(ReadFile(temp / "note_1.txt"), "note");

  // A path the script names: its links lead to the file it means, and a
  // relative link is read from the link's own folder.
  fs::create_symlink("victim.txt", outside.path() / "rel");
  fs::create_symlink(outside.path() / "rel", home.path() / "chain");
  ASSERT_TRUE(WriteTextFile((home.path() / "chain").string(), "mine", "wb"));
  EXPECT_EQ(ReadFile(victim), "mine");
  EXPECT_TRUE(fs::is_symlink(home.path() / "chain"));
  EXPECT_TRUE(WriteTextFile((home.path() / "chain").string(), "+", "ab"));
  EXPECT_EQ(ReadFile(victim), "mine+");
}

TEST(DurableWrite, SecretsAreForTheOwnerOnly) {
  TempDir dir;
  const mode_t old = ::umask(022);
  const fs::path secret = dir.path() / "jar.txt";
  EXPECT_TRUE(WritePrivateTextFile(secret.string(), "k^v\r\n", "wb", CodePage::Get(65001)));
  EXPECT_EQ(ModeOf(secret), 0600u);
  // A file that was readable by others before stops being so.
  ::chmod(secret.c_str(), 0644);
  EXPECT_TRUE(WritePrivateTextFile(secret.string(), "k^w\r\n", "wb", CodePage::Get(65001)));
  EXPECT_EQ(ModeOf(secret), 0600u);
  // A stricter umask still holds.
  ::umask(077);
  EXPECT_TRUE(WriteTextFile((dir.path() / "plain").string(), "x", "w"));
  EXPECT_EQ(ModeOf(dir.path() / "plain"), 0600u);
  ::umask(022);

  // A home folder the programs create is their owner's alone; one that was
  // there keeps its mode.
  const fs::path made = dir.path() / "a" / "velmar";
  EXPECT_EQ(ResolveHomeFolder(made.string()), made);
  EXPECT_EQ(ModeOf(made), 0700u);
  const fs::path kept = dir.path() / "kept";
  fs::create_directories(kept);
  ::chmod(kept.c_str(), 0755);
  ResolveHomeFolder(kept.string());
  EXPECT_EQ(ModeOf(kept), 0755u);
  ::umask(old);
}

TEST(DurableWrite, SettingsSurviveAFullDisk) {
  SmallDisk disk(64 * 1024);
  VELMAR_NEED_SMALL_DISK(disk);
  const fs::path file = disk.path() / "Config.ini";
  {
    std::ofstream(file) << "[setting]\ncodepage=936\n";
  }
  const Profile profile(file);
  disk.Fill();
  EXPECT_FALSE(profile.WriteString("note", std::string(20000, 'x')));
  EXPECT_EQ(ReadFile(file), "[setting]\ncodepage=936\n");
  EXPECT_TRUE(Leftovers(disk.path(), {"Config.ini", "filler"}).empty());
}

// Settings that are a pipe or a device are no settings: the defaults, at
// once, and never a read without end.
TEST(DurableWrite, SettingsThatAreNoFileGiveTheDefaults) {
  TempDir home;
  const fs::path file = home.path() / "Config.ini";
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const Profile pipe(file);
  EXPECT_EQ(pipe.GetInt("codepage", 65001), 65001);
  EXPECT_FALSE(pipe.WriteString("codepage", "936"));
  fs::remove(file);
  fs::create_symlink("/dev/zero", file);
  const Profile zero(file);
  EXPECT_EQ(zero.GetString("cafile", "none"), "none");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(fs::is_symlink(file));
}

}  // namespace
}  // namespace velmar::testing

#include "values/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ReadFile;
using testing::TempDir;
namespace fs = std::filesystem;

TEST(Profile, ReadsSectionSettingLikeThePrivateProfileReader) {
  TempDir dir;
  const std::string longValue(150, 'v');
  const Profile p(dir.Write("Config.ini",
                            "[other]\r\nproxy=wrong\r\n"
                            "[ Setting ]\r\n"
                            "; proxy=comment\r\n"
                            "  Proxy  =  host:8080  \r\n"
                            "quoted=\"a b \"\r\n"
                            "long=" +
                                longValue +
                                "\r\n"
                                "codepage=936\r\n"
                                "bad=abc\r\n"
                                "empty=\r\n"
                                "[setting]\r\nlate=second section\r\n"));
  EXPECT_EQ(p.GetString("proxy"), "host:8080");
  EXPECT_EQ(p.GetString("PROXY", "", "OTHER"), "wrong");
  EXPECT_EQ(p.GetString("quoted"), "a b ");
  EXPECT_EQ(p.GetString("long"), longValue.substr(0, 99));
  EXPECT_EQ(p.GetString("missing", "dflt"), "dflt");
  EXPECT_EQ(p.GetString("late", "first only"), "first only");
  EXPECT_EQ(p.GetInt("codepage", 65001), 936);
  EXPECT_EQ(p.GetInt("bad", 5), 0);
  EXPECT_EQ(p.GetInt("empty", 5), 5);
  EXPECT_EQ(p.GetInt("missing", 7), 7);
  EXPECT_EQ(Profile(dir.path() / "none.ini").GetString("proxy", "d"), "d");
}

TEST(Profile, WritesInPlaceKeepingTheRestOfTheFile) {
  TempDir dir;
  // An LF file with comments, blank lines, a second section and no final
  // line end: everything but the touched line stays byte for byte.
  const std::string original = "; top\n[setting]\nProxy=old\nlan=zh\n\n[runner]\nhotkey=1";
  const fs::path file = dir.Write("Config.ini", original);
  const Profile p(file);

  EXPECT_TRUE(p.WriteString("proxy", "new:1"));
  EXPECT_EQ(ReadFile(file), "; top\n[setting]\nProxy=new:1\nlan=zh\n\n[runner]\nhotkey=1");
  EXPECT_TRUE(p.WriteString("timeout", "30"));
  EXPECT_EQ(ReadFile(file),
            "; top\n[setting]\nProxy=new:1\nlan=zh\ntimeout=30\n\n[runner]\nhotkey=1");
  EXPECT_TRUE(p.WriteString("key", "k", "runner"));
  EXPECT_EQ(ReadFile(file),
            "; top\n[setting]\nProxy=new:1\nlan=zh\ntimeout=30\n\n[runner]\nhotkey=1\nkey=k\n");
  EXPECT_TRUE(p.WriteString("x", "1", "extra"));
  EXPECT_EQ(ReadFile(file),
            "; top\n[setting]\nProxy=new:1\nlan=zh\ntimeout=30\n\n[runner]\nhotkey=1\nkey=k\n"
            "[extra]\nx=1\n");
  EXPECT_EQ(p.GetString("timeout"), "30");

  // A new file is written with CR LF; values of any length are stored whole.
  const Profile fresh(dir.path() / "fresh.ini");
  const std::string value(120, 'w');
  EXPECT_TRUE(fresh.WriteString("codepage", "936"));
  EXPECT_TRUE(fresh.WriteString("long", value));
  EXPECT_EQ(ReadFile(fresh.file()), "[setting]\r\ncodepage=936\r\nlong=" + value + "\r\n");
  EXPECT_EQ(fresh.GetString("long").size(), 99u);

  // The file keeps its permissions, and a link stays a link.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = dir.path() / "link.ini";
  fs::create_symlink(file, link);
  EXPECT_TRUE(Profile(link).WriteString("lan", "en"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Profile(file).GetString("lan"), "en");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  EXPECT_FALSE(Profile(dir.path() / "no" / "folder.ini").WriteString("a", "b"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3)
      << "no temporary file is left behind";
}

// Threads writing different keys of one file at the same time: every key
// must be there afterwards, and no temporary file may be left behind.
TEST(Profile, ConcurrentWritersLoseNoKey) {
  TempDir dir;
  const Profile p(dir.path() / "Config.ini");
  constexpr int kThreads = 8;
  constexpr int kKeysEach = 12;
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int k = 0; k < kKeysEach; ++k) {
        const std::string key = "k" + std::to_string(t) + "_" + std::to_string(k);
        if (!p.WriteString(key, "v" + key)) failures.fetch_add(1);
      }
    });
  }
  for (std::thread& w : writers) w.join();
  EXPECT_EQ(failures.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeysEach; ++k) {
      const std::string key = "k" + std::to_string(t) + "_" + std::to_string(k);
      EXPECT_EQ(p.GetString(key), "v" + key) << key;
    }
  }
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    ++files;
    EXPECT_EQ(entry.path().filename(), "Config.ini");
  }
  EXPECT_EQ(files, 1);
}

// The same across programs: two processes share no mutex, only the lock on
// the file's folder keeps one from replacing the file under the other.
TEST(Profile, WritersInTwoProgramsLoseNoKey) {
  TempDir dir;
  const Profile p(dir.path() / "Config.ini");
  constexpr int kKeysEach = 40;
  std::vector<pid_t> children;
  for (int c = 0; c < 2; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int k = 0; k < kKeysEach; ++k) {
        ok = p.WriteString("p" + std::to_string(c) + "_" + std::to_string(k), "x") && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < kKeysEach; ++k) {
      const std::string key = "p" + std::to_string(c) + "_" + std::to_string(k);
      EXPECT_EQ(p.GetString(key), "x") << key;
    }
  }
}

}  // namespace
}  // namespace velmar

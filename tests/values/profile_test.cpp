#include "values/profile.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace velmar

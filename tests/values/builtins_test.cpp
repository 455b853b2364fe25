#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/script_fixture.h"
#include "support/test_support.h"
#include "values/builtins.h"

namespace velmar {
namespace {

using testing::ScriptFixture;

TEST(Builtins, CountsAndFallbacks) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[@LEN<<<abc]"), "3");
  EXPECT_EQ(f.Expand("[@ Len <<<中]"), "3");  // bytes, not characters
  EXPECT_EQ(f.AlertCount(), 0u);
  EXPECT_EQ(f.Expand("[@nosuch<<<1]"), "");
  EXPECT_EQ(f.AlertCount(), 0u);

  const std::pair<const char*, const char*> tooFew[] = {
      {"[@len]", "0"},        {"[@isnull]", "1"},       {"[@writefile<<<x]", "0"},
      {"[@readfile]", ""},    {"[@indexof<<<a]", "-1"}, {"[@lastindexof<<<a]", "-1"},
      {"[@replace<<<a]", ""}, {"[@split<<<a]", "0"},    {"[@compare<<<a]", "0"},
      {"[@substr<<<a]", ""},  {"[@urlencode]", ""},     {"[@lcase]", ""},
      {"[@ucase]", ""},       {"[@rand]", "0"},         {"[@readfile<<<x<<<1<<<2]", ""}};
  for (const auto& [call, fallback] : tooFew) {
    const std::size_t alerts = f.AlertCount();
    EXPECT_EQ(f.Expand(call), fallback) << call;
    EXPECT_EQ(f.AlertCount(), alerts + 1) << call;
    EXPECT_TRUE(f.LastAlertHas("格式有误．")) << call;
  }
}

TEST(Builtins, TextFunctions) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[@isnull<<<]"), "1");
  EXPECT_EQ(f.Expand("[@isnull<<< ]"), "0");
  EXPECT_EQ(f.Expand("[@indexof<<<abcabc<<<c]"), "2");
  EXPECT_EQ(f.Expand("[@indexof<<<abc<<<z]"), "-1");
  EXPECT_EQ(f.Expand("[@indexof<<<abc<<<]"), "0");
  EXPECT_EQ(f.Expand("[@lastindexof<<<abcabc<<<cx]"), "5");
  EXPECT_EQ(f.Expand("[@lastindexof<<<abcd<<<]"), "4");
  EXPECT_EQ(f.Expand("[@replace<<<a-b-c<<<-]"), "abc");
  EXPECT_EQ(f.Expand("[@replace<<<a-b-c<<<-<<<+]"), "a+b+c");
  EXPECT_EQ(f.Expand("[@replace<<<aaa<<<a<<<aa]"), "aaaaaa");
  EXPECT_EQ(f.Expand("[@replace<<<abc<<<<<<x]"), "abc");
  EXPECT_EQ(f.Expand("[@compare<<<Ab<<<Ab]|[@compare<<<Ab<<<ab]"), "1|0");
  EXPECT_EQ(f.Expand("[@substr<<<abcdef<<<2]"), "cdef");
  EXPECT_EQ(f.Expand("[@substr<<<abcdef<<<2<<<3]"), "cde");
  EXPECT_EQ(f.Expand("[@substr<<<abcdef<<<4<<<9]"), "ef");
  EXPECT_EQ(f.Expand("<[@substr<<<abc<<<5]>"), "<>");
  EXPECT_EQ(f.Expand("[@substr<<<abc<<<-2]"), "abc");
  EXPECT_EQ(f.Expand("<[@substr<<<abcdef<<<2<<<-1]>"), "<>");
  EXPECT_EQ(f.Expand("[@urlencode<<<a b&c]"), "a+b%26c");
  EXPECT_EQ(f.Expand("[@lcase<<<AbC中]|[@ucase<<<aBc]"), "abc中|ABC");
  EXPECT_EQ(f.AlertCount(), 0u);

  ScriptFixture gbk(CodePage::kGbk);
  // 0x81 0x61 is one character: its trail byte is no `a`.
  EXPECT_EQ(gbk.Expand("[@lastindexof<<<a\x81"
                       "a<<<a]"),
            "0");
  EXPECT_EQ(gbk.Expand("[@indexof<<<\x81"
                       "ab<<<a]"),
            "-1");
  EXPECT_EQ(gbk.Expand("[@ucase<<<\x81"
                       "ab]"),
            "\x81"
            "aB");
}

TEST(Builtins, SplitWritesNumberedVariables) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[@split<<<a,,b<<<,]"), "3");
  EXPECT_EQ(f.Var("_0"), "a");
  EXPECT_EQ(f.Var("_1"), "");
  EXPECT_EQ(f.Var("_2"), "b");
  f.Var("_1") = "kept";
  EXPECT_EQ(f.Expand("[@split<<<x<<<,]"), "1");
  EXPECT_EQ(f.Var("_0"), "x");
  EXPECT_EQ(f.Var("_1"), "kept");
  EXPECT_EQ(f.Expand("[@split<<<a,b<<<]"), "1");
  EXPECT_EQ(f.Var("_0"), "a,b");
  EXPECT_EQ(f.Expand("[@split<<<<<<;]"), "1");
  EXPECT_EQ(f.Var("_0"), "");
}

TEST(Builtins, RandomNumbersPerThread) {
  // A fresh thread starts from state 1, so its sequence is fixed.
  auto firstDraws = [] {
    ScriptFixture f;
    // The repeated call draws again, but its first value already replaced both.
    return f.Expand("[@rand<<<1000],[@rand<<<1000],[@rand<<< 1000]");
  };
  std::string a;
  std::string b;
  std::thread([&] { a = firstDraws(); }).join();
  std::thread([&] { b = firstDraws(); }).join();
  EXPECT_EQ(a, "41,41,328");
  EXPECT_EQ(b, a);

  ScriptFixture f;
  ExecuteSrand(*f.ctx, "");
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(f.Expand("[@rand<<<5<<<5]"), "5");
    const long long up = std::stoll(f.Expand("[@rand<<<10]"));
    EXPECT_TRUE(up >= 0 && up <= 10) << up;
    const long long down = std::stoll(f.Expand("[@rand<<<10<<<-10]"));
    EXPECT_TRUE(down >= -10 && down <= 10) << down;
    const long long wide = std::stoll(f.Expand("[@rand<<<-2147483648<<<2147483647]"));
    EXPECT_TRUE(wide >= -2147483648LL && wide <= 2147483647LL) << wide;
  }
}

TEST(Builtins, ClockFunctions) {
  ScriptFixture f;
  const std::time_t before = std::time(nullptr);
  const std::string dated = f.Expand("[@time<<<%y/%m/%d %H:%M:%S %%y]");
  const std::string plain = f.Expand("[@time]");
  const long long seconds = std::stoll(f.Expand("[@longtime<<<ignored]"));
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);

  auto stamp = [](std::time_t t, bool formatted) {
    std::tm l{};
    localtime_r(&t, &l);
    const std::string date = std::to_string(l.tm_year + 1900) + (formatted ? "/" : "-") +
                             std::to_string(l.tm_mon + 1) + (formatted ? "/" : "-") +
                             std::to_string(l.tm_mday) + " " + std::to_string(l.tm_hour) + ":" +
                             std::to_string(l.tm_min) + ":" + std::to_string(l.tm_sec);
    return formatted ? date + " %" + std::to_string(l.tm_year + 1900) : date;
  };
  EXPECT_TRUE(dated == stamp(before, true) || dated == stamp(after, true)) << dated;
  EXPECT_TRUE(plain == stamp(before, false) || plain == stamp(after, false)) << plain;
}

TEST(Builtins, FilesAndHostValues) {
  testing::TempDir dir;
  ScriptFixture f;
  f.env.home = dir.path() / "";
  const std::string path = (dir.path() / "out.txt").string();
  EXPECT_EQ(f.Expand("[@writefile<<<" + path + "<<<one\n]"), "1");
  EXPECT_EQ(f.Expand("[@writefile<<<" + path + "<<<two]"), "1");
  EXPECT_EQ(testing::ReadFile(path), "one\r\ntwo");
  EXPECT_EQ(f.Expand("[@readfile<<<" + path + "]"), "one\r\ntwo\r\n");
  EXPECT_EQ(f.Expand("[@readfile<<<" + path + "<<<0]"), "2");
  EXPECT_EQ(f.Expand("[@readfile<<<" + path + "<<<2]"), "two");
  EXPECT_EQ(f.Expand("[@writefile<<<" + path + "<<<new<<<w]"), "1");
  EXPECT_EQ(testing::ReadFile(path), "new");
  // Relative paths are taken from the home folder.
  EXPECT_EQ(f.Expand("[@writefile<<<sub\\..\\rel.txt<<<r<<<w]"), "0");
  EXPECT_EQ(f.Expand("[@writefile<<<rel.txt<<<r<<<w]"), "1");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "rel.txt"));
  EXPECT_EQ(f.Expand("[@readfile<<<rel.txt]"), "r\r\n");
  const std::string missing = (dir.path() / "none.txt").string();
  EXPECT_EQ(f.Expand("[@readfile<<<" + missing + "<<<0]"), "0");
  EXPECT_EQ(f.Expand("<[@readfile<<<" + missing + "]>"), "<>");
  EXPECT_EQ(f.Expand("[@writefile<<<" + dir.path().string() + "/no/such/dir.txt<<<x]"), "0");
  EXPECT_EQ(f.AlertCount(), 0u);

  // In GBK, 0x81 0x5C is one character whose trail byte equals `\`: the file
  // name keeps it instead of turning it into a folder separator.
  ScriptFixture gbk(CodePage::kGbk);
  gbk.env.home = dir.path() / "";
  const std::string gbkName = "\x81\x5C.txt";
  EXPECT_EQ(gbk.Expand("[@writefile<<<" + gbkName + "<<<g\n<<<w]"), "1");
  EXPECT_EQ(testing::ReadFile((dir.path() / gbkName).string()), "g\r\n");
  EXPECT_EQ(gbk.Expand("[@readfile<<<" + gbkName + "]"), "g\r\n");
  EXPECT_EQ(gbk.Expand("[@readfile<<<" + gbkName + "<<<0]"), "1");
  EXPECT_EQ(gbk.Expand("[@readfile<<<" + gbkName + "<<<1]"), "g");

  EXPECT_EQ(f.Expand("[@userpath]"), dir.path().string());
  f.ctx->id = 7;
  EXPECT_EQ(f.Expand("[@robotid]"), "7");
  f.host.screen = {1024, 768};
  EXPECT_EQ(f.Expand("[@screenwidth]x[@screenheight]"), "1024x768");
  f.ctx->host = nullptr;
  EXPECT_EQ(f.Expand("[@screenwidth]x[@screenheight]"), "0x0");
}

}  // namespace
}  // namespace velmar

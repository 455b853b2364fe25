#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include "support/console_run.h"
#include "support/script_fixture.h"
#include "support/test_support.h"
#include "engine/statements/builtins.h"

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
  // Without a length the rest is counted from the start as written, even one
  // far below zero.
  EXPECT_EQ(f.Expand("[@substr<<<abc<<<-99999999999999999999]"), "abc");
  EXPECT_EQ(f.Expand("[@substr<<<abc<<<-9223372036854775807]"), "abc");
  EXPECT_EQ(f.Expand("<[@substr<<<abc<<<99999999999999999999]>"), "<>");
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

// The pieces of a split are kept as one text until read or written: later
// splits with fewer pieces leave the higher ones as they were, written and
// read pieces take the new values of a later split, and the whole table
// still lists every one.
TEST(Builtins, SplitPiecesLayerOverEarlierOnes) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[@split<<<a,b,c,d<<<,]"), "4");
  std::string& first = f.Var("_0");  // a slot a prepared statement keeps
  EXPECT_EQ(first, "a");
  EXPECT_EQ(f.Expand("[@split<<<x,y<<<,]"), "2");
  EXPECT_EQ(first, "x");
  EXPECT_EQ(f.Expand("[#_1]|[#_2]|[#_3]"), "y|c|d");
  f.Var("_3") = "mine";
  EXPECT_EQ(f.Expand("[@split<<<p<<<,]"), "1");
  EXPECT_EQ(f.Expand("[#_0]|[#_1]|[#_2]|[#_3]"), "p|y|c|mine");
  EXPECT_FALSE(f.ctx->variables.Contains("_4"));
  EXPECT_FALSE(f.ctx->variables.Contains("_01"));
  EXPECT_EQ(f.Expand("[@split<<<1,2,3,4,5,6<<<,]"), "6");
  const auto& all = f.ctx->variables.entries();
  std::string listed;
  for (const char* name : {"_0", "_1", "_2", "_3", "_4", "_5"}) listed += all.at(name);
  EXPECT_EQ(listed, "123456");
  EXPECT_EQ(all.count("_6"), 0u);
}

// Ten million pieces of a 20 MB text: the table counts a small multiple of
// the text, and what the process holds grows by no more.
TEST(Builtins, SplitMemoryStaysNearTheTextSize) {
  ScriptFixture f;
  std::string text;
  for (int i = 0; i < 10'000'000; ++i) text += "a,";
  const std::size_t before = f.ctx->variables.bytes();
  const std::uint64_t heapBefore = testing::HeapInUse();
  f.ctx->variables.Set("big", text);
  EXPECT_EQ(f.Expand("[@split<<<[#big]<<<,]"), "10000001");
  const std::uint64_t grown = testing::HeapInUse() - heapBefore;
  RecordProperty("bytes_per_input_byte", std::to_string(double(grown) / double(text.size())));
  EXPECT_LT(f.ctx->variables.bytes() - before, 4 * text.size());
  EXPECT_LT(grown, 5 * text.size());
  EXPECT_EQ(f.Expand("[#_9999999]|[#_10000000]|[#_10000001]"), "a||");
}

// One script's variables stop at their memory limit: the write is refused
// with the limit's alert, the variable keeps its value and the script ends
// after the statement.
TEST(Builtins, VariableMemoryHasALimit) {
  const std::size_t saved = VariableMemoryLimit();
  VariableMemoryLimit() = 1 << 20;
  ScriptFixture f;
  f.Var("big") = std::string(600000, 'x');
  f.Run(stmt::kVar, "[#a] 1");
  f.Run(stmt::kVar, "[#a] [#big]");
  EXPECT_EQ(f.Var("a").size(), 600000u);
  EXPECT_EQ(f.AlertCount(), 0u);
  f.Run(stmt::kVar, "[#b] [#big][#big]");
  EXPECT_EQ(f.Var("b"), "");
  EXPECT_TRUE(f.LastAlertHas("变量占用的内存超过1GB．"));
  EXPECT_TRUE(f.ctx->errorReported);
  const std::size_t alerts = f.AlertCount();
  EXPECT_EQ(f.Expand("[@split<<<[#big][#big]<<<x]"), "0");
  EXPECT_EQ(f.AlertCount(), alerts + 1);
  EXPECT_EQ(f.Var("_0"), "");
  // Freed space counts again: a smaller value makes room.
  f.Run(stmt::kVar, "[#a] 1");
  f.ctx->errorReported = false;
  f.Run(stmt::kVar, "[#b] [#big]");
  EXPECT_EQ(f.Var("b").size(), 600000u);
  EXPECT_FALSE(f.ctx->errorReported);
  VariableMemoryLimit() = saved;
}

// A split of tens of millions of pieces takes a second or more; a stop ends
// it between two.
TEST(Builtins, StopEndsAHugeSplit) {
  testing::TempDir home;
  std::string pieces;
  for (int i = 0; i < 30'000'000; ++i) pieces += "a,";
  home.Write("pieces.txt", pieces);
  pieces.clear();
  pieces.shrink_to_fit();
  const testing::ConsoleRun run = testing::RunInConsole(
      home.path(), "show go\nshow n=[@split<<<[@readfile<<<pieces.txt]<<<,]\nshow after\n", 300,
      5000);
  ASSERT_TRUE(run.ended);
  RecordProperty("stop_ms", std::to_string(run.endMs));
  EXPECT_EQ(run.output.find("after"), std::string::npos) << run.output.substr(0, 200);
}

// readfile and writefile use regular files only: a pipe would block them and
// a device like /dev/zero would feed them until memory runs out. A text
// larger than a script can hold is not read either. The script runs on its
// own worker so that a read that blocks fails the test instead of hanging it.
TEST(Builtins, FilesAreRegularFilesOnly) {
  testing::TempDir home;
  const std::string fifo = (home.path() / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  home.Write("big.bin", "");
  std::filesystem::resize_file(home.path() / "big.bin", (std::uintmax_t{64} << 20) + 1);
  home.Write("small.txt", "ok\n");
  const testing::ConsoleRun run = testing::RunInConsole(
      home.path(),
      "show r=[@readfile<<<" + fifo + "]|[@readfile<<<" + fifo + "<<<0]|[@readfile<<<" + fifo +
          "<<<1]\n"
          "show w=[@writefile<<<" +
          fifo +
          "<<<x<<<w]\n"
          "show z=[@len<<<[@readfile<<</dev/zero]]|[@readfile<<</dev/zero<<<0]|"
          "[@len<<<[@readfile<<</dev/zero<<<1]]\n"
          "show n=[@writefile<<</dev/null<<<x<<<w]\n"
          "show big=[@len<<<[@readfile<<<big.bin]]|[@readfile<<<big.bin<<<0]\n"
          "show small=[@readfile<<<small.txt<<<1]\n",
      -1, 5000);
  ASSERT_TRUE(run.ended);
  EXPECT_NE(run.output.find("show: r=|0|\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("show: w=0\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("show: z=0|0|0\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("show: n=0\n"), std::string::npos) << run.output;
  // Lines of a large regular file can still be counted.
  EXPECT_NE(run.output.find("show: big=0|1\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("show: small=ok\n"), std::string::npos) << run.output;
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

#include "values/text_file_ops.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velmar {
namespace {

using namespace std::string_literals;
using Pieces = std::vector<std::string>;
using testing::ReadFile;
using testing::TempDir;

const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);
const CodePage& kGbk = CodePage::Get(CodePage::kGbk);

TEST(SplitText, PiecesBetweenSeparators) {
  EXPECT_EQ(SplitText("a,,b", ",", kUtf8), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitText("", ",", kUtf8), (Pieces{""}));
  EXPECT_EQ(SplitText("a^b^", "^", kUtf8), (Pieces{"a", "b", ""}));
  EXPECT_EQ(SplitText("x<<<y<<<<z", "<<<", kUtf8), (Pieces{"x", "y", "<z"}));
  EXPECT_EQ(SplitText("a,b", "", kUtf8), (Pieces{"a,b"}));
  // The trail byte of U+4E02 is '@': it separates nothing.
  EXPECT_EQ(SplitText("\x81@x@y", "@", kGbk), (Pieces{"\x81@x", "y"}));
}

TEST(ReadTextFile, EveryLineEndsInCrLf) {
  TempDir dir;
  const auto path = [&](const std::string& name, const std::string& content) {
    return dir.Write(name, content).string();
  };
  EXPECT_EQ(ReadTextFile(path("mixed", "a\r\nb\nc")), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(ReadTextFile(path("cr", "x\ry\r\r\n\r\n")), "x\ry\r\r\n\r\n");
  EXPECT_EQ(ReadTextFile(path("nul", "a\0b\n\0"s)), "a\0b\r\n\0\r\n"s);
  EXPECT_EQ(ReadTextFile(path("lf", "\n\n")), "\r\n\r\n");
  EXPECT_EQ(ReadTextFile((dir.path() / "missing").string()), "");
  EXPECT_EQ(ReadTextFile(dir.path().string()), "");  // a folder
  path("cut", "x");
  EXPECT_EQ(ReadTextFile((dir.path() / "cut\0.vlm"s).string()), "");  // a NUL names no file
  EXPECT_FALSE(WriteTextFile((dir.path() / "cut\0.vlm"s).string(), "y", "w"));
  // Scripts write paths with backslashes.
  const std::string backslashed = dir.path().string() + "\\sub\\f.txt";
  dir.Write("sub/f.txt", "q");
  EXPECT_EQ(ReadTextFile(backslashed), "q\r\n");

  // A CR LF split across the reader's blocks is still one line end.
  const std::string longLine(65535, 'x');
  EXPECT_EQ(ReadTextFile(path("block", longLine + "\r\ny")), longLine + "\r\ny\r\n");

  // A 10 MB line has no length limit.
  const std::string huge(10 << 20, 'h');
  const std::string hugePath = path("huge", huge);
  const std::string text = ReadTextFile(hugePath);
  EXPECT_EQ(text.size(), huge.size() + 2);
  EXPECT_EQ(text.compare(0, huge.size(), huge), 0);
  EXPECT_EQ(CountTextLines(hugePath), 1);
  EXPECT_EQ(ReadTextLine(hugePath, 1).size(), huge.size());
}

TEST(ReadTextLine, CountsLinesFromOne) {
  TempDir dir;
  const std::string p = dir.Write("f", "one\r\ntwo\nthree").string();
  EXPECT_EQ(ReadTextLine(p, 1), "one");
  EXPECT_EQ(ReadTextLine(p, 2), "two");
  EXPECT_EQ(ReadTextLine(p, 3), "three");
  EXPECT_EQ(ReadTextLine(p, 4), "");
  EXPECT_EQ(ReadTextLine(p, 0), "");
  EXPECT_EQ(ReadTextLine(p, std::numeric_limits<long long>::max()), "");
  EXPECT_EQ(ReadTextLine((dir.path() / "missing").string(), 1), "");

  EXPECT_EQ(CountTextLines(p), 3);
  EXPECT_EQ(CountTextLines(dir.Write("b", "\n\n").string()), 2);
  EXPECT_EQ(CountTextLines(dir.Write("c", "").string()), 0);
  EXPECT_EQ(CountTextLines((dir.path() / "missing").string()), 0);
  EXPECT_EQ(CountTextLines(dir.path().string()), 0);
}

TEST(WriteTextFile, ModesAndFailures) {
  TempDir dir;
  const std::string p = (dir.path() / "out.txt").string();
  EXPECT_TRUE(WriteTextFile(p, "a\nb", "w"));
  EXPECT_EQ(ReadFile(p), "a\r\nb");
  EXPECT_TRUE(WriteTextFile(p, "c\n", "a"));
  EXPECT_EQ(ReadFile(p), "a\r\nbc\r\n");
  EXPECT_TRUE(WriteTextFile(p, "x\ny", "wb"));
  EXPECT_EQ(ReadFile(p), "x\ny");
  EXPECT_TRUE(WriteTextFile(dir.path().string() + "\\bs.txt", "q", "w"));
  EXPECT_EQ(ReadFile(dir.path() / "bs.txt"), "q");

  EXPECT_FALSE(WriteTextFile(p, "x", ""));
  EXPECT_FALSE(WriteTextFile(p, "x", "q"));
  EXPECT_FALSE(WriteTextFile((dir.path() / "no/such/file").string(), "x", "w"));
  // Devices are no files to write to.
  EXPECT_FALSE(WriteTextFile("/dev/full", "x", "w"));
  EXPECT_FALSE(WriteTextFile("/dev/null", "x", "w"));

  // With the GBK page a trail byte equal to `\` stays part of the file name.
  const std::string name = "\x95\\.txt";
  EXPECT_TRUE(WriteTextFile(dir.path().string() + "\\" + name, "g", "w", kGbk));
  EXPECT_EQ(ReadFile(dir.path() / name), "g");
  EXPECT_EQ(ReadTextFile(dir.path().string() + "\\" + name, kGbk), "g\r\n");
  EXPECT_EQ(NormalizePath("a\\\x95\\b\\c", kGbk), "a/\x95\\b/c");
}

TEST(UrlEncode, LettersAndDigitsStayBlanksBecomePlus) {
  EXPECT_EQ(UrlEncode("a b&c"), "a+b%26c");
  EXPECT_EQ(UrlEncode("x-y.z"), "x%2Dy%2Ez");
  EXPECT_EQ(UrlEncode("\t\r\n\v\f "), "++++++");
  EXPECT_EQ(UrlEncode("_\xD6\xD0\0"s), "%5F%D6%D0%00");
}

TEST(LeadingInteger, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(LeadingInteger(" \t42abc"), 42);
  EXPECT_EQ(LeadingInteger("-7"), -7);
  EXPECT_EQ(LeadingInteger("abc"), 0);
  EXPECT_EQ(LeadingInteger("- 5"), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999"), std::numeric_limits<long long>::max());
  EXPECT_EQ(LeadingInteger("-99999999999999999999"), -std::numeric_limits<long long>::max());
}

}  // namespace
}  // namespace velmar

#include "engine/keyword_table.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);
const CodePage& kGbk = CodePage::Get(CodePage::kGbk);

void ExpectSplit(std::string_view line, int32_t id, std::string_view text,
                 const CodePage& cp = kUtf8) {
  const StatementSplit s = splitStatement(line, cp, KeywordFlavor::kManager);
  EXPECT_EQ(s.id, id) << "line: " << line;
  EXPECT_EQ(s.text, text) << "line: " << line;
}

TEST(KeywordTable, OnlyTheRunnerKnowsTheTrayStatements) {
  EXPECT_EQ(splitStatement("showtray", kUtf8, KeywordFlavor::kRunner).id, stmt::kShowTray);
  EXPECT_EQ(splitStatement("HideTray", kUtf8, KeywordFlavor::kRunner).id, stmt::kHideTray);
  EXPECT_EQ(splitStatement("showtray", kUtf8, KeywordFlavor::kManager).id, 0);
  EXPECT_EQ(splitStatement("resume", kUtf8, KeywordFlavor::kManager).id, stmt::kResume);
  // Statements after the tray ones in the table are everyone's.
  EXPECT_EQ(splitStatement("header a b", kUtf8, KeywordFlavor::kManager).id, stmt::kHeader);
}

TEST(KeywordTable, EveryKeywordLeadsBackToItsIdAndIsRunBySomeone) {
  for (int32_t id = 1; id <= stmt::kMaxId; ++id) {
    const KeywordRow& row = KeywordRowOf(id);
    EXPECT_EQ(row.id, id);
    if (id == stmt::kLabel) {
      EXPECT_TRUE(row.keyword.empty());
      continue;
    }
    // Written in upper case as scripts often do.
    std::string upper(row.keyword);
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    EXPECT_EQ(splitStatement(upper + " x", kUtf8, KeywordFlavor::kRunner).id, id) << upper;
  }
  // Ids outside the table get the empty row rather than another statement's.
  EXPECT_EQ(KeywordRowOf(stmt::kMaxId + 1).handler, nullptr);
  EXPECT_EQ(KeywordRowOf(-1).keyword, "");
}

TEST(SplitStatement, KeywordSeparatorAndArgumentText) {
  ExpectSplit("Pause 500", 43, "500");
  ExpectSplit("show   a b  ", 11, "a b  ");  // show keeps trailing white space
  ExpectSplit("eval [x] \t", 4, "[x] \t");
  ExpectSplit("REGEX r a+ ", 16, "r a+ ");
  ExpectSplit("alert   a b  ", 10, "a b");
  ExpectSplit("get\t[$url]", 20, "[$url]");  // a tab only when there is no space
  ExpectSplit("get\t[$url] x", 0, "x");      // keyword is "get\t[$url]"
  ExpectSplit("show\ta b", 0, "b");          // likewise
  ExpectSplit("{", 24, "");
  ExpectSplit("}  // end", 25, "// end");
  ExpectSplit("exit", 22, "");
  ExpectSplit("foo bar ", 0, "bar ");
  ExpectSplit("", 0, "");
  ExpectSplit("Var A=B", 5, "A=B");  // the argument keeps its case
}

TEST(SplitStatement, LabelsNeedThreeBytesAndAreLowerCased) {
  ExpectSplit("<Loop>", 23, "<loop>");
  ExpectSplit("<a>", 23, "<a>");
  ExpectSplit("<>", 0, "");
  ExpectSplit("<sub> extra words", 23, "<sub>");
  ExpectSplit("<a b>", 0, "b>");
  ExpectSplit("<main", 0, "");
  // Only ASCII letters change: a GBK trail byte that is a letter stays.
  ExpectSplit(
      "<\x81"
      "AB>",
      23,
      "<\x81"
      "Ab>",
      kGbk);
  ExpectSplit(
      "SHOW \x81"
      "A",
      11,
      "\x81"
      "A",
      kGbk);
}

// head|tail|found
std::string FirstWord(std::string_view text, std::string_view separator,
                      const CodePage& cp = kUtf8) {
  const FirstWordSplit s = splitFirstWord(text, separator, cp);
  return s.head + "|" + s.tail + "|" + (s.found ? "found" : "none");
}

TEST(SplitFirstWord, HeadTailAndFound) {
  EXPECT_EQ(FirstWord("name  value x", ""), "name|value x|found");
  EXPECT_EQ(FirstWord("name \t", ""), "name||found");
  EXPECT_EQ(FirstWord("name\tv w", ""), "name\tv|w|found");  // a space comes first
  EXPECT_EQ(FirstWord("name\tv", ""), "name|v|found");
  EXPECT_EQ(FirstWord("name\t", "="), "name||none");
  EXPECT_EQ(FirstWord(" a =  b ", "="), " a |b |found");  // the head is not trimmed
  EXPECT_EQ(FirstWord("k<<<v", "<<<"), "k|v|found");
  // '@' as a trail byte is no separator.
  EXPECT_EQ(FirstWord("\x81@x@y", "@", kGbk), "\x81@x|y|found");
}

}  // namespace
}  // namespace velmar

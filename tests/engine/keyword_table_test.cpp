#include <gtest/gtest.h>

#include "engine/keyword_table.h"

namespace velmar {
namespace {

const CodePage& kUtf8 = CodePage::Get(CodePage::kUtf8);

TEST(KeywordTable, FlavoursKnowTheirKeywords) {
  EXPECT_EQ(KeywordCount(KeywordFlavor::kManager), 74);
  EXPECT_EQ(KeywordCount(KeywordFlavor::kRunner), 76);
  EXPECT_EQ(splitStatement("showtray", kUtf8, KeywordFlavor::kRunner).id, 76);
  EXPECT_EQ(splitStatement("showtray", kUtf8, KeywordFlavor::kManager).id, 0);
}

}  // namespace
}  // namespace velmar

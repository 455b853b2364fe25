#include "values/failure_texts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace velmar {
namespace {

// Every code past kNone has a text of its own, and the table rows follow the
// enumeration (a row out of place would give a code another code's text).
template <typename Code>
void ExpectOneTextPerCode(Code last) {
  EXPECT_EQ(FailureText(Code::kNone), "");
  std::set<std::string> seen;
  int shared = 0;  // codes whose whole text is the part they carry ("%1")
  for (int c = 1; c <= static_cast<int>(last); ++c) {
    const std::string text(FailureText(static_cast<Code>(c)));
    EXPECT_NE(text, "") << "code " << c;
    if (text == "%1") {
      ++shared;
    } else {
      EXPECT_TRUE(seen.insert(text).second) << "code " << c << ": " << text;
    }
  }
  EXPECT_LE(shared, 2);
}

TEST(FailureTexts, EachCodeHasItsOwnRow) {
  ExpectOneTextPerCode(HttpFailure::kStopped);
  ExpectOneTextPerCode(DbFailure::kStopped);
  // Past the table: no text, not another row's.
  EXPECT_EQ(FailureText(static_cast<HttpFailure>(200)), "");
}

TEST(FailureTexts, PartsFillTheirPlacesAndNothingElse) {
  EXPECT_EQ(FillParts("%1:%2 to %3", {"h", "80", "x"}), "h:80 to x");
  EXPECT_EQ(FillParts("%2 before %1", {"a", "b"}), "b before a");
  // A missing part leaves its place empty; a part is never read for places.
  EXPECT_EQ(FillParts("at %1 and %2", {"%2"}), "at %2 and ");
  // A '%' that names no place stays as it is.
  EXPECT_EQ(FillParts("100% of %0 %", {}), "100% of %0 %");
  EXPECT_EQ(FillParts("", {"a"}), "");
}

// The texts reach standard error as they always read; scripts' logs and
// people's searches rely on them.
TEST(FailureTexts, DescribeGivesTheTextsShownBefore) {
  HttpError e;
  EXPECT_EQ(Describe(e), "");
  e.Set(HttpFailure::kProxyTunnelRefused, {"127.0.0.1", "3128", "a.test", "443"});
  EXPECT_EQ(Describe(e), "the proxy 127.0.0.1:3128 opened no tunnel to a.test:443");
  e.Set(HttpFailure::kTooManyRedirects, {"3", "http://a/1", "/2"});
  EXPECT_EQ(Describe(e), "more than 3 redirects; the last led from http://a/1 to /2");
  e.Set(HttpFailure::kBodyTooLarge, {"67108864"});
  EXPECT_EQ(Describe(e), "response body larger than 67108864 bytes");
  e.Set(HttpFailure::kTlsRefused, {"error:0A000086:SSL routines::certificate verify failed"});
  EXPECT_EQ(Describe(e), "error:0A000086:SSL routines::certificate verify failed");
  e.Clear();
  EXPECT_FALSE(e);
  EXPECT_TRUE(e.parts.empty());

  DbError d;
  d.Set(DbFailure::kMysqlNotOpen);
  EXPECT_EQ(Describe(d), "MySQL server connection is not open");
  d.Set(DbFailure::kDriver, {"Access denied for user 'x'"});
  EXPECT_EQ(Describe(d), "Access denied for user 'x'");
  d.Set(DbFailure::kStopped);
  EXPECT_EQ(Describe(d), "stopped");
}

}  // namespace
}  // namespace velmar

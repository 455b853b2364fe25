// Values out of JSON and HTML texts, in both code pages, directly and as
// the script's built-ins.

#include "values/web_text.h"

#include <gtest/gtest.h>

#include "support/script_fixture.h"
#include "values/code_page.h"

namespace velmar {
namespace {

using testing::ScriptFixture;

const CodePage& Utf8() {
  return CodePage::Get(CodePage::kUtf8);
}
const CodePage& Gbk() {
  return CodePage::Get(CodePage::kGbk);
}

TEST(WebText, ReadsJsonByPath) {
  const std::string doc =
      R"({"data":[{"name":"a\"b\\c\n","id":7,"ok":true,"none":null,"pi":3.25},)"
      R"({"name":"\u4e2d\ud83d\ude00","tags":["x","y"]}],"dotted.key":1,"big":12345678901234567})";
  EXPECT_EQ(JsonValue(doc, "data[0].name", Utf8()), "a\"b\\c\n");
  EXPECT_EQ(JsonValue(doc, "data.0.id", Utf8()), "7");
  EXPECT_EQ(JsonValue(doc, "data[0].ok", Utf8()), "true");
  EXPECT_EQ(JsonValue(doc, "data[0].none", Utf8()), "null");
  EXPECT_EQ(JsonValue(doc, "data[0].pi", Utf8()), "3.25");
  EXPECT_EQ(JsonValue(doc, "big", Utf8()), "12345678901234567");
  // \u escapes and a surrogate pair become UTF-8, or GBK with '?' for the
  // emoji GBK lacks.
  EXPECT_EQ(JsonValue(doc, "data[1].name", Utf8()), "中\xF0\x9F\x98\x80");
  EXPECT_EQ(JsonValue(doc, "data[1].name", Gbk()), "\xD6\xD0?");
  EXPECT_EQ(JsonValue(doc, "data[1].tags", Utf8()), R"(["x","y"])");
  EXPECT_EQ(JsonCount(doc, "data", Utf8()), 2u);
  EXPECT_EQ(JsonCount(doc, "data[1].tags", Utf8()), 2u);
  EXPECT_EQ(JsonCount(doc, "data[0].id", Utf8()), std::nullopt);
  // Paths that lead nowhere, and texts that are no JSON.
  EXPECT_EQ(JsonValue(doc, "data[2]", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue(doc, "data.x", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue(doc, "data[0][1]", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue(doc, "dotted.key", Utf8()), std::nullopt);  // keys with dots are unreachable
  EXPECT_EQ(JsonValue(doc, "data[0", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue("{\"a\":", "a", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue("", "", Utf8()), std::nullopt);
  EXPECT_EQ(JsonValue("[1,2]", "", Utf8()), "[1,2]");
  // A GBK script's document, keys included, is read in its code page.
  EXPECT_EQ(JsonValue("{\"\xD6\xD0\":\"\xD6\xD0\"}", "\xD6\xD0", Gbk()), "\xD6\xD0");
}

TEST(WebText, EscapesJsonAndCodesHtml) {
  EXPECT_EQ(JsonEscape("a\"b\\c\r\n\t\x01z", Utf8()), "a\\\"b\\\\c\\r\\n\\t\\u0001z");
  // 乗 in GBK is 81 5C: its trail byte is no backslash to escape.
  EXPECT_EQ(JsonEscape("\x81\x5C\\", Gbk()), "\x81\x5C\\\\");

  EXPECT_EQ(HtmlDecode("a&amp;b &lt;i&gt; &quot;&apos; &#233;&#xE9;&#XE9; &eacute;&nbsp;&mdash;",
                       Utf8()),
            "a&b <i> \"' ééé é\xC2\xA0—");
  EXPECT_EQ(HtmlDecode("&#x1F600; &#0; &#xD800; &#99999999;", Utf8()),
            "\xF0\x9F\x98\x80 \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD");
  // Unknown, unterminated and empty references stay as they are.
  EXPECT_EQ(HtmlDecode("&nosuch; & &amp &; a&b=1&c;", Utf8()), "&nosuch; & &amp &; a&b=1&c;");
  EXPECT_EQ(HtmlDecode("&eacute;&#x4e2d;", Gbk()), "\xA8\xA6\xD6\xD0");  // é is in GBK too
  EXPECT_EQ(HtmlDecode("&#x1F600;", Gbk()), "?");
  EXPECT_EQ(HtmlEncode("<a href=\"x?a=1&b='2'\">"),
            "&lt;a href=&quot;x?a=1&amp;b=&#39;2&#39;&quot;&gt;");
  EXPECT_EQ(HtmlDecode(HtmlEncode("<&\"'>"), Utf8()), "<&\"'>");
}

TEST(WebText, BuiltinsReadResponses) {
  ScriptFixture f;
  f.Var("doc") = R"({"items":[{"id":1},{"id":2}],"next":"/p?a=1&amp;b=2"})";
  // Brackets in the document would end a reference: "#doc" hands the
  // variable over as it is, and paths use dots.
  EXPECT_EQ(f.Expand("[@json<<<#doc<<<items.1.id]"), "2");
  EXPECT_EQ(f.Expand("[@jsoncount<<<#doc<<<items]"), "2");
  EXPECT_EQ(f.Expand("[@jsoncount<<<#doc<<<nothing]"), "0");
  EXPECT_EQ(f.Expand("[@htmldecode<<<[@json<<<#doc<<<next]]"), "/p?a=1&b=2");
  EXPECT_EQ(f.Expand("[@json<<<{\"a\":\"b\"}<<<a]"), "b");  // a text without brackets
  EXPECT_EQ(f.Expand("[@json<<<#nosuchvariable<<<a]"), "");
  EXPECT_EQ(f.Expand("[@jsonescape<<<say \"hi\"]"), "say \\\"hi\\\"");
  EXPECT_EQ(f.Expand("[@htmlencode<<<a<b]"), "a&lt;b");
  EXPECT_EQ(f.Expand("[@gunzip<<<not gzip]"), "");
  EXPECT_EQ(f.AlertCount(), 0u);
  EXPECT_EQ(f.Expand("[@json]"), "");
  EXPECT_EQ(f.AlertCount(), 1u);
}

}  // namespace
}  // namespace velmar

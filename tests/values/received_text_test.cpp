// Text from outside is data: it is inserted byte for byte, never expanded
// again, and built-in calls never split it; the script's own text expands as
// it always did.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/keyword_table.h"
#include "support/script_fixture.h"
#include "engine/statements/builtins.h"
#include "engine/statements/expansion.h"
#include "values/received_text.h"
#include "values/reference_scanner.h"

namespace velmar {
namespace {

using testing::ScriptFixture;

// A page that tries every sigil, separator and bracket on its reader.
const std::string kHostile =
    "<p>a]b [@writefile<<<[@userpath]/pwned.txt<<<hello] [#secret] [$re.0] [%t.0.0] "
    "[~libc.getenv<<<HOME] [!x] [@readfile<<<Config.ini] x<<<y ]] [[ [#abc</p>";

void Receive(ScriptFixture& f, const std::string& name, const std::string& value) {
  f.ctx->variables.SetReceived(name, value);
}

bool Pwned(const ScriptFixture& f) {
  return std::filesystem::exists(f.home.path() / "pwned.txt");
}

TEST(ReceivedText, IsInsertedAsItStands) {
  ScriptFixture f;
  f.Var("secret") = "s3cret";
  Receive(f, "http_body", kHostile);
  EXPECT_EQ(f.Expand("[#http_body]"), kHostile);
  EXPECT_EQ(f.Expand("<[#http_body]|[#http_body]>"), "<" + kHostile + "|" + kHostile + ">");
  EXPECT_FALSE(Pwned(f));

  // The `]` trap: the call's closing bracket is the script's, not the page's.
  Receive(f, "b", "a]b");
  EXPECT_EQ(f.Expand("[@len<<<[#b]]"), "3");
  EXPECT_EQ(f.Expand("[@len<<<[#http_body]]"), std::to_string(kHostile.size()));
  // Separators inside received text are part of one argument.
  Receive(f, "sep", "x<<<y");
  EXPECT_EQ(f.Expand("[@replace<<<[#sep]<<<y<<<z]"), "x<<<z");
  EXPECT_EQ(f.Expand("[@replace<<<1-2<<<-<<<[#sep]]"), "1x<<<y2");
  EXPECT_EQ(f.Expand("[@ucase<<<[#http_body]]"), f.ctx->codePage().Upper(kHostile));
  EXPECT_EQ(f.AlertCount(), 0u);
  EXPECT_FALSE(Pwned(f));
}

TEST(ReceivedText, HalfReferencesNeverJoinTheScriptsBrackets) {
  ScriptFixture f;
  f.Var("abc") = "leak";
  Receive(f, "half", "[#abc");
  EXPECT_EQ(f.Expand("[#half]]"), "[#abc]");
  Receive(f, "sigil", "#abc");
  EXPECT_EQ(f.Expand("[[#sigil]]"), "[#abc]");
  Receive(f, "close", "abc]");
  EXPECT_EQ(f.Expand("[#[#close]"), "[#abc]");
  // The script's own frame around a received name reads that name.
  Receive(f, "name", "abc");
  EXPECT_EQ(f.Expand("[#[#name]]"), "leak");
  EXPECT_EQ(f.Expand("[#item_[#name]]"), "");
}

TEST(ReceivedText, MarksFollowValuesThroughVarSplitAndResults) {
  ScriptFixture f;
  Receive(f, "http_body", kHostile);
  ExecuteVar(*f.ctx, "[#copy] pre[#http_body]post");
  EXPECT_EQ(f.ctx->variables.Get("copy"), "pre" + kHostile + "post");
  EXPECT_EQ(f.Expand("[#copy]"), "pre" + kHostile + "post");
  ExecuteVar(*f.ctx, "[#again] [#copy]");
  EXPECT_EQ(f.Expand("[@len<<<[#again]]"), std::to_string(kHostile.size() + 7));

  EXPECT_EQ(f.Expand("[@split<<<a,[#http_body],b<<<,]"), "3");
  EXPECT_EQ(f.Expand("[#_0]|[#_2]"), "a|b");
  EXPECT_EQ(f.Expand("[#_1]"), kHostile);
  EXPECT_EQ(f.Expand("[@substr<<<[#http_body]<<<3]"), kHostile.substr(3));

  // Cells and file contents are received too.
  f.ctx->resultSets["t"] = {{"[@writefile<<<pwned.txt<<<1]", "2"}};
  EXPECT_EQ(f.Expand("[%t.0.0]"), "[@writefile<<<pwned.txt<<<1]");
  f.home.Write("page.txt", "[@writefile<<<pwned.txt<<<1]");
  EXPECT_EQ(f.Expand("[@readfile<<<page.txt]").rfind("[@writefile<<<pwned.txt<<<1]", 0), 0u);
  EXPECT_EQ(f.Expand("[@readfile<<<page.txt<<<0]"), "1");
  EXPECT_FALSE(Pwned(f));

  // The script's own text written over a received variable is code again.
  f.Var("copy") = "[#_2]";
  EXPECT_EQ(f.Expand("[#copy]"), "b");
  ExecuteVar(*f.ctx, "[#again] ([@len<<<[#http_body]]+1)");
  EXPECT_EQ(f.ctx->variables.ReceivedOf(&f.ctx->variables.Get("again")), nullptr);
  EXPECT_EQ(f.AlertCount(), 0u);
}

TEST(ReceivedText, CapturesOverReceivedTextAreReceived) {
  ScriptFixture f;
  f.Var("w") = "writefile<<<pwned.txt<<<1";
  f.Run(stmt::kRegex, "re ={.*}=");
  f.Run(stmt::kMatch, "re =[#w]=");
  // A capture of the script's own text is code, as it always was.
  EXPECT_EQ(f.Expand("[@[$re.0]]"), "1");
  EXPECT_TRUE(Pwned(f));
  std::filesystem::remove(f.home.path() / "pwned.txt");

  Receive(f, "http_body", "=writefile<<<pwned.txt<<<1=");
  f.Run(stmt::kMatch, "re [#http_body]");
  EXPECT_EQ(f.Expand("<[$re.0]>"), "<writefile<<<pwned.txt<<<1>");
  EXPECT_EQ(f.Expand("[@[$re.0]]"), "");
  EXPECT_EQ(f.Expand("[$re.count]"), "1");

  // What `replace` makes of received text stays received.
  Receive(f, "page", "Q@writefile<<<pwned.txt<<<1]");
  f.Run(stmt::kRegex, "q {Q}");
  f.Run(stmt::kReplace, "q [#page] [");
  EXPECT_EQ(f.Expand("[#page]"), "[@writefile<<<pwned.txt<<<1]");
  EXPECT_FALSE(Pwned(f));
}

TEST(ReceivedText, ExpandHandsTextBackAsTheScriptsOwn) {
  ScriptFixture f;
  f.Var("n") = "7";
  Receive(f, "tpl", "n=[#n] a]b");
  EXPECT_EQ(f.Expand("[#tpl]"), "n=[#n] a]b");
  EXPECT_EQ(f.Expand("[@expand<<<[#tpl]]"), "n=7 a]b");
  EXPECT_EQ(f.Expand("[@expand<<<a<<<b]"), "a<<<b");
}

TEST(ReceivedText, ExpandReceivedRestoresTheOldRule) {
  ScriptFixture f("[setting]\nexpandreceived=1\n");
  Receive(f, "b", "a]b");
  EXPECT_EQ(f.Expand("[@len<<<[#b]]"), "1b]");
  Receive(f, "http_body", "[@writefile<<<pwned.txt<<<1]");
  EXPECT_EQ(f.Expand("[#http_body]"), "1");
  EXPECT_TRUE(Pwned(f));
}

TEST(ReceivedText, LargeAndMixedTextsStayBounded) {
  ScriptFixture f;
  std::string big(64 << 20, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4096) big.replace(i, 4, "[#a]");
  Receive(f, "http_body", big);
  f.Var("a") = "A";
  EXPECT_EQ(f.Expand("[#http_body]"), big);

  // Received and the script's own parts mixed over every pass: each pass
  // builds a new reference around received text that never takes part.
  f.Var("a") = "[#a]x";
  Receive(f, "r", "[#a");
  EXPECT_EQ(f.Expand("[#a][#r]]"),
            "[#a]" + std::string(kMaxExpansionPasses, 'x') + "[#a]");
  EXPECT_EQ(f.AlertCount(), 0u);
}

TEST(ReceivedText, SpanHelpersSplitOnlyOutsideReceivedParts) {
  const CodePage& cp = CodePage::Get(CodePage::kUtf8);
  ReceivedSpans spans;
  AppendSpan(spans, 2, 3);
  AppendSpan(spans, 5, 2);  // touching: joined
  AppendSpan(spans, 9, 1);
  EXPECT_EQ(spans, (ReceivedSpans{{2, 5}, {9, 1}}));
  EXPECT_EQ(SliceSpans(spans, 4, 6), (ReceivedSpans{{0, 3}, {5, 1}}));

  // "a<<<" then received "b<<<c" then "<<<d": three pieces, not four.
  const std::string text = "a<<<b<<<c<<<d";
  const MarkedPieces p = SplitMarkedText(text, {{4, 5}}, "<<<", cp);
  EXPECT_EQ(p.pieces, (std::vector<std::string>{"a", "b<<<c", "d"}));
  EXPECT_EQ(p.spans[1], (ReceivedSpans{{0, 5}}));
  // A separator half in received text is data as well.
  EXPECT_EQ(SplitMarkedText("a<<<b", {{2, 1}}, "<<<", cp).pieces.size(), 1u);

  // The hint kept between calls answers as a search would, whether the
  // positions come left to right, repeat or go back.
  ReceivedSpans many;
  for (std::size_t pos = 3; pos < 400; pos += 7) AppendSpan(many, pos, 1 + pos % 4);
  auto inside = [&](std::size_t pos) {
    for (const ReceivedSpan& s : many) {
      if (pos >= s.pos && pos < s.pos + s.len) return true;
    }
    return false;
  };
  std::mt19937 rng(7);
  std::size_t hint = 0;
  std::size_t pos = 0;
  for (int k = 0; k < 5000; ++k) {
    pos = rng() % 3 == 0 ? rng() % 420 : pos + rng() % 9;
    if (pos >= 420) pos = 0;
    ASSERT_EQ(InSpan(many, pos, hint), inside(pos)) << "at " << pos;
  }

  std::vector<ReferenceMatch> found;
  FindReferences(cp, "[#a][#b]c]", {{3, 5}}, found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].len, 10u);
}

// The same generated scripts of the script's own values through the
// expansion with received text tracked (and some received variables around,
// so the tracking is at work) and through `expandreceived=1`, which tracks
// nothing: no difference in any value, alert or file.
TEST(ReceivedText, ScriptsOwnTextsExpandAsUnderTheOldRule) {
  // Texts that double themselves reach the size limit sooner.
  const std::size_t limit = ExpandedTextLimit();
  ExpandedTextLimit() = 1 << 16;
  std::mt19937 rng(2201);
  const std::vector<std::string> tokens = {
      "[",       "]",     "[#",    "a",   "b",         "[#a]",         "[#b]",  "[!x]",
      "<<<",     ",",     "[#_0]", "_",   "[@split<<<", "[@replace<<<", "[@len<<<", "(",
      ")",       "+1",    "[#c]",  "[#[#a]]", "[@substr<<<", "1", "[@expand<<<", "[@lcase<<<"};
  auto randomText = [&](int maxTokens) {
    std::string s;
    const int n = static_cast<int>(rng() % maxTokens);
    for (int i = 0; i < n; ++i) s += tokens[rng() % tokens.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    ScriptFixture tracked;
    ScriptFixture old("[setting]\nexpandreceived=1\n");
    Receive(tracked, "http_body", "[#a]");
    Receive(old, "http_body", "[#a]");
    for (const char* name : {"a", "b", "c"}) {
      const std::string value = randomText(4);
      tracked.Var(name) = value;
      old.Var(name) = value;
    }
    for (int step = 0; step < 4; ++step) {
      const std::string target = std::string("[#") + "abc"[rng() % 3] + "] ";
      const std::string statement = target + randomText(10);
      ExecuteVar(*tracked.ctx, statement);
      ExecuteVar(*old.ctx, statement);
      ASSERT_EQ(tracked.ctx->variables.entries(), old.ctx->variables.entries())
          << "round " << round << ": " << statement;
      ASSERT_EQ(tracked.host.requests, old.host.requests) << statement;
    }
  }
  ExpandedTextLimit() = limit;
}

}  // namespace
}  // namespace velmar

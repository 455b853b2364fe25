#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "support/script_fixture.h"
#include "engine/statements/expansion.h"
#include "values/reference_scanner.h"

namespace velmar {
namespace {

using testing::ScriptFixture;

TEST(Expansion, VariablesAndNesting) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("<[#a]>"), "<>");
  EXPECT_TRUE(f.ctx->variables.Contains("a"));
  EXPECT_EQ(f.ctx->variables.Find("a")->size(), 0u);

  f.Var("Count") = "big";
  f.Var("count") = "small";
  EXPECT_EQ(f.Expand("[#Count]/[#count]"), "big/small");

  f.Var("i") = "3";
  f.Var("item_3") = "x";
  EXPECT_EQ(f.Expand("[#item_[#i]]"), "x");

  f.Var("v") = "[#w]";
  f.Var("w") = "5";
  EXPECT_EQ(f.Expand("[#v]"), "5");

  f.Var("n") = "1";
  EXPECT_EQ(f.Expand("a[#n]b[#n]c"), "a1b1c");

  f.Var("with space") = "ok";
  EXPECT_EQ(f.Expand("[#with space]"), "ok");
  f.Var("") = "empty name";
  EXPECT_EQ(f.Expand("[#]"), "empty name");
  EXPECT_EQ(f.Expand("[x] [#] [ #n] [#n"), "[x] empty name [ #n] [#n");
  EXPECT_EQ(f.AlertCount(), 0u);
}

TEST(Expansion, ReservedAndSelfReferringTextsSurvive) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[!x]"), "[!x]");
  f.Var("n") = "2";
  EXPECT_EQ(f.Expand("[!x][#n][!x]"), "[!x]2[!x]");
  f.Var("a") = "[#a]";
  EXPECT_EQ(f.Expand("[#a]"), "[#a]");
  f.Var("p") = "[#q]";
  f.Var("q") = "[#p]";
  // 100 passes flip the text back and forth, ending where it began.
  EXPECT_EQ(f.Expand("[#p]"), "[#p]");
}

// Each `[@split...]` run rewrites `_0`, so the number of runs shows how many
// passes and replacements took place.
TEST(Expansion, PassesRunInOrderOverTheWholeText) {
  ScriptFixture f;
  f.Var("x") = "_";
  f.Var("y") = "late";
  // The second reference completes `[#_0]` around the first one's value; the
  // last pass-one replacement then reaches it as well as the written one.
  EXPECT_EQ(f.Expand("[@split<<<[#y]<<<,][#[#x]0][@split<<<new<<<,][#_0]"), "1new1new");
  EXPECT_EQ(f.Var("_0"), "late");

  // A split writes variables that later references of the same pass read.
  EXPECT_EQ(f.Expand("[@split<<<p,q<<<,][#_1]"), "2q");

  // A repeated built-in runs again but the first value already replaced all.
  f.Var("_0") = "";
  EXPECT_EQ(f.Expand("[@split<<<a<<<,][#_0][@split<<<a<<<,]"), "1a1");
}

TEST(Expansion, DeepAndGrowingTextsStayBounded) {
  ScriptFixture f;
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "[#a";
  deep += std::string(1000, ']');
  const std::string expanded = f.Expand(deep);
  // One level disappears per pass, and there are 100 passes.
  std::string expected;
  for (int i = 0; i < 900; ++i) expected += "[#a";
  expected += std::string(900, ']');
  EXPECT_EQ(expanded, expected);
  EXPECT_EQ(f.AlertCount(), 0u);

  // Every replacement of a pass doubles the text again, so the limit ends
  // the expansion within a few passes, keeping the last complete pass.
  f.Var("g") = "[#g][#g]";
  f.ctx->executionStack.push_back(1);
  const std::string grown = f.Expand("[#g]");
  EXPECT_EQ(grown.size(), 2048u * 4);
  EXPECT_TRUE(f.LastAlertHas("引用展开后的文本超过64MB．"));
  EXPECT_TRUE(f.ctx->executionStack.empty());

  // Growth across statements stops at the same limit.
  ScriptFixture g;
  g.Var("a") = "x";
  for (int i = 0; i < 30 && g.AlertCount() == 0; ++i) ExecuteVar(*g.ctx, "[#a] [#a][#a]");
  EXPECT_LE(g.Var("a").size(), kMaxExpandedTextSize);
  EXPECT_TRUE(g.LastAlertHas("引用展开后的文本超过64MB．"));
}

// An open `[` before the references sends the pass down the general path,
// one whole-text replacement per match: each match after the first of the
// same reference used to search the whole text again, so a text of many
// such matches took hours. Later matches of a reference that is gone from
// the text now cost nothing, and the result is as before.
TEST(Expansion, ManyMatchesOfOneEnclosedReference) {
  ScriptFixture f;
  f.Var("a") = "x";
  constexpr int kMatches = 200000;
  std::string text = "[";
  std::string expected = "[";
  for (int i = 0; i < kMatches; ++i) {
    text += "[#a]";
    expected += 'x';
  }
  EXPECT_EQ(f.Expand(text), expected);

  // A value that holds its own reference is found again by the next match
  // of the same reference: two replacements per pass, in every pass.
  f.Var("b") = "[#b]y";
  const std::string tail = "[#b]" + std::string(2 * kMaxExpansionPasses, 'y');
  EXPECT_EQ(f.Expand("[[#b][#b]"), "[" + tail + tail);
  EXPECT_EQ(f.AlertCount(), 0u);
}

// Distinct references behind a stray `[` used to cost one whole-text
// replacement each (10,000 took a second, 200,000 over a minute); one
// rewrite at the matches gives the same text unless it completes a
// reference that a later replacement of the pass would reach.
TEST(Expansion, ManyDistinctReferencesBehindAnOpenBracket) {
  ScriptFixture f;
  constexpr int kRefs = 200000;
  std::string text = "[";
  std::string expected = "[";
  for (int i = 0; i < kRefs; ++i) {
    const std::string name = "v" + std::to_string(i);
    f.Var(name) = i % 2 ? "x" : "[!" + name + "]";
    text += "[#" + name + "]";
    expected += i % 2 ? "x" : "[!" + name + "]";
  }
  EXPECT_EQ(f.Expand(text), expected);

  // Where the rewrite completes a later reference, the order decides.
  f.Var("a") = "b";
  f.Var("xb") = "B";
  EXPECT_EQ(f.Expand("[#x[#a]] [#xb]"), "B B");
  f.Var("w") = "[#y]";
  f.Var("y") = "Y";
  EXPECT_EQ(f.Expand("[[#w] [#y]"), "[Y Y");
  // A split in the pass changes `_0` after its first match kept its text.
  f.Var("_0") = "[#_0]";
  EXPECT_EQ(f.Expand("[#_0][@split<<<q<<<,][#_0]"), "q1q");
  EXPECT_EQ(f.AlertCount(), 0u);
}

// The replacements in order stay quadratic where every value reaches the
// next reference, but a stop ends them between two replacements.
TEST(Expansion, AStopEndsALongExpansion) {
  ScriptFixture f;
  constexpr int kRefs = 40000;
  std::string text = "[";
  for (int i = 0; i < kRefs; ++i) {
    f.Var("v" + std::to_string(i)) = "[#v" + std::to_string(i + 1) + "]";
    text += "[#v" + std::to_string(i) + "]";
  }
  std::atomic<bool> done{false};
  std::chrono::steady_clock::time_point end;
  std::thread worker([&] {
    ExpandReferences(*f.ctx, text);
    end = std::chrono::steady_clock::now();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const bool endedEarly = done.load();
  const auto stopAt = std::chrono::steady_clock::now();
  f.ctx->stop.request();
  worker.join();
  EXPECT_FALSE(endedEarly) << "the expansion no longer takes long enough to stop";
  const double stopMs = std::chrono::duration<double, std::milli>(end - stopAt).count();
  EXPECT_LT(stopMs, 1000.0);
}

TEST(Expansion, DoubleByteCharactersNeverFormBrackets) {
  ScriptFixture gbk(CodePage::kGbk);
  gbk.Var("a") = "A";
  // 0x81 0x5B is one GBK character whose trail byte is `[`.
  EXPECT_EQ(gbk.Expand("\x81[#a]"), "\x81[#a]");
  EXPECT_EQ(gbk.Expand("x[#a]\x81[#a]"), "xA\x81[#a]");
  // 0x81 0x5D ends in `]` and so belongs to the name.
  gbk.Var("b\x81]c") = "B";
  EXPECT_EQ(gbk.Expand("[#b\x81]c]"), "B");
  // A value ending in a lone lead byte would swallow the `[` behind it.
  gbk.Var("lead") = "\x81";
  gbk.Var("t") = "T";
  EXPECT_EQ(gbk.Expand("[#lead][#t]"), "\x81[#t]");

  ScriptFixture utf8;
  utf8.Var("a") = "A";
  EXPECT_EQ(utf8.Expand("\x81[#a]"),
            "\x81"
            "A");
  utf8.Var("名") = "值";
  EXPECT_EQ(utf8.Expand("名[#名]"), "名值");
}

TEST(Expansion, ScannerFindsReferencesWithoutOverlap) {
  const CodePage& cp = CodePage::Get(CodePage::kUtf8);
  std::vector<ReferenceMatch> found;
  FindReferences(cp, "[#a[#b]] [@x<<<1] [%q.count][[$r.1]]", found);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].pos, 3u);
  EXPECT_TRUE(found[0].enclosed);
  EXPECT_EQ(found[1].sigil, '@');
  EXPECT_FALSE(found[1].enclosed);
  EXPECT_EQ(found[2].sigil, '%');
  EXPECT_EQ(found[3].sigil, '$');
  EXPECT_EQ(found[3].NamePart("[#a[#b]] [@x<<<1] [%q.count][[$r.1]]"), "r.1");
}

// The plain definition of a pass: for each reference found, in order, replace
// every occurrence of its text in the whole current text.
std::string PlainExpansion(ScriptContext& ctx, std::string text) {
  const CodePage& cp = ctx.codePage();
  for (int pass = 0; pass < kMaxExpansionPasses; ++pass) {
    std::vector<ReferenceMatch> found;
    FindReferences(cp, text, found);
    if (found.empty()) break;
    std::vector<std::pair<std::string, std::string>> steps;
    for (const auto& m : found) {
      const std::string ref = text.substr(m.pos, m.len);
      steps.emplace_back(ref, m.sigil == '!' ? ref : ctx.variables[std::string(m.NamePart(text))]);
    }
    for (const auto& [ref, value] : steps) {
      std::string out;
      std::size_t pos = 0;
      for (std::size_t hit; (hit = cp.Find(text, ref, pos)) != std::string::npos;) {
        out += text.substr(pos, hit - pos) + value;
        pos = hit + ref.size();
      }
      text = out + text.substr(pos);
    }
  }
  return text;
}

TEST(Expansion, AgreesWithThePlainDefinitionOnRandomTexts) {
  std::mt19937 rng(12345);
  const std::string alphabet = "[[]]#!ab_x";
  auto randomText = [&](int maxLen) {
    std::string s;
    const int len = static_cast<int>(rng() % maxLen);
    for (int i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    ScriptFixture fast;
    ScriptFixture plain;
    for (const char* name : {"a", "b", "ab", "x", "a_", "_"}) {
      const std::string value = round % 3 == 0 ? randomText(4) : std::string(1, 'a' + rng() % 3);
      fast.Var(name) = value;
      plain.Var(name) = value;
    }
    const std::string text = randomText(24);
    std::string expanded = text;
    ExpandReferences(*fast.ctx, expanded);
    ASSERT_EQ(expanded, PlainExpansion(*plain.ctx, text)) << "text: " << text;
  }
}

TEST(QueryCells, CountRowsAndRanges) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("[%t.count]"), "0");
  EXPECT_TRUE(f.ctx->resultSets.count("t"));
  EXPECT_EQ(f.AlertCount(), 0u);
  EXPECT_EQ(f.Expand("<[%t.0.0]>"), "<>");
  EXPECT_TRUE(f.LastAlertHas("下标越界."));

  f.ctx->resultSets["r"] = {{"a", "b"}, {"c"}};
  EXPECT_EQ(f.Expand("[%r. COUNT ]"), "2");
  EXPECT_EQ(f.Expand("[%r.1.0]|[%r.0.1]|[%r. 0 . 0 ]"), "c|b|a");
  const std::size_t before = f.AlertCount();
  EXPECT_EQ(f.Expand("<[%r.1.5]>"), "<>");  // a column outside the row
  EXPECT_EQ(f.AlertCount(), before);
  EXPECT_EQ(f.Expand("<[%r.2.0]>"), "<>");
  EXPECT_TRUE(f.LastAlertHas("下标越界."));
  EXPECT_EQ(f.Expand("<[%r.-1.0]>"), "<>");
  EXPECT_TRUE(f.LastAlertHas("下标越界."));

  for (const char* bad : {"[%r]", "[%.count]", "[%r.x]"}) {
    const std::size_t alerts = f.AlertCount();
    EXPECT_EQ(f.Expand(bad), "") << bad;
    EXPECT_EQ(f.AlertCount(), alerts + 1) << bad;
    EXPECT_TRUE(f.LastAlertHas("格式有误．")) << bad;
  }
}

TEST(VarStatement, AssignsExpandedNamesAndValues) {
  ScriptFixture f;
  f.Var("n") = "4";
  ExecuteVar(*f.ctx, "[#n] ([#n]+1)");
  EXPECT_EQ(f.Var("n"), "5");

  f.Var("x") = "old";
  ExecuteVar(*f.ctx, "[#x]");
  EXPECT_EQ(f.Var("x"), "");
  ExecuteVar(*f.ctx, "[#x]   two words ");
  EXPECT_EQ(f.Var("x"), "two words ");
  ExecuteVar(*f.ctx, "[#t]\tvalue");
  EXPECT_EQ(f.Var("t"), "value");

  f.Var("i") = "3";
  ExecuteVar(*f.ctx, "[#item_[#i]] [#i][#i]");
  EXPECT_EQ(f.Var("item_3"), "33");
  // The frame of the name token is dropped unchecked.
  ExecuteVar(*f.ctx, "{{k} v");
  EXPECT_EQ(f.Var("k"), "v");
  EXPECT_EQ(f.AlertCount(), 0u);

  const std::size_t count = f.ctx->variables.size();
  ExecuteVar(*f.ctx, "[#] value");
  EXPECT_TRUE(f.LastAlertHas("格式有误．"));
  EXPECT_EQ(f.ctx->variables.size(), count);
}

}  // namespace
}  // namespace velmar

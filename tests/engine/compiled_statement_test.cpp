// Prepared statements against the textual expansion: generated scripts run
// once with statements prepared and once with every turn expanded as text,
// and every request the host sees, every variable and the error state must
// be the same byte for byte. The scripts are built to reach the places where
// a prepared turn could go wrong: values that hold brackets, operators,
// references (to themselves too) or texts that grow to the size limit,
// variables retyped between turns, `accuracy` changing, and jumps into the
// middle of loops.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/executor.h"
#include "engine/host_requests.h"
#include "engine/script_context.h"
#include "engine/script_program.h"
#include "support/test_support.h"
#include "engine/statements/expansion.h"

namespace velmar {
namespace {

using testing::TempDir;

// Records every request and ends the run after a budget of them, so that
// generated loops that never end still stop. Every cycle a generated script
// can take passes a `show`.
class BudgetHost : public ScriptHost {
 public:
  void handleRequest(const HostRequest& request, const std::string& text) override {
    requests.emplace_back(request.code, text);
    if (requests.size() >= kBudget) request.instance->executionStack.clear();
  }
  static constexpr std::size_t kBudget = 150;
  std::vector<std::pair<int32_t, std::string>> requests;
};

struct Outcome {
  std::vector<std::pair<int32_t, std::string>> requests;
  std::map<std::string, std::string, std::less<>> variables;
  bool errorReported = false;
  bool operator==(const Outcome&) const = default;
};

// The expansion limit is lowered for the test so that doubling texts reach
// it quickly; the limit is the same for both paths.
class ExpansionLimit {
 public:
  explicit ExpansionLimit(std::size_t limit) : saved_(ExpandedTextLimit()) {
    ExpandedTextLimit() = limit;
  }
  ~ExpansionLimit() { ExpandedTextLimit() = saved_; }

 private:
  std::size_t saved_;
};

Outcome RunScript(const EngineEnvironment& env, const std::string& script, bool compiled) {
  BudgetHost host;
  const ScriptProgram program = parseScript(script, env);
  ScriptContext ctx(env);
  ctx.host = &host;
  ctx.compiledStatements = compiled;
  ctx.program = &program;
  ctx.lastIndex = program.lastIndex();
  const uint32_t* main = program.FindLabel("<main>");
  ctx.executionStack.push_back(main ? *main : 0);
  runScript(ctx);
  return {std::move(host.requests), ctx.variables.entries(), ctx.errorReported};
}

// Values that are no plain number, or that a reference in them changes.
constexpr const char* kOddValues[] = {
    "", "3.", ".5", "-", "--2", "1e5", " 4", "4 ", "1 2", "abc", "(1+2)", "+", "*2", "<",
    "==", "&&1", "1)", "(", "[#a]", "[#n]", "[#b", "]", "[", "1]", "[#c]x", "[#s]",
    "[#g][#g]", "[!r]", "[#item_[#i]]", "[@len<<<abc]", "[@split<<<1,2<<<,]", "[#_0]", "a",
    "p", "\xb0", "\xb0\xa1", "x\xb0", "1\xb0", "\x81[#a]", "(2)", "[[#a]]", "[#[#p]]",
    "[#", "[#n", "#n]", "n]", "[#a[#b]", "[!r][#a]", "[#c]]"};

// Statement texts that read variables.
constexpr const char* kForms[] = {
    "([#a]+1)", "([#a]*[#b]-2)", "([#a]<[#b])", "([#a]>=3&&[#b]!=0)", "(-[#a])", "(2-[#a])",
    "([#a].5)", "([#a][#b])", "(1 [#a])", "([#a] [#b])", "((1)[#a])", "([#a])", "[#a]",
    "x[#a]y", "[#a][#b]", "([#a]/0)", "(.[#a])", "([#a]-)", "(abc[#a])", "([#a]==[#b]||0)",
    "(1.5*[#a])", "(-[#n]*-[#a])", "([#n]+[#a]+[#b])", "([#a]-[#n])/2", "(([#a]+[#b])*[#n])",
    "([#i]+1)", "([#n]-1)", "([#a]<=[#n])", "(7-(-[#a]))", "([#a]+0.125)",
    // A value that completes a reference with the text after it, or
    // (in GBK) a lone lead byte that swallows the next bracket.
    "[#c]]", "[#c]#n]", "[#b]n]", "[#c][#b]]", "([#c]n]+1)", "[#a][#b]", "[#b]#a]",
    "x[#c]a]y", "([#b][#a])"};

// Seeded and deterministic: only the engine's raw output is used, never a
// standard distribution (those differ between libraries).
class ScriptGenerator {
 public:
  explicit ScriptGenerator(uint32_t seed) : rng_(seed) {}

  std::string Script() {
    lines_.clear();
    labels_ = 0;
    Add("var [#i] 0");
    Add("var [#n] " + Pick(kNumbers));
    Add("var [#a] " + Pick(kNumbers));
    Add("var [#b] " + Value());
    Add("var [#p] a");
    Block(0, 6 + Below(8));
    Add("show end [#a]|[#b]|[#n]|[#i]|[#c]");
    std::string text;
    for (const std::string& line : lines_) text += line + "\r\n";
    return text;
  }

 private:
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <std::size_t N>
  std::string Pick(const char* const (&items)[N]) {
    return items[Below(N)];
  }
  void Add(std::string line) { lines_.push_back(std::move(line)); }

  static constexpr const char* kNames[] = {"a", "b", "c", "n", "i", "s", "g", "p", "item_1", "a b", "(1+1)"};
  static constexpr const char* kNumbers[] = {"0", "1", "7", "-3", "12.5", "-0", "0.25", "007",
                                             "100", "-1.5", "42", "3", "2"};
  // Values that are no plain number, or that a reference in them changes.

  // Pieces of texts that may be expressions.
  static constexpr const char* kPieces[] = {
      "[#a]", "[#b]", "[#n]", "[#i]", "[#c]", "1", "2.5", "-", "+", "*", "/", "<", ">=", "==",
      "!=", "&&", "||", "(", ")", " ", ".", "x", "[", "]", "[#item_[#i]]", "[!r]", "[#[#p]]",
      "[#s]", "[@len<<<[#a]]", "0", "-[#a]", "[#a]-1", "3"};

  std::string Name() { return Pick(kNames); }
  std::string Value() {
    if (Chance(45)) return Pick(kNumbers);
    if (Chance(50)) return Pick(kOddValues);
    return Text();
  }
  std::string Text() {
    std::string text;
    const uint32_t count = 1 + Below(6);
    for (uint32_t k = 0; k < count; ++k) text += Pick(kPieces);
    if (Chance(70)) text = "(" + text + ")";
    return text;
  }
  std::string Arithmetic() {
    return Pick(kForms);
  }

  void Block(int depth, uint32_t statements) {
    for (uint32_t k = 0; k < statements; ++k) Statement(depth);
  }

  void Statement(int depth) {
    const uint32_t kind = Below(depth < 3 ? 100 : 60);
    if (kind < 22) {
      Add("var [#" + Name() + "] " + (Chance(50) ? Arithmetic() : Value()));
    } else if (kind < 32) {
      Add("show " + (Chance(50) ? Arithmetic() : Text()));
    } else if (kind < 38) {
      static constexpr const char* kAccuracy[] = {"", "2", " 1 ", "0", "abc", "-1", "3x", "1"};
      Add("var [#accuracy] " + Pick(kAccuracy));
    } else if (kind < 44) {
      // A variable that changes its kind between turns.
      Add("var [#" + Name() + "] " + Pick(kOddValues));
    } else if (kind < 50) {
      Label();
    } else if (kind < 56) {
      if (labels_ > 0 || Chance(50)) Add("goto <l" + std::to_string(Below(labels_ + 1)) + ">");
    } else if (kind < 60) {
      Add("var [#" + Name() + "] " + Text());
    } else if (kind < 75) {
      Add("if " + (Chance(60) ? Arithmetic() : Value()));
      Body(depth);
      if (Chance(40)) {
        Add("else");
        Body(depth);
      }
    } else if (kind < 92) {
      // A counted loop with a `show` first, and sometimes a label inside
      // that a goto elsewhere enters.
      // Whole and fractional values end loops differently (a fraction is
      // printed before the test, 0.5 as "0").
      static constexpr const char* kConditions[] = {
          "([#i]<4)", "([#i]<[#n])", "([#n]>[#i])", "([#i]<3&&[#a]!=5)", "[#c]",
          "((3-[#i])/2)", "(4-[#i])", "([#n]-[#i])"};
      Add("var [#i] " + std::string(Chance(80) ? "0" : "[#n]"));
      Add("while " + std::string(Pick(kConditions)));
      Add("{");
      Add("show turn [#i] [#a]");
      if (Chance(30)) Label();
      Block(depth + 1, 1 + Below(3));
      Add("var [#i] ([#i]+1)");
      Add("}");
    } else {
      Add("switch " + (Chance(50) ? std::string("[#a]") : Arithmetic()));
      Add("{");
      Add("case " + Pick(kNumbers));
      Add("show case one");
      Add("break");
      Add("case ([#n]+1)");
      Add("show case two");
      if (Chance(50)) Add("default");
      Add("show case other");
      Add("}");
    }
  }

  void Body(int depth) {
    Add("{");
    Block(depth + 1, 1 + Below(3));
    Add("}");
  }

  // A label is followed by a `show`, so a goto cycle always reaches the host.
  void Label() {
    Add("<l" + std::to_string(labels_++) + ">");
    Add("show at label");
  }

  std::mt19937 rng_;
  std::vector<std::string> lines_;
  uint32_t labels_ = 0;
};

void ExpectSameScript(const EngineEnvironment& env, const std::string& script) {
  const Outcome compiled = RunScript(env, script, true);
  const Outcome textual = RunScript(env, script, false);
  EXPECT_EQ(compiled.requests, textual.requests) << script;
  EXPECT_EQ(compiled.variables, textual.variables) << script;
  EXPECT_EQ(compiled.errorReported, textual.errorReported) << script;
}

void ExpectSameOutcome(int codePage, uint32_t firstSeed, int scripts) {
  TempDir home;
  EngineEnvironment env = EngineEnvironment::ForHome(home.path());
  env.codePage = &CodePage::Get(codePage);
  ExpansionLimit limit(1 << 14);
  std::size_t requests = 0;
  std::size_t errors = 0;
  for (int k = 0; k < scripts; ++k) {
    const uint32_t seed = firstSeed + static_cast<uint32_t>(k);
    const std::string script = ScriptGenerator(seed).Script();
    const Outcome compiled = RunScript(env, script, true);
    const Outcome textual = RunScript(env, script, false);
    ASSERT_EQ(compiled.requests, textual.requests) << "seed " << seed << "\n" << script;
    ASSERT_EQ(compiled.variables, textual.variables) << "seed " << seed << "\n" << script;
    ASSERT_EQ(compiled.errorReported, textual.errorReported) << "seed " << seed << "\n" << script;
    requests += textual.requests.size();
    errors += textual.errorReported;
  }
  // The scripts do run (not all end on the first statement) and some of
  // them reach the errors the textual path reports.
  EXPECT_GT(requests, static_cast<std::size_t>(scripts) * 5);
  EXPECT_GT(errors, 0u);
}

TEST(CompiledStatementTest, GeneratedScriptsGiveTheTextualResultsInUtf8) {
  ExpectSameOutcome(65001, 1, 600);
}

TEST(CompiledStatementTest, GeneratedScriptsGiveTheTextualResultsInGbk) {
  ExpectSameOutcome(936, 100001, 300);
}

// Every odd value in every reading text, on the second turn of a loop (the
// first turn a statement is prepared on), in both code pages.
TEST(CompiledStatementTest, EveryOddValueInEveryReadingText) {
  for (const int codePage : {65001, 936}) {
    TempDir home;
    EngineEnvironment env = EngineEnvironment::ForHome(home.path());
    env.codePage = &CodePage::Get(codePage);
    ExpansionLimit limit(1 << 12);
    for (const char* value : kOddValues) {
      for (const char* form : kForms) {
        const std::string v(value);
        const std::string f(form);
        ExpectSameScript(env, "var [#n] 5\r\nvar [#k] 0\r\nwhile ([#k]<2)\r\n{\r\n"
                              "var [#a] " + v + "\r\nvar [#b] 2\r\nvar [#c] " + v + "\r\n"
                              "show " + f + "\r\nvar [#x] " + f + "\r\nvar [#k] ([#k]+1)\r\n}\r\n");
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

// The headline loop and the forms next to it, with the results spelled out:
// both paths must also be right, not only equal.
TEST(CompiledStatementTest, LoopsCountAndFormatAsTheTextualPath) {
  TempDir home;
  const EngineEnvironment env = EngineEnvironment::ForHome(home.path());
  const std::string script =
      "var [#n] 0\r\nwhile ([#n]<1000)\r\n{\r\nvar [#n] ([#n]+1)\r\n}\r\n"
      "var [#x] 0\r\nvar [#k] 0\r\nwhile ([#k]<3)\r\n{\r\nvar [#accuracy] 2\r\n"
      "var [#x] ([#x]-0.5)\r\nshow [#x]:[#k]\r\nvar [#accuracy]\r\nvar [#k] ([#k]+1)\r\n}\r\n"
      "var [#s] a\r\nvar [#k] 0\r\nwhile ([#k]<3)\r\n{\r\n"
      "var [#s] [#s]b\r\nvar [#k] ([#k]+1)\r\n}\r\nshow [#n] [#s] [#k]\r\n";
  for (const bool compiled : {true, false}) {
    const Outcome outcome = RunScript(env, script, compiled);
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {REQ_SHOW, "-0.50:0"},     {REQ_SHOW, "-1.00:1"}, {REQ_SHOW, "-1.50:2"},
        {REQ_SHOW, "1000 abbb 3"}, {REQ_STATE, "exit"}};
    EXPECT_EQ(outcome.requests, expected) << (compiled ? "prepared" : "textual");
  }
}

}  // namespace
}  // namespace velmar

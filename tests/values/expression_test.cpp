#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/script_fixture.h"
#include "values/expression_evaluator.h"

namespace velmar {
namespace {

using testing::ScriptFixture;

TEST(Expression, PrecedenceAndAssociativity) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("(1+2*3)"), "7");
  EXPECT_EQ(f.Expand("((1+2)*3)"), "9");
  EXPECT_EQ(f.Expand("(10-4-3)"), "3");
  EXPECT_EQ(f.Expand("(8/4/2)"), "1");
  EXPECT_EQ(f.Expand("(2+3<4+2)"), "1");
  EXPECT_EQ(f.Expand("(1<2&&3<4)"), "1");
  EXPECT_EQ(f.Expand("(1&&0||1)"), "1");
  EXPECT_EQ(f.Expand("(0||1&&0)"), "0");  // one level, left to right
  EXPECT_EQ(f.Expand("(2>=2)"), "1");
  EXPECT_EQ(f.Expand("(3<=2)"), "0");
  EXPECT_EQ(f.Expand("(3!=3)"), "0");
  EXPECT_EQ(f.Expand("(3==3)"), "1");
  EXPECT_EQ(f.Expand("(3^4)"), "1");    // the one-character codes work too
  EXPECT_EQ(f.Expand("(1!==1)"), "0");  // "==" is rewritten before "!="
  EXPECT_EQ(f.Expand("(5/0)"), "0");
}

TEST(Expression, NumbersSignsAndSkippedBytes) {
  ScriptFixture f;
  EXPECT_EQ(f.Expand("(-2*3)"), "-6");
  EXPECT_EQ(f.Expand("(4-2)"), "2");
  EXPECT_EQ(f.Expand("((1)-2)"), "-1");
  EXPECT_EQ(f.Expand("(2*-3)"), "-6");
  EXPECT_EQ(f.Expand("(-12.5+0.5)"), "-12");
  EXPECT_EQ(f.Expand("(1 2+3)"), "15");
  EXPECT_EQ(f.Expand("(1a2)"), "12");
  EXPECT_EQ(f.Expand("(.5*4)"), "2");
  EXPECT_EQ(f.Expand("(0-0.001)"), "0");
  EXPECT_EQ(f.Expand("(-0)"), "0");
  EXPECT_EQ(f.Expand("(#1#)"), "1");
}

TEST(Expression, TextsThatDoNotEvaluateStay) {
  ScriptFixture f;
  for (const char* text :
       {"(abc)", "()", "1+2", "(1+2", "1+2)", "(+)", "(*2)", "(1+)", "(1#)", "(", ")", ""}) {
    EXPECT_EQ(f.Expand(text), text);
  }
  EXPECT_EQ(f.AlertCount(), 0u);
}

TEST(Expression, AccuracySetsTheDecimals) {
  ScriptFixture f;
  f.Var("accuracy") = "2";
  EXPECT_EQ(f.Expand("(1+2*3)"), "7.00");
  f.Var("accuracy") = " 3 ";
  EXPECT_EQ(f.Expand("(1/3)"), "0.333");
  EXPECT_EQ(f.Var("accuracy"), "3");
  EXPECT_EQ(f.Expand("(2/3)"), "0.667");
  f.Var("accuracy") = "0";
  EXPECT_EQ(f.Expand("(2.5*3)"), "8");
  f.Var("accuracy") = "-4";
  EXPECT_EQ(f.Expand("(1/4)"), "0");
  f.Var("accuracy") = "text";
  EXPECT_EQ(f.Expand("(7/2)"), "4");
  f.Var("accuracy") = "1000";
  const std::string wide = f.Expand("(1/8)");
  ASSERT_EQ(wide.size(), 1002u);
  EXPECT_EQ(wide.substr(0, 6), "0.1250");
  EXPECT_EQ(wide.find_first_not_of('0', 5), std::string::npos);
  f.Var("accuracy") = "99999999999999999999";
  EXPECT_EQ(f.Expand("(1)").size(), 2u + kMaxAccuracy);
}

TEST(Expression, HugeInputs) {
  ScriptFixture f;
  std::string sum = "(";
  for (int i = 0; i < 500000; ++i) sum += "1+";
  sum += "1)";
  EXPECT_EQ(f.Expand(sum), "500001");

  std::string nested = std::string(200000, '(') + "7" + std::string(200000, ')');
  EXPECT_EQ(f.Expand(nested), "7");

  EXPECT_EQ(f.Expand("(" + std::string(5000, '9') + ")"), "inf");
  EXPECT_EQ(f.Expand("(" + std::string(5000, '9') + "-" + std::string(5000, '9') + ")"), "nan");
  EXPECT_EQ(f.Expand("(1." + std::string(5000, '9') + ")"), "2");
  std::string twenty = "(1" + std::string(20, '0') + ")";
  EXPECT_EQ(f.Expand(twenty), "100000000000000000000");
}

// A compiled expression with numbers written in for its leaves gives what
// the evaluator gives for the whole text, bit for bit; and it refuses the
// shapes where a leaf would join a number or turn a minus around.
TEST(Expression, CompiledStepsMatchTheEvaluatorForPlainNumberLeaves) {
  static constexpr const char* kPieces[] = {"1",  "2.5", "-",  "+",  "*",  "/",  "<",  ">=",
                                            "==", "!=",  "&&", "||", "(",  ")",  " ",  ".",
                                            "x",  "0",   "-(", ")-", "7",  "{",  "^",  "#"};
  static constexpr const char* kLeaves[] = {"0",  "1",     "7",    "-3",    "12.5", "-0",
                                            "10", "0.125", "-1.5", "99999", "3",    "2"};
  std::mt19937 rng(7);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  int compiled = 0;
  for (int k = 0; k < 20000; ++k) {
    std::vector<std::string> literals;
    const uint32_t leaves = below(4);
    for (uint32_t j = 0; j <= leaves; ++j) {
      std::string literal;
      for (uint32_t m = below(4); m > 0; --m) literal += kPieces[below(std::size(kPieces))];
      literals.push_back(literal);
    }
    literals.front() = "(" + literals.front();
    literals.back() += ")";
    const std::vector<std::string_view> views(literals.begin(), literals.end());
    ArithmeticProgram program;
    if (!CompileArithmetic(views, program)) continue;
    ASSERT_EQ(program.leafCount, leaves);
    ++compiled;
    for (int trial = 0; trial < 3; ++trial) {
      std::string text = literals[0];
      std::vector<LeafNumber> numbers(leaves);
      for (uint32_t j = 0; j < leaves; ++j) {
        const char* leaf = kLeaves[below(std::size(kLeaves))];
        ASSERT_TRUE(ReadPlainNumber(leaf, numbers[j]));
        text += leaf;
        text += literals[j + 1];
      }
      double expected = 0;
      ASSERT_TRUE(EvaluateArithmetic(text, expected)) << text;
      const double got = RunArithmetic(program, numbers.data());
      EXPECT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(expected)) << text;
    }
  }
  EXPECT_GT(compiled, 1000);
  LeafNumber n;
  for (const char* odd : {"", "-", "1.", ".5", "1e3", " 1", "1 ", "--1", "1.2.3", "+1"}) {
    EXPECT_FALSE(ReadPlainNumber(odd, n)) << odd;
  }
  ArithmeticProgram program;
  for (const auto& shape : std::vector<std::vector<std::string_view>>{
           {"(1", ")"}, {"(", ".5)"}, {"(", "", ")"}, {"(1 ", ")"}, {"((2)", ")"}}) {
    EXPECT_FALSE(CompileArithmetic(shape, program)) << shape[0] << "|" << shape[1];
  }
  EXPECT_TRUE(CompileArithmetic({"(", ")"}, program));
}

}  // namespace
}  // namespace velmar

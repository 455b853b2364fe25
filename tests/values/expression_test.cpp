#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velmar

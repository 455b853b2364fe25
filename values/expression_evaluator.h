#pragma once
// The arithmetic of parenthesised statement arguments such as `([#n]+1)`:
// numbers, + - * /, comparisons and && || on doubles with an operator stack,
// and the fixed-point printing of the result.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

// Largest number of decimals printed; `accuracy` above it prints this many.
// A double has no non-zero decimal past the 1074th, so only padding is lost.
constexpr int kMaxAccuracy = 4096;

// Evaluates a text whose first byte is `(` and last byte is `)`. Returns
// false when it does not evaluate (no value, or an operator short of values),
// in which case the caller leaves the text as it was.
bool EvaluateArithmetic(std::string_view expression, double& result);

// An expression text cut at its numbers that change between evaluations
// (the "leaves", such as the values of variable references), turned into the
// steps the evaluator takes on its value stack. The steps depend only on the
// fixed text as long as every leaf is a plain number that neither joins
// another number nor changes what a minus means next to it; CompileArithmetic
// refuses texts where that could happen.
struct ArithmeticProgram {
  enum class Kind : uint8_t {
    kConstant,      // push `constant`
    kLeaf,          // push leaf `leaf` with its own sign
    kNegativeLeaf,  // push leaf `leaf` negated whatever its own sign (a pending unary minus)
    kApply,         // pop b, replace the top a by `a op b`
  };
  struct Step {
    Kind kind = Kind::kConstant;
    char op = 0;
    uint32_t leaf = 0;
    double constant = 0;
  };
  std::vector<Step> steps;
  std::size_t leafCount = 0;
  std::size_t stackSize = 0;  // largest value stack, the placeholder included
};

// A leaf's number as the evaluator reads it: magnitude and sign.
struct LeafNumber {
  double magnitude = 0;
  bool negative = false;
};

// Reads a plain number, `-`? digits (`.` digits)?, with the evaluator's own
// arithmetic; false for any other text.
bool ReadPlainNumber(std::string_view text, LeafNumber& number);

// Compiles the text literals[0] leaf literals[1] leaf ... literals[n], which
// must start with `(` and end with `)`. False when the text does not
// evaluate, or when some leaf value could change the steps.
bool CompileArithmetic(const std::vector<std::string_view>& literals, ArithmeticProgram& program);

// The result of a compiled expression for these leaves (leafCount of them):
// what EvaluateArithmetic gives for the text with the leaves written in.
double RunArithmetic(const ArithmeticProgram& program, const LeafNumber* leaves);

// Prints the value in fixed-point notation rounded to the nearest with the
// given number of decimals (none and no decimal point for 0). A result that
// rounds to zero prints without a minus sign, so `(0-0.001)` gives "0" that
// conditions take as false.
void FormatFixed(double value, int decimals, std::string& out);

}  // namespace velmar

#pragma once
// The arithmetic of parenthesised statement arguments such as `([#n]+1)`:
// numbers, + - * /, comparisons and && || on doubles with an operator stack,
// and the fixed-point printing of the result.

#include <string>
#include <string_view>

namespace velmar {

// Largest number of decimals printed; `accuracy` above it prints this many.
// A double has no non-zero decimal past the 1074th, so only padding is lost.
constexpr int kMaxAccuracy = 4096;

// Evaluates a text whose first byte is `(` and last byte is `)`. Returns
// false when it does not evaluate (no value, or an operator short of values),
// in which case the caller leaves the text as it was.
bool EvaluateArithmetic(std::string_view expression, double& result);

// Prints the value in fixed-point notation rounded to the nearest with the
// given number of decimals (none and no decimal point for 0). A result that
// rounds to zero prints without a minus sign, so `(0-0.001)` gives "0" that
// conditions take as false.
void FormatFixed(double value, int decimals, std::string& out);

}  // namespace velmar

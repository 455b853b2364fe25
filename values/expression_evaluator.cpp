#include "values/expression_evaluator.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace velmar {

namespace {

// Two-character operators become one-character codes, one kind after the
// other over the whole text, in this order; so the codes are accepted in
// scripts as well.
constexpr std::string_view kOperatorCodes[][2] = {{">=", "}"}, {"<=", "{"}, {"==", "="},
                                                  {"!=", "^"}, {"||", "|"}, {"&&", "&"}};

void ReplacePairs(std::string& text, std::string& scratch) {
  for (const auto& code : kOperatorCodes) {
    const std::string_view from = code[0];
    if (text.find(from) == std::string::npos) continue;
    scratch.clear();
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string::npos;) {
      scratch.append(text, pos, hit - pos);
      scratch.append(code[1]);
      pos = hit + from.size();
    }
    scratch.append(text, pos, std::string::npos);
    text.swap(scratch);
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsOperator(char c) {
  switch (c) {
    case '+':
    case '-':
    case '*':
    case '/':
    case '(':
    case ')':
    case '<':
    case '>':
    case '=':
    case '^':
    case '{':
    case '}':
    case '|':
    case '&':
    case '#':
      return true;
    default:
      return false;
  }
}

// Binding level of an operator on the stack: higher binds tighter.
int Level(char op) {
  switch (op) {
    case '*':
    case '/':
      return 4;
    case '+':
    case '-':
      return 3;
    case '<':
    case '>':
    case '=':
    case '^':
    case '{':
    case '}':
      return 2;
    case '&':
    case '|':
      return 1;
    default:
      return 0;
  }
}

enum class Step { kPush, kReduce, kMatch, kFail };

Step Decide(char top, char incoming) {
  if (top == '#') return incoming == '#' ? Step::kMatch : Step::kPush;
  if (top == '(') return incoming == ')' ? Step::kMatch : Step::kPush;
  const int level = Level(top);
  // Only a `#` matched away inside the text can leave a `)` on the stack.
  if (level == 0) return Step::kFail;
  if (incoming == '(') return Step::kPush;
  return Level(incoming) > level ? Step::kPush : Step::kReduce;
}

double Apply(char op, double a, double b) {
  switch (op) {
    case '+':
      return a + b;
    case '-':
      return a - b;
    case '*':
      return a * b;
    case '/':
      return b == 0 ? 0 : a / b;
    case '<':
      return a < b;
    case '>':
      return a > b;
    case '=':
      return a == b;
    case '^':
      return a != b;
    case '{':
      return a <= b;
    case '}':
      return a >= b;
    case '&':
      return a != 0 && b != 0;
    case '|':
      return a != 0 || b != 0;
    default:
      return 0;
  }
}

struct EvaluatorStacks {
  std::vector<double> values;
  std::vector<char> operators;
  std::string rewritten;
  std::string scratch;
};

}  // namespace

namespace {

enum class Outcome { kValue, kNoValue, kHasPairs };

// One evaluation over the text. With `checkPairs`, meeting a byte that may
// belong to a two-character operator stops it, so that texts without any
// skip the rewriting.
Outcome Run(EvaluatorStacks& s, std::string_view text, bool checkPairs, double& result) {
  auto& values = s.values;
  auto& ops = s.operators;
  values.clear();
  ops.clear();
  values.push_back(0);  // placeholder below all real values
  ops.push_back('#');

  char prev = 0;  // previous accepted character
  bool negativeNext = false;
  bool negative = false;  // sign of the number being read
  bool fraction = false;
  double magnitude = 0;
  double divisor = 1;

  auto applyOperator = [&](char c) {
    for (;;) {
      if (ops.empty()) return false;
      const char top = ops.back();
      switch (Decide(top, c)) {
        case Step::kPush:
          ops.push_back(c);
          return true;
        case Step::kMatch:
          ops.pop_back();
          return true;
        case Step::kFail:
          return false;
        case Step::kReduce: {
          if (values.size() < 3) return false;
          const double b = values.back();
          values.pop_back();
          values.back() = Apply(top, values.back(), b);
          ops.pop_back();
          break;
        }
      }
    }
  };

  for (const char c : text) {
    if (IsDigit(c)) {
      const int d = c - '0';
      if (IsDigit(prev) || prev == '.') {
        if (fraction) {
          divisor *= 10;
          magnitude += d / divisor;
        } else {
          magnitude = magnitude * 10 + d;
        }
        values.back() = negative ? -magnitude : magnitude;
      } else {
        negative = negativeNext;
        negativeNext = false;
        fraction = false;
        divisor = 1;
        magnitude = d;
        values.push_back(negative ? -magnitude : magnitude);
      }
      prev = c;
    } else if (c == '.') {
      // A full stop with no digits before it starts a number of its own, so
      // `.5` reads as 0.5.
      if (!IsDigit(prev) && prev != '.') {
        negative = negativeNext;
        negativeNext = false;
        divisor = 1;
        magnitude = 0;
        values.push_back(negative ? -0.0 : 0.0);
      }
      fraction = true;
      prev = c;
    } else if (c == '-' && prev != ')' && !IsDigit(prev)) {
      negativeNext = true;
      prev = c;
    } else if (IsOperator(c)) {
      if (checkPairs && (c == '=' || c == '|' || c == '&')) return Outcome::kHasPairs;
      fraction = false;
      if (!applyOperator(c)) return Outcome::kNoValue;
      prev = c;
    }
  }
  if (!applyOperator('#') || values.size() < 2) return Outcome::kNoValue;
  result = values.back();
  return Outcome::kValue;
}

}  // namespace

bool EvaluateArithmetic(std::string_view expression, double& result) {
  // Per thread, so the hot loop of a script reuses its buffers.
  thread_local EvaluatorStacks s;
  Outcome outcome = Run(s, expression, true, result);
  if (outcome == Outcome::kHasPairs) {
    s.rewritten.assign(expression);
    ReplacePairs(s.rewritten, s.scratch);
    outcome = Run(s, s.rewritten, false, result);
  }
  // A megabyte expression leaves megabyte stacks; do not keep them.
  constexpr std::size_t kKeep = 1 << 16;
  if (s.values.capacity() > kKeep) std::vector<double>().swap(s.values);
  if (s.operators.capacity() > kKeep) std::vector<char>().swap(s.operators);
  if (s.rewritten.capacity() > kKeep) std::string().swap(s.rewritten);
  if (s.scratch.capacity() > kKeep) std::string().swap(s.scratch);
  return outcome == Outcome::kValue;
}

void FormatFixed(double value, int decimals, std::string& out) {
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxAccuracy) decimals = kMaxAccuracy;
  // Whole numbers without decimals, the common case, print exactly as integers.
  if (decimals == 0 && value > -1e15 && value < 1e15 && value == std::trunc(value)) {
    char digits[24];
    const auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, static_cast<long long>(value) + 0);
    out.assign(digits, static_cast<std::size_t>(end - digits));
    return;
  }
  // 309 integer digits at most, a sign, a point, and the decimals.
  constexpr std::size_t kIntegerRoom = 320;
  char local[kIntegerRoom + 64];
  thread_local std::string wide;
  char* first = local;
  std::size_t room = sizeof local;
  if (static_cast<std::size_t>(decimals) + kIntegerRoom > room) {
    wide.resize(static_cast<std::size_t>(decimals) + kIntegerRoom);
    first = wide.data();
    room = wide.size();
  }
  const auto [end, ec] =
      std::to_chars(first, first + room, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) {
    out.assign("0");
    return;
  }
  std::string_view printed(first, static_cast<std::size_t>(end - first));
  if (std::isnan(value)) {
    printed = "nan";
  } else if (std::isfinite(value) && printed.front() == '-' &&
             printed.find_first_of("123456789") == std::string_view::npos) {
    printed.remove_prefix(1);  // -0 and -0.00
  }
  out.assign(printed);
}

}  // namespace velmar

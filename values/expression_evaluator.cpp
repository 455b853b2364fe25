#include "values/expression_evaluator.h"

#include <charconv>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
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

[[gnu::always_inline]] inline double Apply(char op, double a, double b) {
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

// The one scan of an expression's bytes, shared by the evaluation of a text
// (Run) and its compilation into steps (CompileArithmetic), so the two can
// never read a number, a minus or an operator differently. What happens to
// values is the sink's:
//   PushNumber(v)   a number starts with the value v
//   SetNumber(v)    the number being read now has the value v
//   Reduce(op)      apply op to the two top values; false when there are
//                   not two
//   NumberMayGoOn() false refuses a digit or full stop here
//   OnOperator(c)   may stop the scan before the operator c is taken
enum class ScanStop { kNone, kFail, kPairs };

struct ScanState {
  explicit ScanState(std::vector<char>& operators) : ops(operators) {}
  std::vector<char>& ops;
  char prev = 0;  // previous accepted character
  bool negativeNext = false;
  bool negative = false;  // sign of the number being read
  bool fraction = false;
  double magnitude = 0;
  double divisor = 1;
};

template <typename Sink>
[[gnu::always_inline]] inline bool ApplyOperator(std::vector<char>& ops, char c, Sink& sink) {
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
      case Step::kReduce:
        if (!sink.Reduce(top)) return false;
        ops.pop_back();
        break;
    }
  }
}

template <typename Sink>
[[gnu::always_inline]] inline ScanStop ScanByte(ScanState& st, char c, Sink& sink) {
  if (IsDigit(c)) {
    if (!sink.NumberMayGoOn()) return ScanStop::kFail;
    const int d = c - '0';
    if (IsDigit(st.prev) || st.prev == '.') {
      if (st.fraction) {
        st.divisor *= 10;
        st.magnitude += d / st.divisor;
      } else {
        st.magnitude = st.magnitude * 10 + d;
      }
      sink.SetNumber(st.negative ? -st.magnitude : st.magnitude);
    } else {
      st.negative = st.negativeNext;
      st.negativeNext = false;
      st.fraction = false;
      st.divisor = 1;
      st.magnitude = d;
      sink.PushNumber(st.negative ? -st.magnitude : st.magnitude);
    }
    st.prev = c;
  } else if (c == '.') {
    if (!sink.NumberMayGoOn()) return ScanStop::kFail;
    // A full stop with no digits before it starts a number of its own, so
    // `.5` reads as 0.5.
    if (!IsDigit(st.prev) && st.prev != '.') {
      st.negative = st.negativeNext;
      st.negativeNext = false;
      st.divisor = 1;
      st.magnitude = 0;
      sink.PushNumber(st.negative ? -0.0 : 0.0);
    }
    st.fraction = true;
    st.prev = c;
  } else if (c == '-' && st.prev != ')' && !IsDigit(st.prev)) {
    st.negativeNext = true;
    st.prev = c;
  } else if (IsOperator(c)) {
    const ScanStop stop = sink.OnOperator(c);
    if (stop != ScanStop::kNone) return stop;
    st.fraction = false;
    if (!ApplyOperator(st.ops, c, sink)) return ScanStop::kFail;
    st.prev = c;
  }
  return ScanStop::kNone;
}

// Evaluation: the values on a stack.
struct ValueSink {
  std::vector<double>& values;
  bool checkPairs;
  void PushNumber(double v) { values.push_back(v); }
  void SetNumber(double v) { values.back() = v; }
  bool Reduce(char op) {
    if (values.size() < 3) return false;
    const double b = values.back();
    values.pop_back();
    values.back() = Apply(op, values.back(), b);
    return true;
  }
  static bool NumberMayGoOn() { return true; }
  ScanStop OnOperator(char c) const {
    return checkPairs && (c == '=' || c == '|' || c == '&') ? ScanStop::kPairs : ScanStop::kNone;
  }
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

  ScanState st(ops);
  ValueSink sink{values, checkPairs};
  for (const char c : text) {
    const ScanStop stop = ScanByte(st, c, sink);
    if (stop == ScanStop::kPairs) return Outcome::kHasPairs;
    if (stop == ScanStop::kFail) return Outcome::kNoValue;
  }
  if (!ApplyOperator(ops, '#', sink) || values.size() < 2) return Outcome::kNoValue;
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

bool ReadPlainNumber(std::string_view text, LeafNumber& number) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  number.negative = n > 0 && text[0] == '-';
  if (number.negative) ++i;
  if (i >= n || !IsDigit(text[i])) return false;
  // The same operations in the same order as the evaluator's scan, so that
  // the double is the one the scan would build.
  // Up to 15 digits every step of `magnitude * 10 + digit` is an exact
  // whole number below 2^53, so whole-number arithmetic gives the same double.
  const std::size_t digitsFrom = i;
  uint64_t whole = 0;
  while (i < n && i - digitsFrom < 15 && IsDigit(text[i])) whole = whole * 10 + (text[i++] - '0');
  double magnitude = static_cast<double>(whole);
  for (; i < n && IsDigit(text[i]); ++i) magnitude = magnitude * 10 + (text[i] - '0');
  if (i < n) {
    if (text[i] != '.' || i + 1 >= n) return false;
    double divisor = 1;
    for (++i; i < n; ++i) {
      if (!IsDigit(text[i])) return false;
      divisor *= 10;
      magnitude += (text[i] - '0') / divisor;
    }
  }
  number.magnitude = magnitude;
  return true;
}

bool CompileArithmetic(const std::vector<std::string_view>& literals, ArithmeticProgram& program) {
  using Kind = ArithmeticProgram::Kind;
  program = ArithmeticProgram{};
  if (literals.empty() || literals.front().empty() || literals.front().front() != '(' ||
      literals.back().empty() || literals.back().back() != ')') {
    return false;
  }
  // A leaf holds none of the bytes of the two-character operators, so none
  // spans a leaf and each literal can be rewritten on its own.
  std::vector<std::string> pieces;
  std::string scratch;
  for (const std::string_view literal : literals) {
    pieces.emplace_back(literal);
    ReplacePairs(pieces.back(), scratch);
  }

  // The evaluator's scan (Run above) with the value stack kept as a depth
  // and every change to it written down as a step.
  struct StepSink {
    std::vector<ArithmeticProgram::Step>& steps;
    std::size_t depth = 1;  // the placeholder
    std::size_t deepest = 1;
    std::size_t number = 0;  // the constant step being read
    bool afterLeaf = false;  // no number may go on where a leaf ended

    void Push(ArithmeticProgram::Step step) {
      steps.push_back(step);
      deepest = std::max(deepest, ++depth);
    }
    void PushNumber(double v) {
      number = steps.size();
      Push({Kind::kConstant, 0, 0, v});
    }
    void SetNumber(double v) { steps[number].constant = v; }
    bool Reduce(char op) {
      if (depth < 3) return false;
      steps.push_back({Kind::kApply, op, 0, 0});
      --depth;
      return true;
    }
    bool NumberMayGoOn() const { return !afterLeaf; }
    ScanStop OnOperator(char) {
      afterLeaf = false;
      return ScanStop::kNone;
    }
  };
  std::vector<char> ops{'#'};
  ScanState st(ops);
  StepSink sink{program.steps};

  for (std::size_t k = 0; k < pieces.size(); ++k) {
    if (k > 0) {
      // A leaf after a digit or full stop would join that number, and a
      // leading minus after `)` would subtract instead of negating.
      if (IsDigit(st.prev) || st.prev == '.' || st.prev == ')') return false;
      sink.Push({st.negativeNext ? Kind::kNegativeLeaf : Kind::kLeaf, 0,
                 static_cast<uint32_t>(k - 1), 0});
      st.negativeNext = false;
      st.prev = '0';  // a plain number ends in a digit
      sink.afterLeaf = true;
    }
    for (const char c : pieces[k]) {
      if (ScanByte(st, c, sink) != ScanStop::kNone) return false;
    }
  }
  if (!ApplyOperator(ops, '#', sink) || sink.depth < 2) return false;
  program.leafCount = pieces.size() - 1;
  program.stackSize = sink.deepest;
  return true;
}

double RunArithmetic(const ArithmeticProgram& program, const LeafNumber* leaves) {
  using Kind = ArithmeticProgram::Kind;
  const std::vector<ArithmeticProgram::Step>& steps = program.steps;
  auto operand = [&](const ArithmeticProgram::Step& step) {
    if (step.kind == Kind::kConstant) return step.constant;
    const LeafNumber& leaf = leaves[step.leaf];
    return leaf.negative || step.kind == Kind::kNegativeLeaf ? -leaf.magnitude : leaf.magnitude;
  };
  // The common forms, `[#n]+1` and a lone value, without a stack.
  if (steps.size() == 3 && steps[2].kind == Kind::kApply && steps[0].kind != Kind::kApply &&
      steps[1].kind != Kind::kApply) {
    return Apply(steps[2].op, operand(steps[0]), operand(steps[1]));
  }
  if (steps.size() == 1) return operand(steps[0]);
  double local[32];
  std::unique_ptr<double[]> wide;
  double* stack = local;
  if (program.stackSize > std::size(local)) {
    wide = std::make_unique<double[]>(program.stackSize);
    stack = wide.get();
  }
  std::size_t top = 0;
  stack[0] = 0;
  for (const ArithmeticProgram::Step& step : steps) {
    switch (step.kind) {
      case Kind::kConstant:
        stack[++top] = step.constant;
        break;
      case Kind::kLeaf: {
        const LeafNumber& leaf = leaves[step.leaf];
        stack[++top] = leaf.negative ? -leaf.magnitude : leaf.magnitude;
        break;
      }
      case Kind::kNegativeLeaf:
        stack[++top] = -leaves[step.leaf].magnitude;
        break;
      case Kind::kApply: {
        const double b = stack[top--];
        stack[top] = Apply(step.op, stack[top], b);
        break;
      }
    }
  }
  return stack[top];
}

void FormatFixed(double value, int decimals, std::string& out) {
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxAccuracy) decimals = kMaxAccuracy;
  // Whole numbers without decimals, the common case, print exactly as integers.
  if (decimals == 0 && value > -1e15 && value < 1e15) {
    const long long whole = static_cast<long long>(value);
    if (value == static_cast<double>(whole)) {
      char digits[24];
      char* const end = digits + sizeof digits;
      char* first = end;
      unsigned long long rest = whole < 0 ? 0ULL - static_cast<unsigned long long>(whole)
                                          : static_cast<unsigned long long>(whole);
      static constexpr char kPairs[] =
          "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
          "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
          "8081828384858687888990919293949596979899";
      while (rest >= 100) {
        const unsigned pair = static_cast<unsigned>(rest % 100) * 2;
        rest /= 100;
        *--first = kPairs[pair + 1];
        *--first = kPairs[pair];
      }
      if (rest >= 10) {
        const unsigned pair = static_cast<unsigned>(rest) * 2;
        *--first = kPairs[pair + 1];
        *--first = kPairs[pair];
      } else {
        *--first = static_cast<char>('0' + rest);
      }
      if (whole < 0) *--first = '-';
      out.assign(first, static_cast<std::size_t>(end - first));
      return;
    }
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

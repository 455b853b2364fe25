// Pattern to instruction list. The parser is recursive descent over the
// lower-cased pattern; nesting is bounded so a hostile pattern cannot exhaust
// the thread's stack, and the instruction list is bounded so `+` (which copies
// its operand) cannot blow up under deep nesting.

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

#include "regex/reg_exp.h"

namespace velmar {
namespace {

constexpr int kMaxDepth = 1000;
constexpr std::size_t kMaxInstructions = std::size_t{1} << 22;
constexpr std::size_t kMaxGroups = 1 << 20;
constexpr std::size_t kMaxPrefix = 16;
constexpr std::size_t kMaxGuardText = 8;

using Op = RegExpOp;

char16_t LowerUnit(char16_t u) {
  return (u >= 'A' && u <= 'Z') ? static_cast<char16_t>(u + 32) : u;
}

// The abbreviations behind `\` + letter, written as patterns of the dialect.
std::u16string_view Abbreviation(char16_t letter) {
  switch (letter) {
    case 'a':
      return u"([a-zA-Z0-9])";
    case 'b':
      return u"([ \t])";
    case 'c':
      return u"([a-zA-Z])";
    case 'd':
      return u"([0-9])";
    case 'h':
      return u"([0-9a-fA-F])";
    case 'n':
      return u"(\r|(\r?\n))";
    case 'q':
      return u"(\"[^\"]*\")|('[^']*')";
    case 'w':
      return u"([a-zA-Z]+)";
    case 'z':
      return u"([0-9]+)";
    default:
      return {};
  }
}

// Units a match of some piece can start with, in lower-case terms.
struct FirstSet {
  std::bitset<256> bits;
  bool high = false;
  bool all = false;
  void Merge(const FirstSet& o) {
    bits |= o.bits;
    high = high || o.high;
    all = all || o.all;
  }
};

struct Info {
  bool empty = true;       // able to match empty, for the repetition rule
  bool zeroWidth = true;   // may consume nothing, for the start analysis
  uint32_t minLength = 0;  // fewest units a match takes
  FirstSet first;
};

uint32_t AddLengths(uint32_t a, uint32_t b) {
  return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

bool IsUnitAtom(const RegExpInstruction& in) {
  return (in.op == Op::kSymbol && in.operand != 0) || in.op == Op::kAny || in.op == Op::kClass;
}

class Compiler {
 public:
  explicit Compiler(RegExpProgram& program) : prog_(program), code_(program.instructions) {}

  RegExpError Run(std::u16string_view pattern) {
    std::size_t nul = pattern.find(u'\0');
    if (nul != std::u16string_view::npos) pattern = pattern.substr(0, nul);
    lowered_.assign(pattern);
    for (auto& u : lowered_) u = LowerUnit(u);
    src_ = lowered_;
    pos_ = 0;

    Emit(Op::kCall, 0);
    if (!src_.empty() && src_[0] == '^') {
      prog_.anchored = true;
      Emit(Op::kFail);
      pos_ = 1;
    } else {
      Emit(Op::kAdvance);
    }
    Info seq = ParseSequence(true);
    if (error_ == RegExpError::kNone) {
      code_[0].operand = 2;
      Emit(Op::kAccept);
    }
    if (error_ == RegExpError::kNone) Finish(seq);
    return error_;
  }

 private:
  std::size_t Emit(Op op, int32_t operand = 0) {
    if (code_.size() >= kMaxInstructions) {
      Fail(RegExpError::kOutOfMemory);
      return 0;
    }
    RegExpInstruction in;
    in.op = op;
    in.operand = operand;
    code_.push_back(in);
    return code_.size() - 1;
  }

  bool Failed() const { return error_ != RegExpError::kNone; }
  // Refuses the pattern: the first refusal counts, with the offset in the
  // pattern where it was found (the current one unless given). Inside an
  // abbreviation's expansion the offset is the abbreviation's own `\`.
  void Fail(RegExpError code) { Fail(code, pos_); }
  void Fail(RegExpError code, std::size_t at) {
    if (error_ != RegExpError::kNone) return;
    error_ = code;
    errorAt_ = inAbbreviation_ ? abbreviationAt_ : at;
  }

 public:
  std::size_t errorOffset() const { return errorAt_; }

 private:

  char16_t Peek() const { return pos_ < src_.size() ? src_[pos_] : 0; }
  bool AtEnd() const { return pos_ >= src_.size(); }

  static bool HasTarget(Op op) { return op == Op::kJump || op == Op::kCall; }

  // Opens `count` instructions at `at`; the moved code keeps its own jumps.
  void Insert(std::size_t at, std::size_t count) {
    if (code_.size() + count > kMaxInstructions) {
      Fail(RegExpError::kOutOfMemory);
      return;
    }
    code_.insert(code_.begin() + static_cast<std::ptrdiff_t>(at), count, RegExpInstruction{});
    for (std::size_t i = at + count; i < code_.size(); ++i) {
      if (HasTarget(code_[i].op) && code_[i].operand >= static_cast<int32_t>(at)) {
        code_[i].operand += static_cast<int32_t>(count);
      }
    }
  }

  void Set(std::size_t at, Op op, int32_t operand = 0) {
    code_[at] = RegExpInstruction{};
    code_[at].op = op;
    code_[at].operand = operand;
  }

  int32_t NewSlot() { return prog_.slotCount++; }

  // Sequence: alternation units one after the other, up to the end of the
  // pattern or a closing character.
  Info ParseSequence(bool topLevel) {
    Info seq;
    bool accumulating = true;
    while (error_ == RegExpError::kNone) {
      const std::size_t start = code_.size();
      Info unit;
      if (!ParseAlternation(unit)) break;
      if (Failed()) break;
      seq.empty = seq.empty && unit.empty;
      seq.minLength = AddLengths(seq.minLength, unit.minLength);
      if (accumulating) {
        seq.first.Merge(unit.first);
        if (!unit.zeroWidth) {
          accumulating = false;
          seq.zeroWidth = false;
        }
      }
      if (topLevel && code_.size() > start) {
        const RegExpInstruction& in = code_[start];
        if (code_.size() == start + 1 && in.op == Op::kSymbol && in.operand != 0) {
          required_ = static_cast<char16_t>(in.operand);
        } else if (code_.size() == start + 2 && in.op == Op::kRepeatGreedy && in.min == 1 &&
                   in.unit == Op::kSymbol) {
          required_ = static_cast<char16_t>(in.operand);
        }
      }
    }
    return seq;
  }

  // X|Y|Z...: each alternative is wrapped so that, when everything after it
  // fails, the position is restored and the next one is tried.
  bool ParseAlternation(Info& out) {
    std::size_t xStart = code_.size();
    Info x;
    if (!ParseQuantified(x)) return false;
    out = x;
    if (Failed() || Peek() != '|') return true;
    std::vector<std::size_t> jumpsToEnd;
    while (error_ == RegExpError::kNone && Peek() == '|') {
      ++pos_;
      const RegExpInstruction head = xStart < code_.size() ? code_[xStart] : RegExpInstruction{};
      const bool guard = (head.op == Op::kSymbol && head.operand != 0) || head.op == Op::kClass;
      const std::size_t w = guard ? 1 : 0;
      Insert(xStart, 4 + w);
      if (Failed()) return true;
      if (guard && head.op == Op::kClass) {
        Set(xStart, Op::kGuardClass, head.operand);
      } else if (guard) {
        std::u16string literal;
        for (std::size_t i = xStart + 4 + w; i < code_.size() && literal.size() < kMaxGuardText;
             ++i) {
          if (code_[i].op != Op::kSymbol || code_[i].operand == 0) break;
          literal.push_back(static_cast<char16_t>(code_[i].operand));
        }
        prog_.literals.push_back(std::move(literal));
        Set(xStart, Op::kGuardText, static_cast<int32_t>(prog_.literals.size() - 1));
      }
      Set(xStart + w, Op::kPushPos);
      Set(xStart + w + 1, Op::kCall, static_cast<int32_t>(xStart + w + 4));
      Set(xStart + w + 2, Op::kPopPos);
      const std::size_t jumpY = xStart + w + 3;
      jumpsToEnd.push_back(Emit(Op::kJump));
      if (Failed()) return true;
      const std::size_t yStart = code_.size();
      Set(jumpY, Op::kJump, static_cast<int32_t>(yStart));
      Info y;
      if (!ParseQuantified(y)) {
        // `a|` at the end of a sequence: the second alternative is empty.
        out.empty = true;
        out.zeroWidth = true;
        out.minLength = 0;
        break;
      }
      out.minLength = std::min(out.minLength, y.minLength);
      out.empty = out.empty || y.empty;
      out.zeroWidth = out.zeroWidth || y.zeroWidth;
      out.first.Merge(y.first);
      xStart = yStart;
    }
    const auto end = static_cast<int32_t>(code_.size());
    for (std::size_t j : jumpsToEnd) code_[j].operand = end;
    return true;
  }

  void GreedyLoop(std::size_t aStart, bool loop) {
    const int32_t m = NewSlot();
    Insert(aStart, 7);
    if (Failed()) return;
    Set(aStart, Op::kPushSlot, m);
    Set(aStart + 1, Op::kStorePos, m);
    Set(aStart + 2, Op::kPushPos);
    Set(aStart + 3, Op::kCall, static_cast<int32_t>(aStart + 7));
    Set(aStart + 4, Op::kPopPos);
    Set(aStart + 5, Op::kPopSlot, m);
    // The slot keeps the start of this repetition until the next one saves
    // and replaces it; backtracking into A must still compare against it.
    Emit(Op::kFailIfNoProgress, m);
    if (loop) Emit(Op::kJump, static_cast<int32_t>(aStart));
    if (Failed()) return;
    Set(aStart + 6, Op::kJump, static_cast<int32_t>(code_.size()));
  }

  // The continuation is tried first; on backtracking the position it started
  // from is restored before one more repetition is taken.
  void LazyLoop(std::size_t aStart, bool loop) {
    Insert(aStart, 3);
    if (Failed()) return;
    Set(aStart, Op::kPushPos);
    Set(aStart + 2, Op::kPopPos);
    if (loop) Emit(Op::kJump, static_cast<int32_t>(aStart));
    if (Failed()) return;
    Set(aStart + 1, Op::kCall, static_cast<int32_t>(code_.size()));
  }

  // A+ as one copy of A whose end loops back: the code grows with the
  // pattern, not with two to the power of its nesting. The first pass
  // through A is entered like a further one (slot saved and set, so its
  // progress check sees where this repetition started) but with no way
  // out before it: when it fails, the slot is restored and the failure
  // goes on backtracking, as with a plain A in front of A*. From its end
  // the greedy loop of GreedyLoop follows.
  void GreedyLoopOnceFirst(std::size_t aStart) {
    const int32_t m = NewSlot();
    Insert(aStart, 12);
    if (Failed()) return;
    const auto body = static_cast<int32_t>(aStart + 12);
    Set(aStart, Op::kPushSlot, m);
    Set(aStart + 1, Op::kStorePos, m);
    Set(aStart + 2, Op::kCall, body);
    Set(aStart + 3, Op::kPopSlot, m);
    Set(aStart + 4, Op::kReturn);
    const std::size_t loop = aStart + 5;
    Set(loop, Op::kPushSlot, m);
    Set(loop + 1, Op::kStorePos, m);
    Set(loop + 2, Op::kPushPos);
    Set(loop + 3, Op::kCall, body);
    Set(loop + 4, Op::kPopPos);
    Set(loop + 5, Op::kPopSlot, m);
    Emit(Op::kFailIfNoProgress, m);
    Emit(Op::kJump, static_cast<int32_t>(loop));
    if (Failed()) return;
    Set(loop + 6, Op::kJump, static_cast<int32_t>(code_.size()));
  }

  // Lazy A+: straight into the one copy of A, whose end jumps back to the
  // lazy choice of LazyLoop (the continuation first, then one more A).
  void LazyLoopOnceFirst(std::size_t aStart) {
    Insert(aStart, 4);
    if (Failed()) return;
    Set(aStart, Op::kJump, static_cast<int32_t>(aStart + 4));
    Set(aStart + 1, Op::kPushPos);
    Set(aStart + 3, Op::kPopPos);
    Emit(Op::kJump, static_cast<int32_t>(aStart + 1));
    if (Failed()) return;
    Set(aStart + 2, Op::kCall, static_cast<int32_t>(code_.size()));
  }

  bool ParseQuantified(Info& out) {
    const std::size_t aStart = code_.size();
    Info a;
    if (!ParseAtom(a)) return false;
    out = a;
    if (Failed()) return true;
    const char16_t q = Peek();
    if (q != '*' && q != '+' && q != '?') return true;
    ++pos_;
    const bool lazy = Peek() == '?';
    if (lazy) ++pos_;
    if (q != '?' && a.empty) {
      Fail(RegExpError::kEmptyRepetition, pos_ - (lazy ? 2 : 1));
      return true;
    }
    if (code_.size() == aStart + 1 && IsUnitAtom(code_[aStart])) {
      RegExpInstruction in;
      in.unit = code_[aStart].op;
      in.operand = code_[aStart].operand;
      in.min = q == '+' ? 1 : 0;
      in.flags = q == '?' ? RegExpInstruction::kOnce : 0;
      in.op = lazy ? Op::kRepeatLazy : Op::kRepeatGreedy;
      code_[aStart] = in;
      in.op = lazy ? Op::kRetryLazy : Op::kRetryGreedy;
      if (code_.size() >= kMaxInstructions) {
        Fail(RegExpError::kOutOfMemory);
        return true;
      }
      code_.push_back(in);
    } else if (q == '+') {
      if (lazy) {
        LazyLoopOnceFirst(aStart);
      } else {
        GreedyLoopOnceFirst(aStart);
      }
    } else if (lazy) {
      LazyLoop(aStart, q == '*');
    } else {
      GreedyLoop(aStart, q == '*');
    }
    if (q == '+' && !lazy) {
      out.empty = a.empty;
      out.zeroWidth = a.zeroWidth;
    } else {
      out.empty = true;
      out.zeroWidth = q != '+' || a.zeroWidth;
    }
    out.minLength = q == '+' ? a.minLength : 0;
    return true;
  }

  bool Enter() {
    if (++depth_ > kMaxDepth) {
      Fail(RegExpError::kOutOfMemory);
      return false;
    }
    return true;
  }

  bool ParseAtom(Info& out) {
    if (AtEnd()) return false;
    const char16_t c = src_[pos_];
    switch (c) {
      case ')':
      case ']':
      case '}':
        return false;
      case '{':
        ParseCapture(out);
        return true;
      case '(':
        ParseGrouping(out);
        return true;
      case '[':
        ParseClass(out);
        return true;
      case '!':
        if (pos_ + 1 >= src_.size() || src_[pos_ + 1] == ')' || src_[pos_ + 1] == ']' ||
            src_[pos_ + 1] == '}') {
          // Nothing to negate: the `!` stands for itself.
          ++pos_;
          EmitSymbol(out, '!');
          return true;
        }
        ParseNegation(out);
        return true;
      case '.':
        ++pos_;
        Emit(Op::kAny);
        out.minLength = 1;
        out.empty = false;
        out.zeroWidth = false;
        out.first.all = true;
        return true;
      case '$':
        ++pos_;
        if (!inAbbreviation_ && pos_ == src_.size()) {
          Emit(Op::kSymbol, 0);
          out.empty = false;
          out.zeroWidth = true;
        } else {
          EmitSymbol(out, '$');
        }
        return true;
      case '\\':
        return ParseEscape(out);
      default:
        ++pos_;
        EmitSymbol(out, c);
        return true;
    }
  }

  void EmitSymbol(Info& out, char16_t c) {
    Emit(Op::kSymbol, c);
    out.minLength = 1;
    out.empty = false;
    out.zeroWidth = false;
    if (c < 256) {
      out.first.bits.set(c);
    } else {
      out.first.high = true;
    }
  }

  void ParseCapture(Info& out) {
    const std::size_t open = pos_;
    ++pos_;
    if (!Enter()) return;
    if (static_cast<std::size_t>(prog_.groupCount) >= kMaxGroups) {
      Fail(RegExpError::kOutOfMemory);
      return;
    }
    const int32_t g = prog_.groupCount++;
    Emit(Op::kPushGroup, g);
    Emit(Op::kGroupStart, g);
    const std::size_t call = Emit(Op::kCall);
    Emit(Op::kPopGroup, g);
    Emit(Op::kReturn);
    if (Failed()) return;
    code_[call].operand = static_cast<int32_t>(code_.size());
    out = ParseSequence(false);
    if (Failed()) return;
    Emit(Op::kGroupEnd, g);
    if (Peek() != '}' || AtEnd()) {
      Fail(RegExpError::kMissingBrace, open);
      return;
    }
    ++pos_;
    --depth_;
  }

  // A plain grouping only changes how the pattern is read: its body is
  // emitted in place, which behaves exactly like a call to the body.
  void ParseGrouping(Info& out) {
    const std::size_t open = pos_;
    ++pos_;
    if (!Enter()) return;
    out = ParseSequence(false);
    if (Failed()) return;
    if (Peek() != ')' || AtEnd()) {
      Fail(RegExpError::kMissingParenthesis, open);
      return;
    }
    ++pos_;
    --depth_;
  }

  // !B: succeeds, consuming nothing, exactly when B does not match here.
  // When B matches, its backtrack entries are dropped and the negation fails;
  // groups inside B are saved first and restored on both ways out, so they
  // never show texts from a negation.
  void ParseNegation(Info& out) {
    ++pos_;
    if (!Enter()) return;
    const std::size_t bStart = code_.size();
    const int32_t firstGroup = prog_.groupCount;
    Info b;
    ParseAtom(b);  // a lone `\` leaves nothing to negate, which always matches
    if (Failed()) return;
    const int32_t endGroup = prog_.groupCount;
    std::vector<RegExpInstruction> body(code_.begin() + static_cast<std::ptrdiff_t>(bStart),
                                        code_.end());
    code_.resize(bStart);

    const int32_t m1 = NewSlot();
    const int32_t m2 = NewSlot();
    auto restoreGroups = [&] {
      for (int32_t g = endGroup - 1; g >= firstGroup; --g) Emit(Op::kPopGroup, g);
    };
    for (int32_t g = firstGroup; g < endGroup; ++g) Emit(Op::kPushGroup, g);
    Emit(Op::kStorePos, m1);
    Emit(Op::kStoreStack, m2);
    const std::size_t call = Emit(Op::kCall);
    Emit(Op::kLoadPos, m1);
    Emit(Op::kLoadStack, m2);
    restoreGroups();
    const std::size_t jumpEnd = Emit(Op::kJump);
    if (Failed()) return;
    const std::size_t newStart = code_.size();
    code_[call].operand = static_cast<int32_t>(newStart);
    if (newStart + body.size() > kMaxInstructions) {
      Fail(RegExpError::kOutOfMemory);
      return;
    }
    const auto delta = static_cast<int32_t>(newStart - bStart);
    for (RegExpInstruction in : body) {
      if (HasTarget(in.op) && in.operand >= static_cast<int32_t>(bStart)) in.operand += delta;
      code_.push_back(in);
    }
    Emit(Op::kLoadPos, m1);
    Emit(Op::kLoadStack, m2);
    restoreGroups();
    Emit(Op::kReturn);
    if (Failed()) return;
    code_[jumpEnd].operand = static_cast<int32_t>(code_.size());
    // It consumes nothing, so repeating it could only spin in place.
    out.empty = true;
    out.zeroWidth = true;
    --depth_;
  }

  bool ParseEscape(Info& out) {
    if (pos_ + 1 >= src_.size()) {
      // A lone `\` at the end ends the pattern.
      pos_ = src_.size();
      return false;
    }
    const char16_t c = src_[pos_ + 1];
    const std::size_t escape = pos_;
    pos_ += 2;
    if (c >= '0' && c <= '9') {
      uint64_t n = c - '0';
      while (!AtEnd() && src_[pos_] >= '0' && src_[pos_] <= '9') {
        if (n < (uint64_t{1} << 32)) n = n * 10 + (src_[pos_] - '0');
        ++pos_;
      }
      if (n >= static_cast<uint64_t>(prog_.groupCount)) {
        Fail(RegExpError::kBackRefNotOpened, escape);
        return true;
      }
      Emit(Op::kBackRef, static_cast<int32_t>(n));
      // The group may hold any text, the empty one included.
      out.empty = true;
      out.zeroWidth = true;
      out.first.all = true;
      return true;
    }
    const std::u16string_view expansion = inAbbreviation_ ? std::u16string_view{} : Abbreviation(c);
    if (!expansion.empty()) {
      ParseAbbreviation(expansion, out);
      return true;
    }
    EmitSymbol(out, c);
    return true;
  }

  void ParseAbbreviation(std::u16string_view expansion, Info& out) {
    std::u16string lowered(expansion);
    for (auto& u : lowered) u = LowerUnit(u);
    const std::u16string_view savedSrc = src_;
    const std::size_t savedPos = pos_;
    src_ = lowered;
    pos_ = 0;
    abbreviationAt_ = savedPos - 2;
    inAbbreviation_ = true;
    const int32_t groupsBefore = prog_.groupCount;
    Info info;
    const bool parsed = ParseQuantified(info);
    inAbbreviation_ = false;
    src_ = savedSrc;
    pos_ = savedPos;
    if (error_ == RegExpError::kOutOfMemory) return;
    if (error_ != RegExpError::kNone || !parsed || prog_.groupCount != groupsBefore) {
      error_ = RegExpError::kBadAbbreviation;
      errorAt_ = savedPos - 2;
      return;
    }
    out = info;
  }

  void ParseClass(Info& out) {
    const std::size_t open = pos_;
    ++pos_;
    RegExpClass cls;
    if (Peek() == '^' && !AtEnd()) {
      cls.negated = true;
      ++pos_;
    }
    for (;;) {
      if (AtEnd()) {
        Fail(RegExpError::kMissingBracket, open);
        return;
      }
      const std::size_t rangeAt = pos_;
      char16_t lo = src_[pos_];
      if (lo == ']') {
        ++pos_;
        break;
      }
      if (lo == '\\') {
        if (pos_ + 1 >= src_.size()) {
          Fail(RegExpError::kMissingBracket, open);
          return;
        }
        lo = src_[pos_ + 1];
        if (lo == 't') lo = '\t';
        pos_ += 2;
      } else {
        ++pos_;
      }
      char16_t hi = lo;
      if (Peek() == '-' && !AtEnd()) {
        if (pos_ + 1 >= src_.size() || src_[pos_ + 1] == ']') {
          Fail(RegExpError::kMissingBracket, open);
          return;
        }
        hi = src_[pos_ + 1];
        pos_ += 2;
        if (hi < lo) {
          Fail(RegExpError::kRangeBackwards, rangeAt);
          return;
        }
      }
      cls.ranges.emplace_back(lo, hi);
    }
    if (cls.ranges.empty()) {
      Fail(RegExpError::kEmptyClass, open);
      return;
    }
    // The table answers for units as they stand in the text, so the matcher
    // needs no case folding for units below 256. NUL is the end of the text
    // and never belongs to a class.
    bool high = false;
    for (const auto& r : cls.ranges) high = high || r.second >= 256;
    for (unsigned u = 1; u < 256; ++u) {
      const char16_t folded = LowerUnit(static_cast<char16_t>(u));
      bool in = false;
      for (const auto& r : cls.ranges) {
        if (folded >= r.first && folded <= r.second) {
          in = true;
          break;
        }
      }
      if (in != cls.negated) {
        cls.bits[u >> 6] |= uint64_t{1} << (u & 63);
        out.first.bits.set(folded);
      }
    }
    out.first.high = cls.negated || high;
    out.minLength = 1;
    out.empty = false;
    out.zeroWidth = false;
    prog_.classes.push_back(std::move(cls));
    Emit(Op::kClass, static_cast<int32_t>(prog_.classes.size() - 1));
  }

  bool UnitCanMatch(const RegExpInstruction& rep, char16_t loweredUnit) const {
    switch (rep.unit) {
      case Op::kSymbol:
        return loweredUnit == rep.operand;
      case Op::kAny:
        return loweredUnit != 0;
      case Op::kClass:
        return prog_.classes[static_cast<std::size_t>(rep.operand)].Matches(loweredUnit);
      default:
        return true;
    }
  }

  // True when no unit the repeat takes can also be taken by the class.
  bool DisjointFromClass(const RegExpInstruction& rep, const RegExpClass& cls) const {
    if (rep.unit == Op::kAny) return false;
    if (rep.unit == Op::kSymbol) return !cls.Matches(static_cast<char16_t>(rep.operand));
    const RegExpClass& mine = prog_.classes[static_cast<std::size_t>(rep.operand)];
    for (int i = 0; i < 4; ++i) {
      if (mine.bits[i] & cls.bits[i]) return false;
    }
    bool mineHigh = mine.negated;
    for (const auto& r : mine.ranges) mineHigh = mineHigh || r.second >= 256;
    bool theirsHigh = cls.negated;
    for (const auto& r : cls.ranges) theirsHigh = theirsHigh || r.second >= 256;
    return !(mineHigh && theirsHigh);
  }

  // A greedy repeat followed (through group ends and jumps) by a unit it can
  // never take itself gives nothing by giving units back: whatever it gave
  // back would have to be that unit.
  void MarkPossessive() {
    for (std::size_t k = 0; k < code_.size(); ++k) {
      RegExpInstruction& rep = code_[k];
      if (rep.op != Op::kRepeatGreedy) continue;
      std::size_t next = k + 2;
      bool possessive = false;
      for (int hops = 0; hops < 32 && next < code_.size(); ++hops) {
        const RegExpInstruction& in = code_[next];
        if (in.op == Op::kGroupEnd || in.op == Op::kNop) {
          ++next;
          continue;
        }
        if (in.op == Op::kJump) {
          next = static_cast<std::size_t>(in.operand);
          continue;
        }
        if (in.op == Op::kAccept) {
          possessive = true;
        } else if (in.op == Op::kSymbol) {
          possessive = in.operand == 0 || !UnitCanMatch(rep, static_cast<char16_t>(in.operand));
        } else if (in.op == Op::kClass) {
          possessive = DisjointFromClass(rep, prog_.classes[static_cast<std::size_t>(in.operand)]);
        }
        break;
      }
      if (possessive) rep.flags |= RegExpInstruction::kPossessive;
    }
  }

  void Finish(const Info& seq) {
    MarkPossessive();
    prog_.minLength = seq.minLength;
    prog_.requiredUnit = required_;
    if (!seq.zeroWidth && !seq.first.all) {
      prog_.filterStart = true;
      prog_.startHigh = seq.first.high;
      for (unsigned u = 1; u < 256; ++u) {
        if (seq.first.bits.test(LowerUnit(static_cast<char16_t>(u)))) {
          prog_.startTable[u >> 6] |= uint64_t{1} << (u & 63);
        }
      }
    }
    if (prog_.filterStart && !prog_.startHigh) {
      for (unsigned u = 1; u < 256; ++u) {
        if (!((prog_.startTable[u >> 6] >> (u & 63)) & 1)) continue;
        if (prog_.startUnitCount == 2) {
          prog_.startUnitCount = 0;
          break;
        }
        prog_.startUnits[prog_.startUnitCount++] = static_cast<char16_t>(u);
      }
      if (prog_.startUnitCount == 1) prog_.startUnits[1] = prog_.startUnits[0];
    }
    // A short prefix is enough to skip most hopeless starts; a long one
    // would make each check cost as much as the attempt it saves.
    for (std::size_t i = 2; i < code_.size() && prog_.prefix.size() < kMaxPrefix; ++i) {
      if (code_[i].op != Op::kSymbol || code_[i].operand == 0) break;
      prog_.prefix.push_back(static_cast<char16_t>(code_[i].operand));
    }
    bool backRefs = false;
    for (const auto& in : code_) backRefs = backRefs || in.op == Op::kBackRef;
    if (!backRefs && !prog_.anchored) {
      // Follow the straight line from the start through group entries.
      std::size_t ip = 2;
      for (int hops = 0; hops < 64 && ip < code_.size(); ++hops) {
        const RegExpInstruction& in = code_[ip];
        if (in.op == Op::kPushGroup || in.op == Op::kGroupStart || in.op == Op::kNop) {
          ++ip;
        } else if (in.op == Op::kCall) {
          ip = static_cast<std::size_t>(in.operand);
        } else {
          if (in.op == Op::kRepeatGreedy && in.min == 1 &&
              (in.flags & RegExpInstruction::kPossessive) &&
              !(in.flags & RegExpInstruction::kOnce)) {
            prog_.leadingRepeat = static_cast<int32_t>(ip);
          }
          break;
        }
      }
    }
  }

  RegExpProgram& prog_;
  std::vector<RegExpInstruction>& code_;
  std::u16string lowered_;
  std::u16string_view src_;
  std::size_t pos_ = 0;
  bool inAbbreviation_ = false;
  RegExpError error_ = RegExpError::kNone;
  std::size_t errorAt_ = 0;
  std::size_t abbreviationAt_ = 0;
  int depth_ = 0;
  char16_t required_ = 0;
};

}  // namespace

const char* RegExpErrorReason(RegExpError error) {
  switch (error) {
    case RegExpError::kNone:
      return "";
    case RegExpError::kOutOfMemory:
      return "too large";
    case RegExpError::kMissingBrace:
      return "unbalanced brace";
    case RegExpError::kMissingParenthesis:
      return "unbalanced parenthesis";
    case RegExpError::kMissingBracket:
      return "unbalanced bracket";
    case RegExpError::kBadAbbreviation:
      return "abbreviation cannot be used here";
    case RegExpError::kEmptyClass:
      return "empty character class";
    case RegExpError::kBackRefNotOpened:
      return "back-reference to a group not opened before it";
    case RegExpError::kRangeBackwards:
      return "range out of order";
    case RegExpError::kEmptyRepetition:
      return "nothing to repeat";
    case RegExpError::kNoPattern:
      return "no pattern";
  }
  return "refused";
}

RegExpError Compile(RegExpProgram& program, const std::u16string_view* pattern) {
  program = RegExpProgram{};
  if (pattern == nullptr) {
    program.lastError = RegExpError::kNoPattern;
    return program.lastError;
  }
  RegExpError result;
  std::size_t offset = 0;
  try {
    Compiler compiler(program);
    result = compiler.Run(*pattern);
    offset = compiler.errorOffset();
  } catch (const std::bad_alloc&) {
    result = RegExpError::kOutOfMemory;
  } catch (const std::length_error&) {
    result = RegExpError::kOutOfMemory;
  }
  if (result != RegExpError::kNone) {
    const RegExpError keep = result;
    program = RegExpProgram{};
    program.lastError = keep;
    program.errorOffset = offset;
    return keep;
  }
  program.caseSensitive = false;
  program.lastError = RegExpError::kNone;
  return RegExpError::kNone;
}

RegExpError Compile(RegExpProgram& program, std::u16string_view pattern) {
  return Compile(program, &pattern);
}

}  // namespace velmar

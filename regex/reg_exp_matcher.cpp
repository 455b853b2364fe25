// The backtracking machine. All choice points live on a heap-allocated stack
// of integers, so long texts and long repetitions never touch the thread's
// call stack; "backtrack" always means: continue at the instruction index on
// top of the stack.

#include <limits>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <stdexcept>

#include "platform/stop_signal.h"
#include "regex/reg_exp.h"

namespace velmar {
namespace {

using Op = RegExpOp;

// Steps between two looks at the stop request.
constexpr int kStopCheckInterval = 4096;

inline char16_t Lower(char16_t u) {
  return (u >= 'A' && u <= 'Z') ? static_cast<char16_t>(u + 32) : u;
}

inline bool InTable(const uint64_t* table, char16_t u) {
  return (table[u >> 6] >> (u & 63)) & 1;
}

class Machine {
 public:
  Machine(const RegExpProgram& program, RegExpMatch& match, std::u16string_view text)
      : prog_(program),
        m_(match),
        code_(program.instructions.data()),
        codeSize_(static_cast<uint32_t>(program.instructions.size())),
        t_(text.data()),
        len_(static_cast<uint32_t>(text.size())) {}

  // 1: match, 0: no match at all, -1: no match at this start (try the next).
  bool Run(uint32_t from, uint32_t* stoppedAt) {
    uint32_t s = from;
    uint32_t required = std::numeric_limits<uint32_t>::max();  // none found yet
    bool requiredSearched = false;
    for (;;) {
      if (!prog_.anchored && prog_.filterStart) {
        s = NextStart(s);
        if (AtEnd(s)) {
          *stoppedAt = s;
          return false;
        }
      }
      if (len_ - s < prog_.minLength) {
        *stoppedAt = s;
        return false;
      }
      if (prog_.requiredUnit != 0 && (!requiredSearched || required < s)) {
        required = FindUnit(prog_.requiredUnit, s);
        requiredSearched = true;
        if (required == std::numeric_limits<uint32_t>::max()) {
          *stoppedAt = s;
          return false;
        }
      }
      leadEnd_ = 0;
      const int r = Attempt(s);
      if (r == 1) return true;
      if (r == 0 || prog_.anchored || AtEnd(s)) {
        *stoppedAt = s;
        return false;
      }
      s = leadEnd_ > s + 1 ? leadEnd_ : s + 1;
    }
  }

 private:
  bool AtEnd(uint32_t p) const { return p >= len_ || t_[p] == 0; }

  bool UnitMatches(const RegExpInstruction& in, char16_t u) const {
    switch (in.unit) {
      case Op::kSymbol:
        return Lower(u) == in.operand;
      case Op::kAny:
        return u != 0;
      default:
        return prog_.classes[static_cast<uint32_t>(in.operand)].Matches(u);
    }
  }

  // Skips start positions whose first unit no match can begin with, and
  // those where the literal prefix of the pattern is not found.
  uint32_t NextStart(uint32_t s) const {
    const uint64_t* table = prog_.startTable;
    const std::u16string& prefix = prog_.prefix;
    const bool wide = prog_.startUnitCount > 0;
    for (; s < len_; ++s) {
      if (wide) {
        s = FindEither(prog_.startUnits[0], prog_.startUnits[1], s);
        if (s >= len_) return s;
      }
      const char16_t u = t_[s];
      if (u == 0) return s;
      if (u < 256 ? !InTable(table, u) : !prog_.startHigh) continue;
      if (prefix.size() > 1) {
        std::size_t k = 1;
        while (k < prefix.size() && s + k < len_ && Lower(t_[s + k]) == prefix[k]) ++k;
        if (k < prefix.size()) continue;
      }
      return s;
    }
    return s;
  }

  // First position at or after p holding a, b or NUL (len_ when none).
  uint32_t FindEither(char16_t a, char16_t b, uint32_t p) const {
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    const __m128i zero = _mm_setzero_si128();
    while (p + 8 <= len_) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t_ + p));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)),
                                       _mm_cmpeq_epi16(v, zero));
      const int mask = _mm_movemask_epi8(hit);
      if (mask != 0)
        return p + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
      p += 8;
    }
#endif
    for (; p < len_; ++p) {
      const char16_t u = t_[p];
      if (u == a || u == b || u == 0) return p;
    }
    return len_;
  }

  uint32_t FindUnit(char16_t lower, uint32_t from) const {
    const char16_t upper =
        (lower >= 'a' && lower <= 'z') ? static_cast<char16_t>(lower - 32) : lower;
    for (uint32_t p = from; p < len_; ++p) {
      const char16_t u = t_[p];
      if (u == lower || u == upper) return p;
      if (u == 0) break;
    }
    return std::numeric_limits<uint32_t>::max();
  }

  // Counts the units from p that a repeat takes, up to `limit`.
  uint32_t RunLength(const RegExpInstruction& in, uint32_t p, uint32_t limit) const {
    switch (in.unit) {
      case Op::kSymbol: {
        const auto lower = static_cast<char16_t>(in.operand);
        const char16_t upper =
            (lower >= 'a' && lower <= 'z') ? static_cast<char16_t>(lower - 32) : lower;
        while (p < limit && (t_[p] == lower || t_[p] == upper)) ++p;
        return p;
      }
      case Op::kAny:
        while (p < limit && t_[p] != 0) ++p;
        return p;
      default: {
        const RegExpClass& cls = prog_.classes[static_cast<uint32_t>(in.operand)];
        while (p < limit) {
          const char16_t u = t_[p];
          if (u < 256 ? !InTable(cls.bits, u) : !cls.Matches(u)) break;
          ++p;
        }
        return p;
      }
    }
  }

  bool Grow(int32_t*& st, std::size_t& cap, std::size_t sp) {
    if (sp >= m_.stackLimit) return false;
    std::size_t next = 2 * sp + 4;
    if (next > m_.stackLimit) next = m_.stackLimit;
    try {
      if (m_.stack.size() < next) m_.stack.resize(next);
    } catch (const std::bad_alloc&) {
      return false;
    } catch (const std::length_error&) {
      return false;
    }
    st = m_.stack.data();
    cap = next;
    return true;
  }

  int Attempt(uint32_t s) {
    int32_t* st = m_.stack.data();
    std::size_t cap = m_.stack.size() < m_.stackLimit ? m_.stack.size() : m_.stackLimit;
    std::size_t sp = 0;
    int32_t* groups = m_.groups.data();
    int32_t* slots = m_.slots.data();
    uint32_t pos = s;
    uint32_t ip = 0;

#define VELMAR_PUSH(v)                                  \
  do {                                                  \
    if (sp == cap && !Grow(st, cap, sp)) goto overflow; \
    st[sp++] = static_cast<int32_t>(v);                 \
  } while (0)
#define VELMAR_POP() (sp ? st[--sp] : 0)
// Every loop of a program passes a backtrack or a jump, so the stop request
// and the index taken from the stack are checked there only.
#define VELMAR_BACKTRACK()                    \
  {                                           \
    ip = static_cast<uint32_t>(VELMAR_POP()); \
    goto checked;                             \
  }

    for (;;) {
      const RegExpInstruction& in = code_[ip];
      switch (in.op) {
        case Op::kNop:
          ++ip;
          break;
        case Op::kGroupStart:
          groups[2 * in.operand] = static_cast<int32_t>(pos);
          groups[2 * in.operand + 1] = -1;  // open until its end is reached
          ++ip;
          break;
        case Op::kGroupEnd:
          groups[2 * in.operand + 1] = static_cast<int32_t>(pos);
          ++ip;
          break;
        case Op::kSymbol:
          if (in.operand == 0) {
            if (!AtEnd(pos)) VELMAR_BACKTRACK();
          } else {
            if (pos >= len_ || Lower(t_[pos]) != in.operand) VELMAR_BACKTRACK();
            ++pos;
          }
          ++ip;
          break;
        case Op::kAny:
          if (AtEnd(pos)) VELMAR_BACKTRACK();
          ++pos;
          ++ip;
          break;
        case Op::kClass: {
          if (pos >= len_) VELMAR_BACKTRACK();
          const char16_t u = t_[pos];
          const RegExpClass& cls = prog_.classes[static_cast<uint32_t>(in.operand)];
          if (u < 256 ? !InTable(cls.bits, u) : !cls.Matches(u)) VELMAR_BACKTRACK();
          ++pos;
          ++ip;
          break;
        }
        case Op::kJump:
          ip = static_cast<uint32_t>(in.operand);
          goto checked;
        case Op::kPushPos:
          VELMAR_PUSH(pos);
          ++ip;
          break;
        case Op::kPopPos:
          pos = static_cast<uint32_t>(VELMAR_POP());
          ++ip;
          break;
        case Op::kCall:
          VELMAR_PUSH(ip + 1);
          ip = static_cast<uint32_t>(in.operand);
          break;
        case Op::kReturn:
          VELMAR_BACKTRACK();
        case Op::kPushSlot:
          VELMAR_PUSH(slots[in.operand]);
          ++ip;
          break;
        case Op::kPopSlot:
          slots[in.operand] = VELMAR_POP();
          ++ip;
          break;
        case Op::kStorePos:
          slots[in.operand] = static_cast<int32_t>(pos);
          ++ip;
          break;
        case Op::kStoreStack:
          slots[in.operand] = static_cast<int32_t>(sp);
          ++ip;
          break;
        case Op::kLoadPos:
          pos = static_cast<uint32_t>(slots[in.operand]);
          ++ip;
          break;
        case Op::kLoadStack: {
          const int32_t h = slots[in.operand];
          if (h >= 0 && static_cast<std::size_t>(h) <= sp) sp = static_cast<std::size_t>(h);
          ++ip;
          break;
        }
        case Op::kFailIfNoProgress:
          if (static_cast<int32_t>(pos) == slots[in.operand]) VELMAR_BACKTRACK();
          ++ip;
          break;
        case Op::kBackRef: {
          const int32_t gs = groups[2 * in.operand];
          const int32_t ge = groups[2 * in.operand + 1];
          if (gs >= 0 && ge > gs) {
            const auto n = static_cast<uint32_t>(ge - gs);
            bool same = true;
            for (uint32_t k = 0; k < n; ++k) {
              const uint32_t p = pos + k;
              if (AtEnd(p)) {
                same = false;
                break;
              }
              const char16_t a = t_[p];
              const char16_t b = t_[static_cast<uint32_t>(gs) + k];
              if (prog_.caseSensitive ? a != b : Lower(a) != Lower(b)) {
                same = false;
                break;
              }
            }
            if (!same) VELMAR_BACKTRACK();
            pos += n;
          }
          ++ip;
          break;
        }
        case Op::kFail:
          return 0;
        case Op::kAdvance:
          return -1;
        case Op::kAccept:
          m_.matchStart = static_cast<int32_t>(s);
          m_.matchEnd = static_cast<int32_t>(pos);
          return 1;
        case Op::kPushGroup:
          VELMAR_PUSH(groups[2 * in.operand]);
          VELMAR_PUSH(groups[2 * in.operand + 1]);
          ++ip;
          break;
        case Op::kPopGroup:
          groups[2 * in.operand + 1] = VELMAR_POP();
          groups[2 * in.operand] = VELMAR_POP();
          ++ip;
          break;
        case Op::kRepeatGreedy: {
          const uint32_t limit =
              (in.flags & RegExpInstruction::kOnce) ? (pos + 1 < len_ ? pos + 1 : len_) : len_;
          const uint32_t end = RunLength(in, pos, limit);
          if (static_cast<int32_t>(ip) == prog_.leadingRepeat) leadEnd_ = end;
          if (end - pos < in.min) VELMAR_BACKTRACK();
          if (end - pos > in.min && !(in.flags & RegExpInstruction::kPossessive)) {
            VELMAR_PUSH(pos + in.min);
            VELMAR_PUSH(end);
            VELMAR_PUSH(ip + 1);
          }
          pos = end;
          ip += 2;
          break;
        }
        case Op::kRetryGreedy: {
          // Give back one unit; keep the entry while more can be given back.
          const auto cur = static_cast<uint32_t>(VELMAR_POP()) - 1;
          const auto low = static_cast<uint32_t>(VELMAR_POP());
          pos = cur;
          if (cur > low) {
            VELMAR_PUSH(low);
            VELMAR_PUSH(cur);
            VELMAR_PUSH(ip);
          }
          ++ip;
          break;
        }
        case Op::kGuardText: {
          const std::u16string& lit = prog_.literals[static_cast<uint32_t>(in.operand)];
          std::size_t k = 0;
          while (k < lit.size() && pos + k < len_ && Lower(t_[pos + k]) == lit[k]) ++k;
          ip += k == lit.size() ? 1 : 4;
          break;
        }
        case Op::kGuardClass:
          ip += (pos < len_ && prog_.classes[static_cast<uint32_t>(in.operand)].Matches(t_[pos]))
                    ? 1
                    : 4;
          break;
        case Op::kRepeatLazy:
          if (in.min == 1) {
            if (pos >= len_ || !UnitMatches(in, t_[pos])) VELMAR_BACKTRACK();
            ++pos;
          }
          VELMAR_PUSH(pos);
          VELMAR_PUSH(ip + 1);
          ip += 2;
          break;
        case Op::kRetryLazy: {
          // Take one more unit, then try the continuation again.
          const auto p = static_cast<uint32_t>(VELMAR_POP());
          if (p >= len_ || !UnitMatches(in, t_[p])) VELMAR_BACKTRACK();
          pos = p + 1;
          if (!(in.flags & RegExpInstruction::kOnce)) {
            VELMAR_PUSH(pos);
            VELMAR_PUSH(ip);
          }
          ++ip;
          break;
        }
      }
      continue;
    checked:
      if (--budget_ == 0) {
        budget_ = kStopCheckInterval;
        if (m_.stop && m_.stop->requested()) {
          m_.stopped = true;
          return 0;
        }
      }
      if (ip >= codeSize_) return 0;  // never reached by a compiled program
    }
  overflow:
    m_.overflowed = true;
    return 0;
#undef VELMAR_PUSH
#undef VELMAR_POP
#undef VELMAR_BACKTRACK
  }

  const RegExpProgram& prog_;
  RegExpMatch& m_;
  const RegExpInstruction* code_;
  uint32_t codeSize_;
  const char16_t* t_;
  uint32_t len_;
  int budget_ = kStopCheckInterval;
  uint32_t leadEnd_ = 0;  // where the leading repeat of this attempt stopped
};

}  // namespace

std::u16string_view RegExpMatch::Group(std::u16string_view text, int g) const {
  if (g < 0 || static_cast<std::size_t>(2 * g + 1) >= groups.size()) return {};
  const int32_t s = groups[2 * static_cast<std::size_t>(g)];
  const int32_t e = groups[2 * static_cast<std::size_t>(g) + 1];
  if (s < 0 || e < s || static_cast<std::size_t>(e) > text.size()) return {};
  return text.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s));
}

bool Match(const RegExpProgram& program, RegExpMatch& match, std::u16string_view text,
           std::size_t* matchEnd, std::size_t from) {
  match.stopped = false;
  match.overflowed = false;
  if (program.lastError != RegExpError::kNone || program.instructions.empty() ||
      text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() - 4) ||
      from > text.size()) {
    if (matchEnd) *matchEnd = from;
    return false;
  }
  try {
    match.groups.assign(2 * static_cast<std::size_t>(program.groupCount), -1);
    match.slots.assign(static_cast<std::size_t>(program.slotCount), 0);
  } catch (const std::bad_alloc&) {
    match.overflowed = true;
    if (matchEnd) *matchEnd = from;
    return false;
  }
  Machine machine(program, match, text);
  uint32_t stoppedAt = static_cast<uint32_t>(from);
  if (machine.Run(static_cast<uint32_t>(from), &stoppedAt)) {
    if (matchEnd) *matchEnd = static_cast<std::size_t>(match.matchEnd);
    return true;
  }
  if (matchEnd) *matchEnd = stoppedAt;
  return false;
}

}  // namespace velmar

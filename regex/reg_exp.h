#pragma once
// The script dialect of regular expressions: a compiler from a pattern to a
// list of instructions, and a backtracking matcher that runs the list over a
// UTF-16 text. Braces capture, `|` binds single elements, and the letters A
// to Z match without regard to case.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

class StopSignal;

// The machine has a position in the text, an instruction index, the group
// and slot arrays, and one stack of integers. "Backtrack" means: pop an
// instruction index from that stack and continue there, so every choice
// point is an index pushed below the values its code will pop again.
enum class RegExpOp : uint8_t {
  // Does nothing; stands where the compiler opened room it did not fill.
  kNop,
  // Operand g: group g starts at the position (and is open until kGroupEnd).
  kGroupStart,
  // Operand g: group g ends at the position.
  kGroupEnd,
  kSymbol,  // operand: a lower-case unit; 0 matches only at the end of the text
  // Any unit but the end of the text (a NUL unit ends it).
  kAny,
  kClass,  // operand: index into RegExpProgram::classes (negation lives there)
  // Continues at the operand.
  kJump,
  // Pushes the position; the code that backtracks to the entry below it
  // finds it there for kPopPos.
  kPushPos,
  // Pops the position pushed by kPushPos.
  kPopPos,
  // A choice: pushes the next index as a backtrack entry and continues at
  // the operand, so the code there is tried first and its failure resumes
  // after the call.
  kCall,
  // Backtracks: ends the code a kCall tried, handing over to the entry on top.
  kReturn,
  // Operand s: pushes slot s, to be restored by kPopSlot on the way back.
  kPushSlot,
  // Operand s: pops slot s.
  kPopSlot,
  // Operand s: slot s takes the position (where a repetition started).
  kStorePos,
  // Operand s: slot s takes the height of the stack (for kLoadStack).
  kStoreStack,
  // Operand s: the position goes back to slot s.
  kLoadPos,
  // Operand s: drops every entry above the height kept in slot s, so that
  // what a negation tried is never backtracked into.
  kLoadStack,
  // Operand s: backtracks when the position is still the one in slot s, so
  // that a repetition which took nothing does not loop.
  kFailIfNoProgress,
  // Operand g: the text group g took, again (case as the program says); a
  // group that took nothing matches the empty text.
  kBackRef,
  // The bottom of an anchored program: no match anywhere.
  kFail,
  // The bottom of an unanchored program: no match at this start, try the next.
  kAdvance,
  // A match from the attempt's start to the position.
  kAccept,
  // Operand g: pushes the start and end of group g, so that an alternative
  // given up cannot leave its texts in the group.
  kPushGroup,
  // Operand g: pops what kPushGroup pushed back into group g.
  kPopGroup,
  // A repeated single-unit atom (a symbol, `.` or a class) in one
  // instruction; the instruction after it is only reached by backtracking and
  // gives back (greedy) or takes (lazy) one more unit.
  kRepeatGreedy,
  // The backtrack entry of kRepeatGreedy: gives back one unit and keeps the
  // entry while more units can be given back.
  kRetryGreedy,
  // Takes its minimum (0 or 1 units) and tries the continuation first.
  kRepeatLazy,
  // The backtrack entry of kRepeatLazy: takes one more unit, then tries the
  // continuation again.
  kRetryLazy,
  // Placed before an alternative that starts with symbols (operand: index
  // into RegExpProgram::literals) or a class: when the text at the position
  // cannot start it, skip to the next alternative at once (ip + 4) instead
  // of trying it and backtracking.
  kGuardText,
  kGuardClass,
};

struct RegExpInstruction {
  RegExpOp op = RegExpOp::kNop;
  RegExpOp unit = RegExpOp::kNop;  // repeats: kSymbol, kAny or kClass
  uint8_t min = 0;                 // repeats: 0 or 1 units at least
  uint8_t flags = 0;               // repeats: kOnce, kPossessive
  int32_t operand = 0;

  static constexpr uint8_t kOnce = 1;        // at most one unit (`?`, `??`)
  static constexpr uint8_t kPossessive = 2;  // giving units back can never help
};

struct RegExpClass {
  uint64_t bits[4] = {0, 0, 0, 0};  // answer for units below 256, as they stand in the text
  bool negated = false;
  std::vector<std::pair<char16_t, char16_t>> ranges;  // as written, lower-cased

  bool Matches(char16_t unit) const {
    if (unit < 256) return (bits[unit >> 6] >> (unit & 63)) & 1;
    bool in = false;
    for (const auto& r : ranges) {
      if (unit >= r.first && unit <= r.second) {
        in = true;
        break;
      }
    }
    return in != negated;
  }
};

// Result of compiling a pattern. The numbers are the system's own codes.
enum class RegExpError : int {
  kNone = 0,
  kOutOfMemory = 1,
  kMissingBrace = 2,
  kMissingParenthesis = 3,
  kMissingBracket = 4,
  kBadAbbreviation = 5,
  kEmptyClass = 6,
  kBackRefNotOpened = 7,
  kRangeBackwards = 8,
  kEmptyRepetition = 9,
  kNoPattern = 10,
};

struct RegExpProgram {
  std::vector<RegExpInstruction> instructions;
  std::vector<RegExpClass> classes;
  std::vector<std::u16string> literals;  // lower-case texts the guards look for
  int32_t groupCount = 0;
  int32_t slotCount = 0;
  bool caseSensitive = false;
  RegExpError lastError = RegExpError::kNoPattern;
  // Where a refused pattern was refused: an offset in UTF-16 units.
  std::size_t errorOffset = 0;

  // What the compiler learnt about where a match can start, so that the
  // matcher skips hopeless start positions without running the machine.
  bool anchored = false;                  // the pattern starts with `^`
  bool filterStart = false;               // a match starts with a unit of startTable
  bool startHigh = false;                 // ... or with any unit of 256 and above
  uint64_t startTable[4] = {0, 0, 0, 0};  // raw units below 256
  std::u16string prefix;                  // lower-case units every match starts with
  char16_t requiredUnit = 0;              // lower-case unit every match contains
  // When the start table holds one or two units only (a symbol, in both
  // cases), those units, so that the search for a start can go wide.
  int startUnitCount = 0;
  char16_t startUnits[2] = {0, 0};
  // A possessive repeat that every attempt runs first, in a pattern without
  // back-references: after an attempt failed, the starts inside the run it
  // took would reach the same continuation and fail the same way.
  int32_t leadingRepeat = -1;
  // Fewest units any match takes: shorter rests of the text are not tried.
  uint32_t minLength = 0;
};

struct RegExpMatch {
  // Start and end of each group (-1 when the group took no part).
  std::vector<int32_t> groups;
  std::vector<int32_t> slots;
  std::vector<int32_t> stack;  // backtrack stack storage, kept between calls
  int32_t matchStart = 0;
  int32_t matchEnd = 0;

  // Polled every few thousand steps; a requested stop ends the call as no match.
  const StopSignal* stop = nullptr;
  // Entries the backtrack stack may hold; a call that needs more ends as no match.
  std::size_t stackLimit = std::size_t{1} << 26;
  // Why the last call gave no match, beyond the pattern not matching.
  bool stopped = false;
  bool overflowed = false;

  // Text of group g after a successful Match (empty when it took no part).
  std::u16string_view Group(std::u16string_view text, int g) const;
};

// Why a pattern was refused, for people: "unbalanced brace", "nothing to
// repeat", "too large", ...; empty for kNone.
const char* RegExpErrorReason(RegExpError error);

// Compiles a pattern (nullptr: no pattern) and returns the result code; a
// pattern ends at its first NUL unit. A refused pattern leaves its offset in
// `program.errorOffset`.
RegExpError Compile(RegExpProgram& program, const std::u16string_view* pattern);
RegExpError Compile(RegExpProgram& program, std::u16string_view pattern);

// The compiled program for people: one line per instruction, then the
// classes, the literals the guards look for, and what the matcher knows
// about where a match starts (start table, prefix, required unit, leading
// repeat, fewest units). Units outside printable ASCII show as U+XXXX, so
// that the text reads the same in every code page.
std::string DumpProgram(const RegExpProgram& program);

// Searches the text from `from` (a `^` pattern anchors there). The text ends at
// its first NUL unit. On success sets the groups, matchStart and matchEnd and
// stores the end in *matchEnd; on failure stores the position where the search
// stopped.
bool Match(const RegExpProgram& program, RegExpMatch& match, std::u16string_view text,
           std::size_t* matchEnd = nullptr, std::size_t from = 0);

}  // namespace velmar

// The text of `velmar regex --dump` and of the compiler's golden tests: what
// the compiler made of a pattern, in the order the matcher reads it.

#include <cstdio>
#include <string>

#include "regex/reg_exp.h"

namespace velmar {
namespace {

using Op = RegExpOp;

const char* OpName(Op op) {
  switch (op) {
    case Op::kNop: return "nop";
    case Op::kGroupStart: return "group-start";
    case Op::kGroupEnd: return "group-end";
    case Op::kSymbol: return "symbol";
    case Op::kAny: return "any";
    case Op::kClass: return "class";
    case Op::kJump: return "jump";
    case Op::kPushPos: return "push-pos";
    case Op::kPopPos: return "pop-pos";
    case Op::kCall: return "call";
    case Op::kReturn: return "return";
    case Op::kPushSlot: return "push-slot";
    case Op::kPopSlot: return "pop-slot";
    case Op::kStorePos: return "store-pos";
    case Op::kStoreStack: return "store-stack";
    case Op::kLoadPos: return "load-pos";
    case Op::kLoadStack: return "load-stack";
    case Op::kFailIfNoProgress: return "fail-if-no-progress";
    case Op::kBackRef: return "back-ref";
    case Op::kFail: return "fail";
    case Op::kAdvance: return "advance";
    case Op::kAccept: return "accept";
    case Op::kPushGroup: return "push-group";
    case Op::kPopGroup: return "pop-group";
    case Op::kRepeatGreedy: return "repeat-greedy";
    case Op::kRetryGreedy: return "retry-greedy";
    case Op::kRepeatLazy: return "repeat-lazy";
    case Op::kRetryLazy: return "retry-lazy";
    case Op::kGuardText: return "guard-text";
    case Op::kGuardClass: return "guard-class";
  }
  return "?";
}

// One unit: printable ASCII as itself (a backslash before the characters
// that would make a quoted text or a class ambiguous), the rest as U+XXXX.
std::string Unit(char32_t u, const char* specials) {
  char buffer[16];
  if (u >= 0x21 && u < 0x7f) {
    std::string out;
    for (const char* s = specials; *s; ++s) {
      if (static_cast<char32_t>(*s) == u) out += '\\';
    }
    out += static_cast<char>(u);
    return out;
  }
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(u));
  return buffer;
}

std::string Quoted(std::u16string_view text) {
  std::string out = "\"";
  for (const char16_t u : text) {
    // A space is shown as itself inside quotes, where it cannot be lost.
    out += u == u' ' ? std::string(" ") : Unit(u, "\"\\");
  }
  return out + "\"";
}

std::string Range(char32_t lo, char32_t hi) {
  std::string out = Unit(lo, "]\\-^");
  if (hi != lo) out += "-" + Unit(hi, "]\\-^");
  return out;
}

std::string ClassText(const RegExpClass& cls) {
  std::string out = cls.negated ? "[^" : "[";
  for (const auto& [lo, hi] : cls.ranges) out += Range(lo, hi);
  return out + "]";
}

// The units below 256 a table holds, as ranges.
std::string TableText(const uint64_t* table) {
  std::string out;
  for (unsigned u = 0; u < 256; ++u) {
    if (!((table[u >> 6] >> (u & 63)) & 1)) continue;
    unsigned end = u;
    while (end + 1 < 256 && ((table[(end + 1) >> 6] >> ((end + 1) & 63)) & 1)) ++end;
    out += Range(u, end);
    u = end;
  }
  return out;
}

std::string UnitOperand(const RegExpInstruction& in) {
  switch (in.unit) {
    case Op::kSymbol:
      return "symbol " + Unit(static_cast<char32_t>(in.operand), "");
    case Op::kAny:
      return "any";
    default:
      return "class " + std::to_string(in.operand);
  }
}

std::string Operands(const RegExpInstruction& in, std::size_t ip) {
  switch (in.op) {
    case Op::kBackRef:
      return " group " + std::to_string(in.operand);
    case Op::kGroupStart:
    case Op::kGroupEnd:
    case Op::kPushGroup:
    case Op::kPopGroup:
    case Op::kPushSlot:
    case Op::kPopSlot:
      return " " + std::to_string(in.operand);
    case Op::kSymbol:
      return in.operand == 0 ? " end-of-text" : " " + Unit(static_cast<char32_t>(in.operand), "");
    case Op::kClass:
      return " " + std::to_string(in.operand);
    case Op::kJump:
    case Op::kCall:
      return " " + std::to_string(in.operand);
    case Op::kStorePos:
    case Op::kStoreStack:
    case Op::kLoadPos:
    case Op::kLoadStack:
    case Op::kFailIfNoProgress:
      return " slot " + std::to_string(in.operand);
    case Op::kRepeatGreedy:
    case Op::kRepeatLazy:
    case Op::kRetryGreedy:
    case Op::kRetryLazy: {
      std::string out = " " + UnitOperand(in) + " min " + std::to_string(in.min);
      if (in.flags & RegExpInstruction::kOnce) out += " once";
      if (in.flags & RegExpInstruction::kPossessive) out += " possessive";
      return out;
    }
    case Op::kGuardText:
      return " literal " + std::to_string(in.operand) + " else " + std::to_string(ip + 4);
    case Op::kGuardClass:
      return " class " + std::to_string(in.operand) + " else " + std::to_string(ip + 4);
    default:
      return "";
  }
}

}  // namespace

std::string DumpProgram(const RegExpProgram& program) {
  std::string out;
  if (program.lastError != RegExpError::kNone) {
    return "refused: " + std::string(RegExpErrorReason(program.lastError)) + " at position " +
           std::to_string(program.errorOffset) + "\n";
  }
  out += "instructions: " + std::to_string(program.instructions.size()) +
         "; groups: " + std::to_string(program.groupCount) +
         "; slots: " + std::to_string(program.slotCount) + "\n";
  const std::size_t width = std::to_string(program.instructions.size()).size();
  for (std::size_t ip = 0; ip < program.instructions.size(); ++ip) {
    const RegExpInstruction& in = program.instructions[ip];
    std::string index = std::to_string(ip);
    out += std::string(width - index.size(), ' ') + index + "  " + OpName(in.op) +
           Operands(in, ip) + "\n";
  }
  for (std::size_t i = 0; i < program.classes.size(); ++i) {
    out += "class " + std::to_string(i) + ": " + ClassText(program.classes[i]) + "\n";
  }
  for (std::size_t i = 0; i < program.literals.size(); ++i) {
    out += "literal " + std::to_string(i) + ": " + Quoted(program.literals[i]) + "\n";
  }
  out += std::string("anchored: ") + (program.anchored ? "yes" : "no") + "\n";
  if (!program.filterStart) {
    out += "start: any unit\n";
  } else {
    out += "start: [" + TableText(program.startTable) + "]";
    if (program.startHigh) out += " and every unit from U+0100";
    out += "\n";
  }
  if (program.startUnitCount > 0) {
    out += "start units:";
    for (int i = 0; i < program.startUnitCount; ++i) {
      out += " " + Unit(program.startUnits[i], "");
    }
    out += "\n";
  }
  out += "prefix: " + (program.prefix.empty() ? std::string("none") : Quoted(program.prefix)) +
         "\n";
  out += "required: " +
         (program.requiredUnit == 0 ? std::string("none") : Unit(program.requiredUnit, "")) + "\n";
  out += "leading repeat: " +
         (program.leadingRepeat < 0 ? std::string("none") : std::to_string(program.leadingRepeat)) +
         "\n";
  out += "min length: " + std::to_string(program.minLength) + "\n";
  return out;
}

}  // namespace velmar

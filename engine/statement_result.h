#pragma once
// What a statement tells the executor when it is done. Why a statement
// failed travels in the script's error state (ScriptContext::errors), raised
// where the fault is found; the executor reports it.

#include <cstdint>

namespace velmar {

struct StatementResult {
  enum class Kind : uint8_t {
    kContinue,  // on with the statement the execution stack holds next
    kJump,      // on with `target`, above whatever the stack holds
    kEnd,       // the run ends here (`exit`)
    kError,     // the run ends on the error the statement raised
  };
  Kind kind = Kind::kContinue;
  uint32_t target = 0;

  static constexpr StatementResult Continue() { return {}; }
  static constexpr StatementResult Jump(uint32_t to) { return {Kind::kJump, to}; }
  static constexpr StatementResult End() { return {Kind::kEnd, 0}; }
  static constexpr StatementResult Error() { return {Kind::kError, 0}; }
};

}  // namespace velmar

#pragma once
// The statement vocabulary: for every keyword its statement id, what its
// handler receives and the handler itself, and how one source line is cut
// into keyword and argument text. The statements are listed once, in
// keywords.def; the ids here, the rows of keyword_table.cpp and the handler
// declarations of statement_handlers.h are made from that list.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/statement_result.h"
#include "values/code_page.h"

namespace velmar {

struct ScriptContext;

// The manager does not know `showtray`/`hidetray`; the runner does.
enum class KeywordFlavor { kManager, kRunner };

// The statement ids, one per line of keywords.def, numbered in its order.
namespace stmt {
namespace line {
enum : int32_t {
#define VELMAR_STEP(keyword, Name, mode) e##Name,
#define VELMAR_HANDLER(keyword, Name, mode) e##Name,
#define VELMAR_HOST(keyword, Name, mode, code) e##Name,
#define VELMAR_NO_ACTION(keyword, Name, mode) e##Name,
#include "engine/keywords.def"
  eCount
};
#undef VELMAR_STEP
#undef VELMAR_HANDLER
#undef VELMAR_HOST
#undef VELMAR_NO_ACTION
}  // namespace line
#define VELMAR_STEP(keyword, Name, mode) constexpr int32_t k##Name = line::e##Name;
#define VELMAR_HANDLER(keyword, Name, mode) constexpr int32_t k##Name = line::e##Name;
#define VELMAR_HOST(keyword, Name, mode, code) constexpr int32_t k##Name = line::e##Name;
#define VELMAR_NO_ACTION(keyword, Name, mode) constexpr int32_t k##Name = line::e##Name;
#include "engine/keywords.def"
#undef VELMAR_STEP
#undef VELMAR_HANDLER
#undef VELMAR_HOST
#undef VELMAR_NO_ACTION
constexpr int32_t kMaxId = line::eCount - 1;
}  // namespace stmt

// What the executor hands a statement's handler.
enum class ArgumentMode {
  kExpanded,  // ExpandAndEvaluate of a copy of the stored text
  kRaw,       // the stored text; the handler expands what it needs
  kNone,      // the text is not used
};

// Runs one statement with the text its argument mode gives it.
using StatementHandler = StatementResult (*)(ScriptContext& ctx, const std::string& text);

struct KeywordRow {
  std::string_view keyword;  // empty for id 0 and the label id
  int32_t id;
  ArgumentMode mode;
  // nullptr for the control statements, which the executor's own step runs
  // (blocks, loops, jumps, sleeps, suspending); never nullptr otherwise.
  StatementHandler handler;
};

// The row of an id; the row of id 0 (no keyword, no handler) for any id
// outside the table.
const KeywordRow& KeywordRowOf(int32_t id);

// Id of a lower-case keyword, or 0 when it is none.
int32_t LookupKeyword(std::string_view lowerKeyword, KeywordFlavor flavor);
// The keyword of an id, or an empty view.
inline std::string_view KeywordOf(int32_t id) {
  return KeywordRowOf(id).keyword;
}
inline ArgumentMode ArgumentModeOf(int32_t id) {
  return KeywordRowOf(id).mode;
}

struct StatementSplit {
  int32_t id = 0;
  std::string text;
};

// Cuts a line (leading white space already removed) into statement id and
// argument text; id 23 with the lower-cased label for a label line.
StatementSplit splitStatement(std::string_view line, const CodePage& cp, KeywordFlavor flavor);

struct FirstWordSplit {
  std::string head;
  std::string tail;
  bool found = false;
};

// Splits a text at the first separator (or, with an empty separator, at the
// first space, else the first tab).
FirstWordSplit splitFirstWord(std::string_view text, std::string_view separator,
                              const CodePage& cp);

}  // namespace velmar

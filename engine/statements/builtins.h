#pragma once
// The built-in functions reached through [@name<<<arg<<<arg]; their table
// (name, argument counts, fallback result, function) is in builtins.cpp.

#include <cstdint>
#include <string>
#include <string_view>

#include "values/received_text.h"
#include <vector>

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;

std::string CallBuiltin(ScriptContext& ctx, std::string_view namePart);
// The same for a name part with received parts (`nameSpans`): the arguments
// are split only outside them, and `resultSpans` gets the received spans of
// the result: all of it when an argument held received text (a file's
// content always), none for `expand`.
std::string CallBuiltinMarked(ScriptContext& ctx, std::string_view namePart,
                              const ReceivedSpans& nameSpans, ReceivedSpans& resultSpans);
// The names CallBuiltin knows, lower case, in the order it tests them; the
// manual, `velmar help` and the editor syntax files are checked against it.
std::vector<std::string_view> BuiltinNames();
// The counts (list elements, the name included) a built-in takes, for
// checking calls before a run; false for a name that is no built-in.
// `maxCount` is SIZE_MAX for any number.
bool BuiltinCounts(std::string_view lowerName, std::size_t& minCount, std::size_t& maxCount);

// The generator behind `rand`: one state per thread, 1 when the thread
// starts; state = state * 214013 + 2531011, drawing bits 16 to 30 (0..32767).
int DrawRandom();
void SeedRandom(uint32_t seed);

}  // namespace velmar

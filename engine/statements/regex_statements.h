#pragma once
// The statements `regex`, `match`, `unregex` and `replace`, and the `$`
// references that read a named expression's results.

#include <string>
#include <string_view>

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;

// Value of the name part of a `$` reference ([$name.count], [$name.N]).
// `received` tells whether the value is a capture of a match over text that
// came from outside.
std::string ReadRegexValue(ScriptContext& ctx, std::string_view namePart,
                           bool* received = nullptr);

}  // namespace velmar

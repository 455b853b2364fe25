#pragma once
// `loaddll`, `unloaddll` and the `~` references that call into the loaded
// libraries.

#include <string>
#include <string_view>

#include "ext/native_calls.h"

#include "values/received_text.h"

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;

// Value of the name part of a `~` reference: calls the function and answers
// its result as text (empty after an error).
// `nameSpans`: the received parts of the name part, where no argument
// separator is looked for.
std::string CallNative(ScriptContext& ctx, std::string_view namePart,
                       const ReceivedSpans& nameSpans = {});

}  // namespace velmar

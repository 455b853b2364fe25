#pragma once
// `loaddll`, `unloaddll` and the `~` references that call into the loaded
// libraries.

#include <string>
#include <string_view>

#include "ext/native_calls.h"

namespace velmar {

struct ScriptContext;

// Value of the name part of a `~` reference: calls the function and answers
// its result as text (empty after an error).
std::string CallNative(ScriptContext& ctx, std::string_view namePart);
// `loaddll name path`, with the stored (unexpanded) argument text.
void ExecuteLoadDll(ScriptContext& ctx, const std::string& rawText);
// `unloaddll name`, with the already expanded name.
void ExecuteUnloadDll(ScriptContext& ctx, const std::string& expandedName);

}  // namespace velmar

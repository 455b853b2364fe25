#pragma once
// The statements `regex`, `match`, `unregex` and `replace`, and the `$`
// references that read a named expression's results.

#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

void ExecuteRegex(ScriptContext& ctx, const std::string& rawText);
void ExecuteMatch(ScriptContext& ctx, const std::string& rawText);
void ExecuteUnregex(ScriptContext& ctx, const std::string& expandedText);
void ExecuteReplace(ScriptContext& ctx, const std::string& rawText);

// Value of the name part of a `$` reference ([$name.count], [$name.N]).
// `received` tells whether the value is a capture of a match over text that
// came from outside.
std::string ReadRegexValue(ScriptContext& ctx, std::string_view namePart,
                           bool* received = nullptr);

}  // namespace velmar

#pragma once
// The statements `regex`, `match`, `unregex` and `replace`.

#include <string>

namespace velmar {

struct ScriptContext;

void ExecuteRegex(ScriptContext& ctx, const std::string& rawText);
void ExecuteMatch(ScriptContext& ctx, const std::string& rawText);
void ExecuteUnregex(ScriptContext& ctx, const std::string& expandedText);
void ExecuteReplace(ScriptContext& ctx, const std::string& rawText);

}  // namespace velmar

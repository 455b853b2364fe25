#pragma once
// Bracket references and parenthesised expressions in statement arguments.

#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

// Replaces every bracket reference ([#var], [@builtin], [$regex], [%query],
// [~native], [!reserved]) by its value, in up to 100 passes.
void ExpandReferences(ScriptContext& ctx, std::string& text, int passCount = 0);
// Replaces a text that is a whole parenthesised expression by its value.
void EvaluateExpression(ScriptContext& ctx, std::string& text);
// The standard treatment of a statement argument: expand, then evaluate.
void ExpandAndEvaluate(ScriptContext& ctx, std::string& text);
// Value of the name part of a `%` reference.
std::string ReadQueryCell(ScriptContext& ctx, std::string_view namePart);
// The `var` statement, with its stored (raw) text.
void ExecuteVar(ScriptContext& ctx, const std::string& text);

}  // namespace velmar

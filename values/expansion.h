#pragma once
// Bracket references and parenthesised expressions in statement arguments.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

struct ScriptContext;

// A text never grows past this size through expansion. A pass whose result
// (or whose reference values alone) would be larger stops the expansion with
// the error "引用展开后的文本超过64MB．": the text keeps what the earlier
// passes made of it and the script ends after the statement, instead of
// doubling `[#a][#a]`-style texts until memory runs out.
constexpr std::size_t kMaxExpandedTextSize = std::size_t{64} << 20;
// The error of a text past that size; other statements that could build
// such a text (`replace`) report it too.
inline constexpr char kExpandedTextTooLong[] = "引用展开后的文本超过64MB．";
constexpr int kMaxExpansionPasses = 100;

// The limit the expansions of the calling thread apply: kMaxExpandedTextSize
// unless lowered for the thread, as the fuzz target does so that inputs
// which double a text stay fast. The error text is the same either way.
std::size_t& ExpandedTextLimit();

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

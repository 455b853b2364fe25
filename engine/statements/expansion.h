#pragma once
// Bracket references and parenthesised expressions in statement arguments.

#include <cstddef>
#include <string>
#include <string_view>

#include "values/received_text.h"
#include "values/text_limits.h"

#include "engine/statement_handlers.h"

namespace velmar {

struct ScriptContext;

constexpr int kMaxExpansionPasses = 100;

// The limit the expansions of the calling thread apply: kMaxExpandedTextSize
// unless lowered for the thread, as the fuzz target does so that inputs
// which double a text stay fast. The error text is the same either way.
std::size_t& ExpandedTextLimit();

// Replaces every bracket reference ([#var], [@builtin], [$regex], [%query],
// [~native], [!reserved]) by its value, in up to 100 passes.
void ExpandReferences(ScriptContext& ctx, std::string& text, int passCount = 0);
// The same for a text whose `marks` are received (from outside): no
// reference is found in them, and they are updated to the received parts
// of the result, values of received text included.
void ExpandMarkedReferences(ScriptContext& ctx, std::string& text, ReceivedSpans& marks,
                            int passCount = 0);
// Replaces a text that is a whole parenthesised expression by its value.
void EvaluateExpression(ScriptContext& ctx, std::string& text);
// The number of decimals an evaluated expression prints: `accuracy` with its
// blanks trimmed (and stored back trimmed), read as a leading integer.
int EvaluationDecimals(ScriptContext& ctx);
// The standard treatment of a statement argument: expand, then evaluate.
void ExpandAndEvaluate(ScriptContext& ctx, std::string& text);
// The same, keeping the received parts of the result in `marks`.
void ExpandAndEvaluate(ScriptContext& ctx, std::string& text, ReceivedSpans& marks);

}  // namespace velmar

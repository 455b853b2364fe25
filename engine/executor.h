#pragma once
// The executor: runs one parsed script on its worker thread.

#include <cstdint>
#include <string>

namespace velmar {

struct ScriptContext;

// Ends the run: empties the execution stack and sends the alert
// "出错：" + '"' + what + '"' + CR LF + "原因：" + reason.
// `what` is script text (active code page); `reasonUtf8` is one of the
// system's own messages, written in UTF-8 in the source and converted here.
void reportScriptError(ScriptContext& ctx, const std::string& what, const std::string& reasonUtf8);

// The worker body. Expects the program, the last index, `param`, `source`
// and the entry index on the execution stack; returns when the run ends,
// always after sending the state "exit".
void runScript(ScriptContext& ctx);

// Index after the block that belongs to the statement at `a` (its `{` is at
// a + 1); a + 2 when the block has no matching `}` before the final `exit`.
uint32_t findBlockEnd(const ScriptContext& ctx, uint32_t a);

// Enters the plain block whose `{` is at `b`: pushes the index after its
// matching `}` (when there is one before the final `exit`), then b + 1.
void enterBlock(ScriptContext& ctx, uint32_t b);

// The truth of an expanded condition: not empty and, trimmed, not "0".
bool IsTrueCondition(const std::string& expanded);

// The worker's safe point: waits while the host keeps it suspended and takes
// over the variables the host has handed in meanwhile.
void ReachSafePoint(ScriptContext& ctx);

}  // namespace velmar

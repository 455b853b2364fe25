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

// Marks the expansion of a statement's text. Every error reported while the
// expansion that reported a statement's first error still runs is shown (a
// text with three failing calls shows three alerts); errors the statement
// reports after that expansion are follow-on faults of the broken text and
// are not shown.
class ExpansionScope {
 public:
  ExpansionScope();
  ~ExpansionScope();
  ExpansionScope(const ExpansionScope&) = delete;
  ExpansionScope& operator=(const ExpansionScope&) = delete;
};

// The truth of an expanded condition: not empty and, trimmed, not "0".
bool IsTrueCondition(const std::string& expanded);

// The worker's safe point: waits while the host keeps it suspended and takes
// over the variables the host has handed in meanwhile.
void ReachSafePoint(ScriptContext& ctx);

}  // namespace velmar

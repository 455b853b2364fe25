#pragma once
// The executor: runs one parsed script on its worker thread.

#include <cstdint>
#include <string>

namespace velmar {

struct ScriptContext;

// Reports the script errors raised and not yet reported, each as the alert
// "出错：" + '"' + what + '"' + CR LF + "原因：" + reason, with the position of
// the statement that raised it for the host's error record.
void ReportRaisedErrors(ScriptContext& ctx);

// The worker body. Expects the program, the last index, `param`, `source`
// and the entry index on the execution stack; returns when the run ends,
// always after sending the state "exit".
void runScript(ScriptContext& ctx);

// The truth of an expanded condition: not empty and, trimmed, not "0".
bool IsTrueCondition(const std::string& expanded);

// The worker's safe point: waits while the host keeps it suspended and takes
// over the variables the host has handed in meanwhile.
void ReachSafePoint(ScriptContext& ctx);

}  // namespace velmar

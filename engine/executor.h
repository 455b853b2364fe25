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
void reportScriptError(ScriptContext& ctx, const std::string& what,
                       const std::string& reasonUtf8);

}  // namespace velmar

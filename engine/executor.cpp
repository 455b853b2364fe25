#include "engine/executor.h"

#include "engine/host_requests.h"
#include "engine/script_context.h"

namespace velmar {

void reportScriptError(ScriptContext& ctx, const std::string& what,
                       const std::string& reasonUtf8) {
  ctx.executionStack.clear();
  const CodePage& cp = ctx.codePage();
  std::string text = cp.FromUtf8("出错：\"");
  text += what;
  text += "\"\r\n";
  text += cp.FromUtf8("原因：");
  text += cp.FromUtf8(reasonUtf8);
  sendHostRequest(ctx, REQ_ALERT, text);
}

}  // namespace velmar

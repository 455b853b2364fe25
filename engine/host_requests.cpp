#include "engine/host_requests.h"

#include "engine/executor.h"
#include "engine/script_context.h"
#include "values/expansion.h"

namespace velmar {

void sendHostRequest(ScriptContext& ctx, int32_t code, const std::string& text) {
  if (ctx.host) ctx.host->handleRequest(HostRequest{code, &ctx}, text);
  // A host that suspended the worker while handling the request (a prompt
  // waiting for its answer) keeps it here until it resumes it.
  if (ctx.worker.needsAttention() && ctx.worker.isCurrentThread()) ReachSafePoint(ctx);
}

void ExecuteJsWindow(ScriptContext& ctx, const std::string& rawText) {
  std::string text = rawText;
  ExpandAndEvaluate(ctx, text);
  sendHostRequest(ctx, REQ_JSWINDOW, text);
}

}  // namespace velmar

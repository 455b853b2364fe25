#include "engine/host_requests.h"

#include "engine/executor.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"

namespace velmar {

void sendHostRequest(ScriptContext& ctx, int32_t code, const std::string& text) {
  // The alert of an error the statement raised comes before whatever the
  // statement goes on to send.
  if (!ctx.errors.pending.empty()) ReportRaisedErrors(ctx);
  if (ctx.host) ctx.host->handleRequest(HostRequest{code, &ctx}, text);
  // A host that suspended the worker while handling the request (a prompt
  // waiting for its answer) keeps it here until it resumes it.
  if (ctx.worker.needsAttention() && ctx.worker.isCurrentThread()) ReachSafePoint(ctx);
}

StatementResult ExecuteJsWindow(ScriptContext& ctx, const std::string& rawText) {
  std::string text = rawText;
  ExpandAndEvaluate(ctx, text);
  sendHostRequest(ctx, REQ_JSWINDOW, text);
  return StatementResult::Continue();
}

}  // namespace velmar

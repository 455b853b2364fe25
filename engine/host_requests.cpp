#include "engine/host_requests.h"

#include "engine/executor.h"
#include "engine/script_context.h"
#include "engine/statements/expansion.h"

namespace velmar {

namespace {

// A prompt whose form asks for a password: its answer is a secret.
bool AsksForPassword(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  for (const char* mark : {"type=password", "type=\"password\"", "type='password'"}) {
    if (lower.find(mark) != std::string::npos) return true;
  }
  return false;
}

void ReportHostRequest(ScriptContext& ctx, int32_t code, const std::string& text) {
  HostRequestReport report;
  report.code = code;
  report.text = text;
  const std::string* input = nullptr;
  if (code == REQ_PROMPT) {
    input = ctx.variables.Find("input");
    report.secret = AsksForPassword(text);
  }
  if (input) report.answer = *input;
  ctx.observer->HostRequest(report);
}

}  // namespace

void sendHostRequest(ScriptContext& ctx, int32_t code, const std::string& text) {
  // The alert of an error the statement raised comes before whatever the
  // statement goes on to send.
  if (!ctx.errors.pending.empty()) ReportRaisedErrors(ctx);
  if (ctx.host) ctx.host->handleRequest(HostRequest{code, &ctx}, text);
  // A host that suspended the worker while handling the request (a prompt
  // waiting for its answer) keeps it here until it resumes it.
  if (ctx.worker.needsAttention() && ctx.worker.isCurrentThread()) ReachSafePoint(ctx);
  if (ctx.observer && ctx.worker.isCurrentThread()) ReportHostRequest(ctx, code, text);
}

StatementResult ExecuteJsWindow(ScriptContext& ctx, const std::string& rawText) {
  std::string text = rawText;
  ExpandAndEvaluate(ctx, text);
  sendHostRequest(ctx, REQ_JSWINDOW, text);
  return StatementResult::Continue();
}

}  // namespace velmar

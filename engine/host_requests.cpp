#include "engine/host_requests.h"

#include <chrono>

#include "engine/executor.h"
#include "engine/keyword_table.h"
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
  if (!ctx.observer) {
    sendHostRequest(ctx, REQ_JSWINDOW, text);
    return StatementResult::Continue();
  }
  // The page evaluates on the UI thread; what it answered is read back here,
  // from `return` and `status`, as the script itself sees it.
  const auto started = std::chrono::steady_clock::now();
  const std::string returnBefore = ctx.variables.Get("return");
  const std::string statusBefore = ctx.variables.Get("status");
  // Emptied so that an answer shows; a request the host did not take up (no
  // window name, no such window) evaluated nothing and gets `status` back.
  ctx.variables["status"] = "";
  sendHostRequest(ctx, REQ_JSWINDOW, text);
  const std::string status = ctx.variables.Get("status");
  if (status.empty()) {
    ctx.variables["status"] = statusBefore;
    return StatementResult::Continue();
  }
  const FirstWordSplit split = splitFirstWord(text, "", ctx.codePage());
  JsEvaluationReport report;
  report.window = split.head;
  report.code = split.tail;
  report.failed = status != "1";
  const std::string returned = ctx.variables.Get("return");
  if (report.failed) {
    // A window without a page leaves `return` as it was; otherwise it holds
    // the page engine's error text.
    if (returned != returnBefore) report.error = returned;
  } else {
    report.result = returned;
  }
  report.elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now() - started)
                         .count();
  ctx.observer->JsEvaluated(report);
  return StatementResult::Continue();
}

}  // namespace velmar

#include "engine/script_context.h"

#include "engine/executor.h"
#include "engine/host_requests.h"
#include "engine/subsystem_state.h"

namespace velmar {

ScriptContext::ScriptContext(const EngineEnvironment& environment)
    : subsystems_(std::make_unique<SubsystemState>()),
      regexes(subsystems_->regexes),
      regexTexts(subsystems_->regexTexts),
      http(subsystems_->http),
      connections(subsystems_->connections),
      libraries(subsystems_->libraries),
      entryPoints(subsystems_->entryPoints),
      env(&environment) {}

ScriptContext::~ScriptContext() {
  StopWorkerAndWait();
}

void ScriptContext::StopWorkerAndWait() {
  if (worker.alive()) {
    worker.postMessage(WM_SCRIPT_STOP);
    stop.request();
    worker.signalWake();
  }
  worker.join();
}

std::string ScriptContext::Position() const {
  if (!program || !current || current->line == 0) return {};
  const std::string& file = program->FileOf(*current);
  if (file.empty()) return {};
  return file + ":" + std::to_string(current->line);
}

void ScriptContext::RaiseError(std::string what, std::string reasonUtf8) {
  if (errors.inStatement) {
    const uint64_t here = errors.expanding > 0 ? errors.expansion : 0;
    if (errors.failed && (here == 0 || here != errors.failedIn)) return;
    if (!errors.failed) errors.failedIn = here;
    errors.failed = true;
  }
  executionStack.clear();
  errorReported = true;
  errors.pending.push_back({std::move(what), std::move(reasonUtf8)});
  if (!errors.inStatement) ReportRaisedErrors(*this);
}

void ScriptContext::Diagnose(std::string_view text) {
  if (observer) observer->Diagnostic(text);
  if (!env->diagnostic) return;
  // An error raised before this diagnostic is heard first.
  if (!errors.pending.empty()) ReportRaisedErrors(*this);
  const std::string at = Position();
  if (at.empty()) {
    env->diagnostic(id, text);
    return;
  }
  std::string line = at;
  line += ": ";
  line += text;
  env->diagnostic(id, line);
}

}  // namespace velmar

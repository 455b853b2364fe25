#include "engine/script_context.h"

#include "engine/host_requests.h"

namespace velmar {

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

void ScriptContext::Diagnose(std::string_view text) const {
  if (observer) observer->Diagnostic(text);
  if (!env->diagnostic) return;
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

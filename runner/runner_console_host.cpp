#include "runner/runner_console_host.h"

namespace velmar {

// Workers call into the runner part until they end.
RunnerConsoleHost::~RunnerConsoleHost() {
  shutdown();
}

void RunnerConsoleHost::handleRequest(const HostRequest& request, const std::string& text) {
  if (runner_ != nullptr && runner_->handleRunnerRequest(request.code)) return;
  ConsoleHost::handleRequest(request, text);
}

void RunnerConsoleHost::onWorkerEnded(ScriptInstance&) {
  if (runner_ != nullptr) runner_->workerEnded();
}

}  // namespace velmar

#pragma once
// The console host of the runner: prints the scripts' requests as
// `velmar run` does and hands the runner's own requests (`showtray`,
// `hidetray`) and the end of each worker to the runner.

#include "engine/console_host.h"
#include "runner/runner_core.h"

namespace velmar {

class RunnerConsoleHost : public ConsoleHost {
 public:
  using ConsoleHost::ConsoleHost;
  ~RunnerConsoleHost() override;

  // Before the first script starts.
  void attach(RunnerCore* runner) { runner_ = runner; }

  void handleRequest(const HostRequest& request, const std::string& text) override;

 protected:
  void onWorkerEnded(ScriptInstance& instance) override;

 private:
  RunnerCore* runner_ = nullptr;
};

}  // namespace velmar

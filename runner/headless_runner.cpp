#include "runner/headless_runner.h"

#include <optional>
#include <thread>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "platform/stop_signals.h"
#include "runner/runner_console_host.h"
#include "runner/runner_core.h"
#include "runner/task_loop.h"

namespace velmar {

namespace {

class HeadlessShell : public RunnerShell {
 public:
  HeadlessShell(TaskLoop& loop, std::FILE* out, const CodePage& cp)
      : loop_(loop), out_(out), cp_(cp) {}

  void post(std::function<void()> task) override { loop_.post(std::move(task)); }
  void quit(int exitStatus) override { loop_.quit(exitStatus); }
  // One write per line: stdio keeps it whole beside the hosts' lines.
  void showMessage(const std::string& text) override {
    const std::string line = "alert: " + EscapeConsoleText(cp_.FromUtf8(text)) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }

 private:
  TaskLoop& loop_;
  std::FILE* out_;
  const CodePage& cp_;
};

}  // namespace

int RunHeadless(const std::filesystem::path& home, std::FILE* out, int inputFd,
                bool handleSignals) {
  // Blocked before any thread exists so that every worker inherits the
  // mask and only the signal thread ever takes them.
  std::optional<platform::StopSignals> signals;
  if (handleSignals) signals.emplace();

  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  env.diagnostic = ConsoleDiagnostics(stderr, "vlmpack");
  env.scriptError = ConsoleScriptErrors(stderr, "vlmpack");
  TaskLoop loop;
  RunnerConsoleHost host(env, out, inputFd);
  HeadlessShell shell(loop, out, *env.codePage);
  RunnerCore runner(host, shell, RunnerSettings::Read(env.config));
  host.attach(&runner);
  runner.start();

  std::thread signalThread;
  if (signals) {
    signalThread = std::thread([&] {
      while (signals->Wait() != 0) loop.post([&runner] { runner.quitProcedure(0); });
    });
  }
  const int status = loop.run();
  if (signalThread.joinable()) {
    signals->Release(signalThread);
    signalThread.join();
  }
  host.shutdown();
  return status;
}

}  // namespace velmar

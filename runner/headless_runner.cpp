#include "runner/headless_runner.h"

#include <atomic>
#include <optional>
#include <system_error>
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
                bool handleSignals, RunObserver* observer) {
  // Blocked before any thread exists so that every worker inherits the
  // mask and only the signal thread ever takes them.
  std::optional<platform::StopSignals> signals;
  if (handleSignals) signals.emplace();

  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  env.diagnostic = ConsoleDiagnostics(stderr, "vlmpack");
  env.scriptError = ConsoleScriptErrors(stderr, "vlmpack");
  env.observer = observer;
  TaskLoop loop;
  RunnerConsoleHost host(env, out, inputFd);
  HeadlessShell shell(loop, out, *env.codePage);
  RunnerCore runner(host, shell, RunnerSettings::Read(env.config));
  host.attach(&runner);

  // Made before the scripts' threads, so that a boot file that uses up the
  // system's threads cannot leave the runner without the one that stops it.
  // The first stop signal decides the exit status, 128 + its number, as
  // for velmar run: a supervisor sees that the runner was stopped.
  std::atomic<int> caught{0};
  std::thread signalThread;
  if (signals) {
    try {
      signalThread = std::thread([&] {
        for (int sig; (sig = signals->Wait()) != 0;) {
          int none = 0;
          caught.compare_exchange_strong(none, sig);
          loop.post([&runner] { runner.quitProcedure(0); });
        }
      });
    } catch (const std::system_error& e) {
      shell.note(std::string("cannot create the thread that takes the stop signals: ") + e.what());
    }
  }
  runner.start();
  int status = loop.run();
  if (signalThread.joinable()) {
    signals->Release(signalThread);
    signalThread.join();
  }
  host.shutdown();
  if (caught.load() != 0) status = 128 + caught.load();
  return status;
}

}  // namespace velmar

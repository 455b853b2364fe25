#include "runner/headless_runner.h"

#include <atomic>
#include <optional>
#include <system_error>
#include <thread>

#include "engine/console_host.h"
#include "engine/engine_environment.h"
#include "engine/run_deadline.h"
#include "engine/run_outcome.h"
#include "platform/socket.h"
#include "platform/stop_signals.h"
#include "runner/runner_console_host.h"
#include "runner/runner_core.h"
#include "runner/task_loop.h"

namespace velmar {

namespace {

class HeadlessShell : public RunnerShell {
 public:
  HeadlessShell(TaskLoop& loop, ConsoleHost& host) : loop_(loop), host_(host) {}

  void post(std::function<void()> task) override { loop_.post(std::move(task)); }
  void quit(int exitStatus) override { loop_.quit(exitStatus); }
  void showMessage(const std::string& text) override { host_.PrintProgramLine("alert", text); }
  // In the JSON record the runner's own notes are lines of it, beside the
  // scripts' diagnostics; otherwise they go to standard error.
  void note(const std::string& text) override {
    if (host_.jsonLines()) {
      host_.PrintProgramLine("diagnostic", text);
    } else {
      RunnerShell::note(text);
    }
  }

 private:
  TaskLoop& loop_;
  ConsoleHost& host_;
};

}  // namespace

int RunHeadless(const std::filesystem::path& home, std::FILE* out, int inputFd, bool handleSignals,
                const HeadlessOptions& options) {
  // Blocked before any thread exists so that every worker inherits the
  // mask and only the signal thread ever takes them.
  std::optional<platform::StopSignals> signals;
  if (handleSignals) signals.emplace();

  EngineEnvironment env = EngineEnvironment::ForHome(home, KeywordFlavor::kRunner);
  env.observer = options.observer;
  env.diagnostic = ConsoleDiagnostics(stderr, "vlmpack");
  env.scriptError = ConsoleScriptErrors(stderr, "vlmpack");
  TaskLoop loop;
  // A reader that has gone away shows as a failed write (see velmar run).
  if (handleSignals) platform::IgnoreBrokenPipe();
  RunnerConsoleHost host(env, out, inputFd);
  host.setJsonLines(options.jsonLines);
  if (options.jsonLines) {
    env.diagnostic = [&host](int32_t id, std::string_view text) { host.PrintDiagnostic(id, text); };
    env.scriptError = [&host](int32_t id, const ScriptErrorReport& report) {
      host.PrintScriptError(id, report);
    };
  }
  HeadlessShell shell(loop, host);
  RunnerCore runner(host, shell, RunnerSettings::Read(env.config));
  // A lost output stops every script, not only the one whose line failed.
  host.setOnOutputLost([&] { loop.post([&runner] { runner.quitProcedure(0); }); });
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
  // The deadline stops the scripts the way a stop signal does. It starts
  // before the scripts, so that their starting counts against it too.
  RunDeadline deadline;
  if (options.timeLimit) {
    try {
      deadline.Start(*options.timeLimit,
                     [&] { loop.post([&runner] { runner.quitProcedure(0); }); });
    } catch (const std::system_error& e) {
      shell.note(std::string("cannot create the thread that keeps the time limit: ") + e.what());
      loop.post([&runner] { runner.quitProcedure(0); });
    }
  }
  runner.start();
  const int status = loop.run();
  deadline.Cancel();
  if (signalThread.joinable()) {
    signals->Release(signalThread);
    signalThread.join();
  }
  host.shutdown();
  // Anything but a normal quit (the boot file's failure) is the status
  // itself; otherwise the worst of what happened to the scripts decides.
  RunOutcome outcome = RunOutcome::kEnded;
  if (status == ExitStatusOf(RunOutcome::kUnreadable)) {
    outcome = RunOutcome::kUnreadable;
  } else if (status != 0) {
    return status;
  }
  if (deadline.expired()) outcome = WorseOutcome(outcome, RunOutcome::kTimeLimit);
  for (std::size_t row = 0; row < host.instanceCount(); ++row) {
    const ScriptInstance* instance = host.instanceAt(row);
    if (instance && instance->errorReported) {
      outcome = WorseOutcome(outcome, RunOutcome::kScriptError);
    }
  }
  if (!host.outputError().empty()) {
    std::fprintf(stderr, "vlmpack: cannot write the standard output: %s; the scripts were stopped\n",
                 host.outputError().c_str());
    outcome = WorseOutcome(outcome, RunOutcome::kScriptError);
  }
  if (runner.unreadableCount() > 0) outcome = WorseOutcome(outcome, RunOutcome::kUnreadable);
  if (caught.load() != 0) outcome = WorseOutcome(outcome, OutcomeOfSignal(caught.load()));
  return ExitStatusOf(outcome);
}

}  // namespace velmar

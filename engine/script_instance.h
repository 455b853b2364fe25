#pragma once
// Script instances and the bookkeeping every host keeps about them: the
// programs by path, the instance list under the list lock, the last window
// event and the instance counter, with the operations start, run, pause,
// stop, remove, reload and the event broadcast.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/host_requests.h"
#include "engine/script_context.h"

namespace velmar {

struct ScriptInstance : ScriptContext {
  explicit ScriptInstance(const EngineEnvironment& environment) : ScriptContext(environment) {}
  ~ScriptInstance() override;

  std::string path;
  std::string param;
  // 1 while the worker is (or is about to be) suspended; guarded by the
  // host's list lock.
  int32_t paused = 1;
  int32_t row = 0;
  // The open input dialog of a pending prompt (owned by the windowed host).
  void* promptDialog = nullptr;

  // Kept for reloading.
  std::string displayName;
  // Instances share their program; the host replaces its own reference when
  // a path is loaded again, while a running instance keeps the old one.
  std::shared_ptr<const ScriptProgram> programHolder;
};

// The bookkeeping every host keeps. Which thread may call what:
//  - the host's own thread (the UI thread of a windowed program, the main
//    thread of the command line): startScript, run, pause, stop, remove,
//    reload, broadcastWindowEvent, inputDone, beginPrompt, requestStopAll,
//    waitAllEnded, shutdown;
//  - any thread: the read-only queries and listLock;
//  - the worker of the requesting script: handleRequest (the host decides
//    on which thread it does the work) and screenSize; onWorkerEnded runs
//    on the worker that has just ended.
// A derived host must stop the workers (shutdown, or requestStopAll and
// waitAllEnded) in its own destructor: a worker may call into the derived
// part until it ends, and that part is gone before this destructor runs.
// How many scripts one program runs at once. Each has its own thread; past
// a few thousand the system refuses threads anyway and the memory of so
// many scripts is gone for everything else on the machine.
inline constexpr std::size_t kMaxRunningScripts = 1000;

class ScriptHostBase : public ScriptHost {
 public:
  explicit ScriptHostBase(const EngineEnvironment& environment);
  ~ScriptHostBase() override;
  ScriptHostBase(const ScriptHostBase&) = delete;
  ScriptHostBase& operator=(const ScriptHostBase&) = delete;

  const EngineEnvironment& environment() const { return *env_; }

  // Reads and parses the script, creates its instance ("ready", paused, no
  // worker) and appends it to the list. Errors name the script's file as
  // `shownPath` when given (the path as the user typed it), else as `path`;
  // `using` lines that included nothing go to the diagnostics.
  ScriptInstance* startScript(const std::string& displayName, const std::string& path,
                              const std::string& param, const std::string& shownPath = {});
  // Creates the worker on first use, then resumes it. False when the worker
  // cannot be created, or kMaxRunningScripts are running already
  // (atRunningLimit); the instance then stays listed without one.
  bool run(ScriptInstance& instance);
  bool atRunningLimit() const { return running_.load() >= kMaxRunningScripts; }
  void pause(ScriptInstance& instance);
  void stop(ScriptInstance& instance);
  // Refused (false) while the worker is alive.
  bool remove(ScriptInstance& instance);
  // Removes an instance whose worker could not be created and takes its
  // `id` back when it is the last one given out, so the next start gets it.
  bool discardUnstarted(ScriptInstance& instance);
  // A fresh instance of the same script, parameter and name, read and parsed
  // anew; nullptr while the worker is alive.
  ScriptInstance* reload(ScriptInstance& instance);
  // Every live worker gets the event; paused ones are resumed for it.
  void broadcastWindowEvent(const WindowEvent& event);
  // The answer of a prompt (REQ_INPUT_DONE): sets `input` and lets the
  // worker go on.
  void inputDone(ScriptInstance& instance, const std::string& answer);
  // For windowed hosts answering REQ_PROMPT: remembers the dialog and keeps
  // the worker in its request until inputDone.
  void beginPrompt(ScriptInstance& instance, void* dialog);

  // Asks every live worker to stop; returns at once.
  void requestStopAll();
  // Waits until every worker has ended, at most `timeoutMs` (negative: no
  // limit); true when all have. A host whose requests are answered on the
  // waiting thread passes `answerRequests`: it is called whenever
  // notifyRequestWaiting() was called and at least every few milliseconds,
  // so that workers still asking something on their way out get their
  // answer instead of waiting for a thread that waits for them.
  bool waitAllEnded(int timeoutMs, const std::function<void()>& answerRequests = {});
  // From any thread: a request is waiting for the thread in waitAllEnded.
  void notifyRequestWaiting();
  // Stops every live worker and waits for all of them. Only for hosts that
  // answer requests on the workers' own threads (otherwise use
  // requestStopAll and waitAllEnded with `answerRequests`).
  void shutdown();

  std::size_t instanceCount() const;
  ScriptInstance* instanceAt(std::size_t row) const;
  // The listed instance with this id, or null.
  ScriptInstance* instanceWithId(int32_t id) const;
  int32_t lastId() const;
  WindowEvent lastWindowEvent() const;
  bool isPaused(const ScriptInstance& instance) const;
  std::mutex& listLock() const { return listMutex_; }

  // Answers the requests every host answers alike (23, 33, 1144); false for
  // every other code. Any thread.
  bool handleCommonRequest(const HostRequest& request, const std::string& text);

 protected:
  // Called on the worker thread after runScript has returned.
  virtual void onWorkerEnded(ScriptInstance&) {}

 private:
  static ScriptInstance* InstanceOf(const HostRequest& request);
  // The steps of stop; the caller holds the list lock.
  void StopLocked(ScriptInstance& instance);
  bool AnyAlive() const;
  void NotifyWorkerEnded();

  const EngineEnvironment* env_;
  mutable std::mutex listMutex_;
  std::map<std::string, std::shared_ptr<const ScriptProgram>> programs_;
  std::vector<std::unique_ptr<ScriptInstance>> instances_;
  WindowEvent lastEvent_;
  int32_t counter_ = 0;
  // Workers created and not yet ended.
  std::atomic<std::size_t> running_{0};
  // Wakes waitAllEnded: a worker ended or a request waits for its thread.
  std::mutex waitMutex_;
  std::condition_variable waitCv_;
  bool waitActivity_ = false;
};

}  // namespace velmar

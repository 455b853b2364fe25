#pragma once
// The part of a windowed host that needs no widgets: workers hand their
// requests to the UI thread and wait; the UI thread answers them through
// the virtual functions below, at once or, for a message box or a page,
// later. The widgets (QtHost) implement those functions; tests put a plain
// double in their place to check the waiting and completion logic with the
// thread sanitizer.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/script_instance.h"
#include "ui/request_queue.h"

namespace velmar {

class UiHostCore : public ScriptHostBase {
 public:
  // The calling thread becomes the UI thread. `wakeUiThread` must arrange,
  // from any thread, for processRequests() to run soon on the UI thread.
  UiHostCore(const EngineEnvironment& environment, std::function<void()> wakeUiThread);
  ~UiHostCore() override;

  // Worker thread: queues the request for the UI thread and waits for its
  // answer. The requests every host answers alike and `js` are answered
  // right here, on the worker, so that a long evaluation never holds the UI
  // thread; the list texts (codes 2 to 5) are queued without waiting.
  void handleRequest(const HostRequest& request, const std::string& text) override;
  // Worker thread: the copy the UI thread keeps with setScreenSize.
  ScreenSize screenSize() override;

  // Requests answered in one turn of the UI thread's event loop: a thousand
  // scripts asking at once are answered in slices, so the events queued
  // meanwhile wait for one slice, not for all of them, and only a slice of
  // workers competes with the UI thread for the processors at a time.
  static constexpr std::size_t kRequestsPerTurn = 8;

  // UI thread, from here on.
  void setScreenSize(ScreenSize size);
  // Answers what arrived, at most `max` requests (the rest wake the UI
  // thread again), and closes what belongs to requests given up.
  void processRequests(std::size_t max = kRequestsPerTurn);
  // Stop of one script that also closes its prompt at once.
  void stopScript(ScriptInstance& instance);
  // The host's own run or pause command has just written the script's state
  // cell: state texts the script queued before (or on its way to the pause)
  // are older than that and are not shown; the script's next state text
  // after it runs again is.
  void commandWroteState(ScriptInstance& instance);
  // Removal that shows the script's last queued texts and forgets its prompt
  // first; windowed programs remove scripts only through this.
  bool removeScript(ScriptInstance& instance);
  // The answer of the input dialog `dialog`: closes it and sets `input`.
  // The answer of a dialog that is no longer the instance's prompt (it was
  // closed by a stop) only closes it.
  void answerPrompt(ScriptInstance& instance, void* dialog, const std::string& answer);
  // Program exit: stops every script and waits at most `timeoutMs` while
  // still answering requests, then closes the queue so that nothing can wait
  // for this thread any more. True when every worker has ended.
  bool stopAllAndWait(int timeoutMs);
  bool isUiThread() const { return std::this_thread::get_id() == uiThread_; }

 protected:
  // Codes 2 to 5 (and the tray codes 34, 35): answered at once.
  virtual void showText(ScriptInstance* instance, int32_t code, const std::string& text);
  // A message box; the frontend calls pending->finish() when it is closed.
  virtual void openAlert(const std::shared_ptr<PendingRequest>& pending) = 0;
  // The request was given up (stop, exit): close the box or forget the
  // page call that belongs to it.
  virtual void cancelRequest(const PendingRequest& pending) = 0;
  // Writes and opens the note; answered at once.
  virtual void openNote(ScriptInstance& instance, const std::string& text) = 0;
  // Shows an input dialog for the instance and returns its handle; the
  // frontend calls answerPrompt when the person answers.
  virtual void* openPrompt(ScriptInstance& instance, const std::string& text) = 0;
  virtual void closePrompt(void* dialog) = 0;
  // Codes 24 to 29; the frontend finishes the request (at once, or when the
  // page answers for `jswindow`).
  virtual void windowRequest(const std::shared_ptr<PendingRequest>& pending) = 0;

  void onWorkerEnded(ScriptInstance& instance) override;
  // After stopAllAndWait in a derived destructor: a worker that is still
  // running (stuck past the wait) must not reach the derived host's wake-up
  // any more.
  void detachWake();

 private:
  void Dispatch(const std::shared_ptr<PendingRequest>& pending);
  // Closes the prompts of scripts that are stopping or have ended.
  void SweepPrompts();
  void ClosePromptOf(ScriptInstance& instance);
  bool StaleState(ScriptInstance& instance, const PendingRequest& pending);

  void Wake();

  RequestQueue queue_;
  std::mutex wakeGuard_;
  std::function<void()> wake_;
  const std::thread::id uiThread_;
  std::atomic<int> screenWidth_{0};
  std::atomic<int> screenHeight_{0};
  // UI thread only: requests answered later (alerts, page calls).
  std::vector<std::shared_ptr<PendingRequest>> deferred_;
  std::atomic<bool> sweepPrompts_{false};
  // UI thread only: where the last run or pause command wrote the state.
  struct StateMark {
    uint64_t sequence = 0;
    bool paused = false;
  };
  std::map<const ScriptInstance*, StateMark> stateMarks_;
  // Instances whose workers have ended since the last sweep (their `alive`
  // may still read true for a moment).
  std::mutex endedMutex_;
  std::vector<ScriptInstance*> ended_;
};

}  // namespace velmar

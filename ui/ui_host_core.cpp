#include "ui/ui_host_core.h"

#include <algorithm>

namespace velmar {

UiHostCore::UiHostCore(const EngineEnvironment& environment, std::function<void()> wakeUiThread)
    : ScriptHostBase(environment),
      queue_([this] {
        // Also wakes a UI thread that waits in stopAllAndWait.
        notifyRequestWaiting();
        Wake();
      }),
      wake_(std::move(wakeUiThread)),
      uiThread_(std::this_thread::get_id()) {}

// The derived host has called stopAllAndWait; whatever still runs here gets
// no answers any more, so joining cannot wait for this thread.
UiHostCore::~UiHostCore() {
  requestStopAll();
  queue_.close();
  shutdown();
}

void UiHostCore::handleRequest(const HostRequest& request, const std::string& text) {
  if (handleCommonRequest(request, text)) return;
  switch (request.code) {
    case REQ_JS: {
      if (!request.instance) return;
      std::string result;
      // On the requesting worker: its own stop ends the wait and the run.
      if (environment().EvaluateJs(text, result, nullptr, &request.instance->stop,
                                   request.instance->observer)) {
        request.instance->variables.SetReceived("return", std::move(result));
        request.instance->variables["status"] = "1";
      } else {
        request.instance->variables["status"] = "0";
      }
      return;
    }
    case REQ_SHOW:
    case REQ_RIGHT:
    case REQ_LEFT:
    case REQ_STATE:
      // Texts for the script list: nothing the script could notice waits on
      // them, so the worker goes on at once and the UI thread shows them in
      // order with everything else the script asks.
      if (!isUiThread()) {
        queue_.post(request, text);
        return;
      }
      break;
    case REQ_NOTE:
    case REQ_ALERT:
    case REQ_PROMPT:
    case REQ_OPENWINDOW:
    case REQ_SETWINDOW:
    case REQ_SHOWWINDOW:
    case REQ_HIDEWINDOW:
    case REQ_CLOSEWINDOW:
    case REQ_JSWINDOW:
    case REQ_SHOWTRAY:
    case REQ_HIDETRAY:
      break;
    default:
      return;  // every other code is ignored
  }
  if (isUiThread()) {
    // Nobody can wait here for this very thread: answer what can be answered
    // at once and let the rest go on without the caller.
    Dispatch(std::make_shared<PendingRequest>(request, text));
    return;
  }
  queue_.sendAndWait(request, text);
}

ScreenSize UiHostCore::screenSize() {
  return {screenWidth_.load(std::memory_order_relaxed),
          screenHeight_.load(std::memory_order_relaxed)};
}

void UiHostCore::setScreenSize(ScreenSize size) {
  screenWidth_.store(size.width, std::memory_order_relaxed);
  screenHeight_.store(size.height, std::memory_order_relaxed);
}

void UiHostCore::processRequests(std::size_t max) {
  for (const auto& pending : queue_.take(max)) Dispatch(pending);
  std::vector<std::shared_ptr<PendingRequest>> gaveUp;
  std::erase_if(deferred_, [&](const auto& pending) {
    if (!pending->over()) return false;
    if (pending->abandoned()) gaveUp.push_back(pending);
    return true;
  });
  for (const auto& pending : gaveUp) cancelRequest(*pending);
  if (sweepPrompts_.exchange(false)) SweepPrompts();
}

void UiHostCore::Dispatch(const std::shared_ptr<PendingRequest>& pending) {
  if (pending->over()) return;
  // A posted text's instance may have ended since; it is still listed (only
  // removeScript destroys instances, and it answers what is queued first).
  // Instances are destroyed only on this thread, so the pointer stays valid
  // while this runs even if the worker gives the request up meanwhile.
  ScriptInstance* instance = dynamic_cast<ScriptInstance*>(pending->instance);
  switch (pending->code) {
    case REQ_NOTE:
      if (instance) openNote(*instance, pending->text);
      pending->finish();
      return;
    case REQ_ALERT:
      openAlert(pending);
      if (!pending->over()) deferred_.push_back(pending);
      return;
    case REQ_PROMPT:
      if (instance && !instance->stop.requested()) {
        ClosePromptOf(*instance);  // a prompt left open when an event woke the script
        void* dialog = openPrompt(*instance, pending->text);
        // Suspended before the request completes: the worker leaves the
        // request only to stop at the safe point right after it.
        beginPrompt(*instance, dialog);
      }
      pending->finish();
      return;
    case REQ_OPENWINDOW:
    case REQ_SETWINDOW:
    case REQ_SHOWWINDOW:
    case REQ_HIDEWINDOW:
    case REQ_CLOSEWINDOW:
    case REQ_JSWINDOW:
      windowRequest(pending);
      if (!pending->over()) deferred_.push_back(pending);
      return;
    default:
      if (!(pending->code == REQ_STATE && instance && StaleState(*instance, *pending)))
        showText(instance, pending->code, pending->text);
      pending->finish();
      return;
  }
}

void UiHostCore::showText(ScriptInstance*, int32_t, const std::string&) {}

void UiHostCore::onWorkerEnded(ScriptInstance& instance) {
  {
    std::lock_guard<std::mutex> lock(endedMutex_);
    ended_.push_back(&instance);
  }
  sweepPrompts_.store(true);
  notifyRequestWaiting();
  Wake();
}

void UiHostCore::Wake() {
  std::lock_guard<std::mutex> lock(wakeGuard_);
  if (wake_) wake_();
}

void UiHostCore::detachWake() {
  std::lock_guard<std::mutex> lock(wakeGuard_);
  wake_ = nullptr;
}

void UiHostCore::ClosePromptOf(ScriptInstance& instance) {
  void* dialog = nullptr;
  {
    std::lock_guard<std::mutex> lock(listLock());
    std::swap(dialog, instance.promptDialog);
  }
  if (dialog) closePrompt(dialog);
}

void UiHostCore::SweepPrompts() {
  std::vector<ScriptInstance*> ended;
  {
    std::lock_guard<std::mutex> lock(endedMutex_);
    ended.swap(ended_);
  }
  std::vector<void*> dialogs;
  for (std::size_t row = 0;; ++row) {
    ScriptInstance* instance = instanceAt(row);
    if (!instance) break;
    const bool hasEnded = std::find(ended.begin(), ended.end(), instance) != ended.end();
    std::lock_guard<std::mutex> lock(listLock());
    if (instance->promptDialog &&
        (hasEnded || instance->stop.requested() || !instance->worker.alive())) {
      dialogs.push_back(instance->promptDialog);
      instance->promptDialog = nullptr;
    }
  }
  for (void* dialog : dialogs) closePrompt(dialog);
}

void UiHostCore::commandWroteState(ScriptInstance& instance) {
  stateMarks_[&instance] = {queue_.lastSequence(), isPaused(instance)};
}

bool UiHostCore::StaleState(ScriptInstance& instance, const PendingRequest& pending) {
  auto it = stateMarks_.find(&instance);
  if (it == stateMarks_.end()) return false;
  if (pending.sequence() <= it->second.sequence) return true;
  // Queued after the pause, before the worker reached the point where it
  // stops: still older than the row's "pause". An event or a stop that
  // resumed the script clears its paused flag, and its texts count again
  // (also after it suspends itself later).
  if (!it->second.paused) return false;
  if (isPaused(instance)) return true;
  it->second.paused = false;
  return false;
}

void UiHostCore::stopScript(ScriptInstance& instance) {
  if (auto it = stateMarks_.find(&instance); it != stateMarks_.end()) it->second.paused = false;
  stop(instance);
  ClosePromptOf(instance);
}

bool UiHostCore::removeScript(ScriptInstance& instance) {
  if (instance.worker.alive()) return false;
  processRequests(SIZE_MAX);  // texts the script posted before it ended name it
  ClosePromptOf(instance);
  if (!remove(instance)) return false;
  stateMarks_.erase(&instance);
  return true;
}

void UiHostCore::answerPrompt(ScriptInstance& instance, void* dialog, const std::string& answer) {
  bool current = false;
  {
    std::lock_guard<std::mutex> lock(listLock());
    current = instance.promptDialog == dialog;
  }
  closePrompt(dialog);
  if (current) inputDone(instance, answer);
}

bool UiHostCore::stopAllAndWait(int timeoutMs) {
  requestStopAll();
  SweepPrompts();
  const bool ended = waitAllEnded(timeoutMs, [this] { processRequests(SIZE_MAX); });
  processRequests(SIZE_MAX);  // the last texts of the scripts that have just ended
  queue_.close();
  processRequests(SIZE_MAX);
  return ended;
}

}  // namespace velmar

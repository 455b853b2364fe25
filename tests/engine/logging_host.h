#pragma once
// A host for engine tests (a real ScriptHostBase, unlike the plain
// RecordingHost of tests/support): logs every request under a lock, lets tests
// wait for a given request, and can hold a worker inside a request or act
// on one (as a windowed host would).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/script_instance.h"
#include "engine/script_program.h"

namespace velmar::testing {

inline std::string RequestName(int32_t code) {
  static const std::map<int32_t, std::string> kNames = {{REQ_SHOW, "show"},
                                                        {REQ_RIGHT, "right"},
                                                        {REQ_LEFT, "left"},
                                                        {REQ_STATE, "state"},
                                                        {REQ_NOTE, "note"},
                                                        {REQ_ALERT, "alert"},
                                                        {REQ_JS, "js"},
                                                        {REQ_PROMPT, "prompt"},
                                                        {REQ_OPENWINDOW, "openwindow"},
                                                        {REQ_SETWINDOW, "setwindow"},
                                                        {REQ_SHOWWINDOW, "showwindow"},
                                                        {REQ_HIDEWINDOW, "hidewindow"},
                                                        {REQ_CLOSEWINDOW, "closewindow"},
                                                        {REQ_JSWINDOW, "jswindow"},
                                                        {REQ_SUSPENDED, "suspended"},
                                                        {REQ_SHOWTRAY, "showtray"},
                                                        {REQ_HIDETRAY, "hidetray"},
                                                        {REQ_EVENT_VARS, "eventvars"}};
  auto it = kNames.find(code);
  return it == kNames.end() ? std::to_string(code) : it->second;
}

class LoggingHost : public ScriptHostBase {
 public:
  using ScriptHostBase::ScriptHostBase;
  ~LoggingHost() override {
    release();
    shutdown();
  }

  // Prompts: answered at once with this text when set; otherwise the worker
  // stays in its request until the test calls inputDone (windowed style).
  bool answerPrompts = false;
  std::string promptAnswer;
  // Called for every request after it was recorded (on the worker thread).
  std::function<void(const HostRequest&, const std::string&)> onRequest;

  void handleRequest(const HostRequest& request, const std::string& text) override {
    if (handleCommonRequest(request, text)) {
      record(request, text);
      return;
    }
    // The dialog is up before anyone can see the prompt and answer it.
    if (request.code == REQ_PROMPT) {
      if (answerPrompts) {
        request.instance->variables["input"] = promptAnswer;
      } else if (auto* instance = dynamic_cast<ScriptInstance*>(request.instance)) {
        beginPrompt(*instance, this);
      }
    }
    record(request, text);
    if (onRequest) onRequest(request, text);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!blockText_.empty() && text == blockText_) {
      cv_.wait(lock, [&] { return released_; });
    }
  }

  // Holds the worker inside the request whose text is `text` until release().
  void blockOn(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    blockText_ = text;
    released_ = false;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

  // Log entries "name:text" in arrival order.
  std::vector<std::string> log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  std::size_t count(const std::string& entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const auto& e : log_) n += e == entry;
    return n;
  }
  // Waits (generously) until `entry` has been recorded `times` times.
  bool waitFor(const std::string& entry, std::size_t times = 1, int seconds = 30) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(seconds), [&] {
      std::size_t n = 0;
      for (const auto& e : log_) n += e == entry;
      return n >= times;
    });
  }

 private:
  void record(const HostRequest& request, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(RequestName(request.code) + ":" + text);
    cv_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<std::string> log_;
  std::string blockText_;
  bool released_ = false;
};

}  // namespace velmar::testing

#include "engine/script_instance.h"

#include <algorithm>
#include <chrono>

#include "engine/executor.h"

namespace velmar {

ScriptInstance::~ScriptInstance() {
  StopWorkerAndWait();
}

ScriptHostBase::ScriptHostBase(const EngineEnvironment& environment) : env_(&environment) {}

// The last resort: derived hosts stop their workers themselves (see the
// class comment); joining here keeps threads from outliving their instances.
ScriptHostBase::~ScriptHostBase() {
  shutdown();
}

ScriptInstance* ScriptHostBase::startScript(const std::string& displayName, const std::string& path,
                                            const std::string& param, const std::string& shownPath) {
  ScriptProgram loaded = LoadScriptFile(path, *env_);
  if (!shownPath.empty()) loaded.files[0] = shownPath;
  auto program = std::make_shared<const ScriptProgram>(std::move(loaded));
  auto instance = std::make_unique<ScriptInstance>(*env_);
  instance->path = path;
  instance->param = param;
  instance->displayName = displayName;
  instance->host = this;

  std::unique_lock<std::mutex> lock(listMutex_);
  programs_[path] = program;
  instance->row = static_cast<int32_t>(instances_.size());
  instance->variables["param"] = param;
  instance->variables["source"] = path;
  instance->id = ++counter_;
  instance->programHolder = program;
  instance->program = program.get();
  instance->lastIndex = program->lastIndex();
  const uint32_t* main = program->FindLabel("<main>");
  instance->executionStack.push_back(main ? *main : 0);
  const int32_t id = instance->id;
  instances_.push_back(std::move(instance));
  ScriptInstance* started = instances_.back().get();
  // Outside the list lock: a host's diagnostics may look the script up.
  lock.unlock();
  if (env_->diagnostic) {
    for (const IncludeProblem& problem : program->includeProblems) {
      env_->diagnostic(id, program->files[problem.at.file] + ":" + std::to_string(problem.at.line) +
                               ": " + DescribeIncludeProblem(problem));
    }
  }
  return started;
}

bool ScriptHostBase::run(ScriptInstance& instance) {
  std::lock_guard<std::mutex> lock(listMutex_);
  if (!instance.worker.started()) {
    if (atRunningLimit()) return false;
    ScriptInstance* target = &instance;
    running_ += 1;
    const bool created = instance.worker.start([this, target] {
      runScript(*target);
      onWorkerEnded(*target);
      running_ -= 1;
      NotifyWorkerEnded();
    });
    if (!created) {
      running_ -= 1;
      return false;
    }
  } else if (instance.paused == 0) {
    return true;
  }
  instance.paused = instance.worker.resume() > 1 ? 1 : 0;
  return true;
}

void ScriptHostBase::pause(ScriptInstance& instance) {
  std::lock_guard<std::mutex> lock(listMutex_);
  if (instance.paused != 0) return;
  if (instance.worker.alive()) {
    instance.worker.suspend();
    instance.paused = 1;
  }
  instance.worker.signalWake();
}

void ScriptHostBase::stop(ScriptInstance& instance) {
  std::lock_guard<std::mutex> lock(listMutex_);
  StopLocked(instance);
}

void ScriptHostBase::StopLocked(ScriptInstance& instance) {
  if (!instance.worker.alive()) return;
  instance.worker.postMessage(WM_SCRIPT_STOP);
  // Cuts a network read, a long match or a prompt short.
  instance.stop.request();
  if (instance.paused != 0) instance.paused = instance.worker.resume() > 1 ? 1 : 0;
  instance.worker.signalWake();
}

bool ScriptHostBase::remove(ScriptInstance& instance) {
  std::unique_ptr<ScriptInstance> removed;
  {
    std::lock_guard<std::mutex> lock(listMutex_);
    if (instance.worker.alive()) return false;
    auto it = std::find_if(instances_.begin(), instances_.end(),
                           [&](const auto& p) { return p.get() == &instance; });
    if (it == instances_.end()) return false;
    for (auto later = it + 1; later != instances_.end(); ++later) (*later)->row -= 1;
    removed = std::move(*it);
    instances_.erase(it);
  }
  return true;  // `removed` is destroyed outside the lock
}

bool ScriptHostBase::discardUnstarted(ScriptInstance& instance) {
  const int32_t id = instance.id;
  if (instance.worker.started() || !remove(instance)) return false;
  std::lock_guard<std::mutex> lock(listMutex_);
  if (counter_ == id) counter_ -= 1;
  return true;
}

ScriptInstance* ScriptHostBase::reload(ScriptInstance& instance) {
  const std::string displayName = instance.displayName;
  const std::string path = instance.path;
  const std::string param = instance.param;
  if (!remove(instance)) return nullptr;
  return startScript(displayName, path, param);
}

void ScriptHostBase::broadcastWindowEvent(const WindowEvent& event) {
  std::lock_guard<std::mutex> lock(listMutex_);
  lastEvent_ = event;
  for (const auto& instance : instances_) {
    if (!instance->worker.alive()) continue;
    instance->worker.postMessage(WM_SCRIPT_EVENT);
    if (instance->paused != 0) instance->paused = instance->worker.resume() > 1 ? 1 : 0;
    instance->worker.signalWake();
  }
}

void ScriptHostBase::inputDone(ScriptInstance& instance, const std::string& answer) {
  std::lock_guard<std::mutex> lock(listMutex_);
  // Handed over through the worker: it may already run again (a window event
  // resumes it while the dialog stays open) and stores it at a safe point.
  instance.worker.postVariable("input", answer);
  instance.promptDialog = nullptr;
  instance.paused = instance.worker.resume() > 1 ? 1 : 0;
}

void ScriptHostBase::beginPrompt(ScriptInstance& instance, void* dialog) {
  std::lock_guard<std::mutex> lock(listMutex_);
  instance.promptDialog = dialog;
  instance.worker.suspend();
  instance.paused = instance.worker.alive() ? 1 : 0;
}

void ScriptHostBase::requestStopAll() {
  std::lock_guard<std::mutex> lock(listMutex_);
  for (const auto& instance : instances_) StopLocked(*instance);
}

bool ScriptHostBase::AnyAlive() const {
  std::lock_guard<std::mutex> lock(listMutex_);
  for (const auto& instance : instances_) {
    if (instance->worker.alive()) return true;
  }
  return false;
}

void ScriptHostBase::NotifyWorkerEnded() {
  notifyRequestWaiting();
}

void ScriptHostBase::notifyRequestWaiting() {
  {
    std::lock_guard<std::mutex> lock(waitMutex_);
    waitActivity_ = true;
  }
  waitCv_.notify_all();
}

bool ScriptHostBase::waitAllEnded(int timeoutMs, const std::function<void()>& answerRequests) {
  using Clock = std::chrono::steady_clock;
  // A worker's last steps after it notified (leaving its body) are not
  // signalled, so the wait also looks again every few milliseconds.
  constexpr auto kSlice = std::chrono::milliseconds(5);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (answerRequests) answerRequests();
    if (!AnyAlive()) return true;
    auto until = Clock::now() + kSlice;
    if (timeoutMs >= 0) {
      if (Clock::now() >= deadline) return false;
      until = std::min(until, deadline);
    }
    std::unique_lock<std::mutex> lock(waitMutex_);
    waitCv_.wait_until(lock, until, [&] { return waitActivity_; });
    waitActivity_ = false;
  }
}

void ScriptHostBase::shutdown() {
  std::vector<ScriptInstance*> all;
  {
    std::lock_guard<std::mutex> lock(listMutex_);
    for (const auto& instance : instances_) {
      all.push_back(instance.get());
      StopLocked(*instance);
    }
  }
  for (ScriptInstance* instance : all) instance->worker.join();
}

std::size_t ScriptHostBase::instanceCount() const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return instances_.size();
}

ScriptInstance* ScriptHostBase::instanceAt(std::size_t row) const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return row < instances_.size() ? instances_[row].get() : nullptr;
}

ScriptInstance* ScriptHostBase::instanceWithId(int32_t id) const {
  std::lock_guard<std::mutex> lock(listMutex_);
  for (const auto& instance : instances_) {
    if (instance->id == id) return instance.get();
  }
  return nullptr;
}

int32_t ScriptHostBase::lastId() const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return counter_;
}

WindowEvent ScriptHostBase::lastWindowEvent() const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return lastEvent_;
}

bool ScriptHostBase::isPaused(const ScriptInstance& instance) const {
  std::lock_guard<std::mutex> lock(listMutex_);
  return instance.paused != 0;
}

ScriptInstance* ScriptHostBase::InstanceOf(const HostRequest& request) {
  return dynamic_cast<ScriptInstance*>(request.instance);
}

bool ScriptHostBase::handleCommonRequest(const HostRequest& request, const std::string& text) {
  ScriptInstance* instance = InstanceOf(request);
  switch (request.code) {
    case REQ_INPUT_DONE:
      if (instance) inputDone(*instance, text);
      return true;
    case REQ_SUSPENDED:
      if (instance) {
        std::lock_guard<std::mutex> lock(listMutex_);
        instance->paused = 1;
      }
      return true;
    case REQ_EVENT_VARS: {
      if (!request.instance) return true;
      std::lock_guard<std::mutex> lock(listMutex_);
      request.instance->variables["window_name"] = lastEvent_.sourceName;
      request.instance->variables["window_event"] = lastEvent_.eventName;
      request.instance->variables.SetReceived("window_value", lastEvent_.value);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace velmar

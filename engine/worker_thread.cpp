#include "engine/worker_thread.h"

#include <chrono>
#include <system_error>

#include "engine/host_requests.h"
#include "values/variable_table.h"

namespace velmar {

namespace {
std::atomic<bool> gFailNextStart{false};
}  // namespace

void WorkerThread::FailNextStartForTesting() {
  gFailNextStart.store(true);
}

WorkerThread::~WorkerThread() {
  join();
}

bool WorkerThread::start(std::function<void()> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_.load(std::memory_order_relaxed)) return true;
  if (gFailNextStart.exchange(false)) return false;
  const uint32_t before = count_;
  count_ += 1;  // created suspended
  attention_.store(true, std::memory_order_release);
  try {
    thread_ = std::thread([this, body = std::move(body)] {
      {
        std::lock_guard<std::mutex> inner(mutex_);
        threadId_ = std::this_thread::get_id();
      }
      body();
      std::lock_guard<std::mutex> inner(mutex_);
      finished_.store(true, std::memory_order_release);
      cv_.notify_all();
    });
  } catch (const std::system_error&) {
    count_ = before;
    updateAttentionLocked();
    return false;
  }
  started_.store(true, std::memory_order_release);
  return true;
}

bool WorkerThread::isCurrentThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_.load(std::memory_order_relaxed) && threadId_ == std::this_thread::get_id();
}

void WorkerThread::join() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.get_id() == std::this_thread::get_id()) return;  // never join oneself
    t = std::move(thread_);
  }
  if (t.joinable()) t.join();
}

bool WorkerThread::waitFinished(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_.load(std::memory_order_relaxed)) return true;
  return cv_.wait_for(lock, std::chrono::milliseconds(ms),
                      [&] { return finished_.load(std::memory_order_relaxed); });
}

uint32_t WorkerThread::suspend() {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t previous = count_;
  ++count_;
  updateAttentionLocked();
  cv_.notify_all();
  return previous;
}

uint32_t WorkerThread::resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t previous = count_;
  if (count_ > 0) --count_;
  updateAttentionLocked();
  cv_.notify_all();
  return previous;
}

uint32_t WorkerThread::suspendCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

void WorkerThread::suspendSelf() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!messages_.empty()) return;
  ++count_;
  updateAttentionLocked();
}

void WorkerThread::safePoint(VariableTable& vars) {
  if (!attention_.load(std::memory_order_acquire)) return;
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return count_ == 0 || stopTaken_ || stopWaitingLocked(); });
  applyVariablesLocked(vars);
  updateAttentionLocked();
}

void WorkerThread::postMessage(int32_t message) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(message);
  updateAttentionLocked();
  cv_.notify_all();
}

bool WorkerThread::takeMessage(int32_t& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return false;
  message = messages_.front();
  messages_.pop_front();
  if (message == WM_SCRIPT_STOP) stopTaken_ = true;
  updateAttentionLocked();
  return true;
}

bool WorkerThread::stopPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopWaitingLocked();
}

bool WorkerThread::stopWaitingLocked() const {
  for (int32_t m : messages_) {
    if (m == WM_SCRIPT_STOP) return true;
  }
  return false;
}

void WorkerThread::signalWake() {
  std::lock_guard<std::mutex> lock(mutex_);
  wake_ = true;
  cv_.notify_all();
}

bool WorkerThread::sleepFor(int32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_ = false;
  const bool early = cv_.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0),
                                  [&] { return wake_ || !messages_.empty() || count_ > 0; });
  wake_ = false;
  return early;
}

void WorkerThread::postVariable(std::string name, std::string value) {
  std::lock_guard<std::mutex> lock(mutex_);
  variables_.emplace_back(std::move(name), std::move(value));
  updateAttentionLocked();
  cv_.notify_all();
}

void WorkerThread::updateAttentionLocked() {
  attention_.store(count_ > 0 || !messages_.empty() || !variables_.empty(),
                   std::memory_order_release);
}

void WorkerThread::applyVariablesLocked(VariableTable& vars) {
  // The host posts answers (a prompt's), which are received text.
  for (auto& [name, value] : variables_) vars.SetReceived(name, std::move(value));
  variables_.clear();
}

}  // namespace velmar

#pragma once
// The stop request of one script, visible to every long operation of its
// worker: a regular-expression match polls it, a network request registers
// an abort hook so that a stop cuts a slow read short at once. Portable
// itself; it sits with the platform seam because every wait the seam offers
// is cut short through it.

#include <atomic>
#include <functional>
#include <mutex>

namespace velmar {

class StopSignal {
 public:
  bool requested() const { return flag_.load(std::memory_order_relaxed); }

  // Sets the request and runs the current abort hook (on the calling thread).
  void request() {
    flag_.store(true, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mutex_);
    if (hook_) hook_();
  }
  void reset() { flag_.store(false, std::memory_order_relaxed); }

  // The hook must only touch what stays valid until ClearAbortHook returns
  // (for example shut down a socket that is closed after clearing the hook).
  void SetAbortHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
  }
  void ClearAbortHook() {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = nullptr;
  }

 private:
  std::atomic<bool> flag_{false};
  std::mutex mutex_;
  std::function<void()> hook_;
};

}  // namespace velmar

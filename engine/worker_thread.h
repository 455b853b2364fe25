#pragma once
// The worker thread of one script and the ways its host reaches it: a
// suspend counter whose operations return the previous count, a queue of
// thread messages (stop, event), an auto-reset wake event, and variable
// writes the host hands over while the worker may be running.
//
// A suspended worker is never frozen in the middle of a statement: it blocks
// only at safe points (the top of each executor turn, inside sleeps, right
// after a host request returns) while the count is above zero.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmar {

class VariableTable;

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Creates the thread suspended (count 1): the body starts running at its
  // first safe point once the count drops to zero. False when the system
  // cannot create a thread; nothing changes then.
  bool start(std::function<void()> body);
  bool started() const { return started_.load(std::memory_order_acquire); }
  // Started and its body has not returned yet.
  bool alive() const {
    return started_.load(std::memory_order_acquire) && !finished_.load(std::memory_order_acquire);
  }
  bool isCurrentThread() const;
  // Waits until the body has returned and the thread is gone.
  void join();
  // Waits at most `ms` milliseconds for the body to return; true when it has.
  bool waitFinished(int ms);

  // Both return the count before the call. Resuming a thread whose count is
  // already zero leaves it at zero.
  uint32_t suspend();
  uint32_t resume();
  uint32_t suspendCount() const;
  // The worker suspends itself (after telling the host). A message that is
  // already waiting means the host is about to resume it, so it stays awake
  // instead of sleeping through that message.
  void suspendSelf();

  // Safe point of the worker: blocks while the count is above zero, except
  // that a stop message, waiting or taken, always lets it through (so a stop
  // reaches a script that is paused twice over, for example inside a prompt,
  // and its final state requests do not stop halfway). Hands
  // the host's variable writes to `vars`.
  void safePoint(VariableTable& vars);
  // Cheap test whether safePoint or takeMessage has anything to do.
  bool needsAttention() const { return attention_.load(std::memory_order_acquire); }

  void postMessage(int32_t message);
  // Removes and returns the oldest message; false when there is none.
  bool takeMessage(int32_t& message);
  bool stopPending() const;

  // Auto-reset wake event.
  void signalWake();
  // Resets the event and waits up to `ms` for it. Returns early, true, when
  // it is signalled, a message arrives or the thread is to be suspended.
  bool sleepFor(int32_t ms);

  // A variable the host sets while the worker may be running (the answer of
  // a prompt); the worker stores it at its next safe point.
  void postVariable(std::string name, std::string value);

  // For tests of hosts: makes the next start() fail as if the system had no
  // thread to give.
  static void FailNextStartForTesting();

 private:
  void updateAttentionLocked();
  // A stop message is in the queue; the caller holds the mutex.
  bool stopWaitingLocked() const;
  void applyVariablesLocked(VariableTable& vars);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
  std::thread::id threadId_;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> attention_{false};
  uint32_t count_ = 0;
  bool wake_ = false;
  bool stopTaken_ = false;
  std::deque<int32_t> messages_;
  std::vector<std::pair<std::string, std::string>> variables_;
};

}  // namespace velmar

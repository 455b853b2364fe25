#pragma once
// The event loop of the console runner: tasks posted from any thread run one
// after the other on the thread in run(), until quit.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace velmar {

class TaskLoop {
 public:
  void post(std::function<void()> task);
  // Runs tasks until quit(); returns the status given there. Tasks still
  // queued then are dropped.
  int run();
  void quit(int exitStatus);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  int exitStatus_ = 0;
};

}  // namespace velmar

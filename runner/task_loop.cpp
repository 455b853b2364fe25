#include "runner/task_loop.h"

#include <cstdio>
#include <exception>

namespace velmar {

void TaskLoop::post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  cv_.notify_all();
}

void TaskLoop::quit(int exitStatus) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    quit_ = true;
    exitStatus_ = exitStatus;
  }
  cv_.notify_all();
}

int TaskLoop::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return quit_ || !tasks_.empty(); });
      if (quit_) return exitStatus_;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    // No exception ends the loop: the runner would abort with scripts
    // still running. What went wrong is told and the loop goes on.
    try {
      task();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vlmpack: %s\n", e.what());
    }
  }
}

}  // namespace velmar

#pragma once
// The time limit of an unattended run (`--time-limit SECONDS`): when it is
// up, the program stops its scripts the way a stop signal does, so the
// scripts still report "stop" and "exit" and the run ends cleanly.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

namespace velmar {

// The longest limit taken: a hundred years, far beyond any run, and small
// enough that the clock arithmetic cannot overflow.
inline constexpr double kMaxTimeLimitSeconds = 100.0 * 365 * 24 * 3600;

// A time limit in seconds as given on the command line: a decimal number
// above zero ("30", "0.5"). Nothing for zero, a negative number, a text that
// is no number, or one past kMaxTimeLimitSeconds.
std::optional<std::chrono::duration<double>> ParseTimeLimit(std::string_view text);

class RunDeadline {
 public:
  RunDeadline() = default;
  // Cancels a deadline that has not passed and waits for its thread.
  ~RunDeadline();
  RunDeadline(const RunDeadline&) = delete;
  RunDeadline& operator=(const RunDeadline&) = delete;

  // Calls `onExpire` once on a thread of its own when `limit` has passed,
  // unless Cancel comes first. Throws std::system_error when no thread can
  // be made.
  void Start(std::chrono::duration<double> limit, std::function<void()> onExpire);
  // After Cancel, `onExpire` has either run to its end or will never run.
  void Cancel();
  // True once `onExpire` has been called.
  bool expired() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  bool expired_ = false;
  std::thread thread_;
};

}  // namespace velmar

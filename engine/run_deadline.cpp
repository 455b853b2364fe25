#include "engine/run_deadline.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace velmar {

std::optional<std::chrono::duration<double>> ParseTimeLimit(std::string_view text) {
  // Digits with at most one decimal point: no sign, exponent, hexadecimal,
  // "inf" or "nan", which strtod would all take.
  bool digits = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  const std::string copy(text);
  const double seconds = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(seconds) || seconds <= 0 || seconds > kMaxTimeLimitSeconds) {
    return std::nullopt;
  }
  return std::chrono::duration<double>(seconds);
}

RunDeadline::~RunDeadline() {
  Cancel();
}

void RunDeadline::Start(std::chrono::duration<double> limit, std::function<void()> onExpire) {
  const auto at = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit);
  thread_ = std::thread([this, at, onExpire = std::move(onExpire)] {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (cv_.wait_until(lock, at, [this] { return cancelled_; })) return;
      expired_ = true;
    }
    onExpire();
  });
}

void RunDeadline::Cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool RunDeadline::expired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return expired_;
}

}  // namespace velmar

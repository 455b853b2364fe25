#include "ui/request_queue.h"

#include <algorithm>

#include "engine/script_context.h"

namespace velmar {

bool PendingRequest::finish(const std::function<void(ScriptContext&)>& apply) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != State::kOpen) return false;
  // The worker cannot leave while this lock is held, so `apply` writes to a
  // script that is still waiting.
  if (apply && instance) apply(*instance);
  state_ = State::kAnswered;
  cv_.notify_all();
  return true;
}

bool PendingRequest::abandoned() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_ == State::kAbandoned;
}

bool PendingRequest::over() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_ != State::kOpen;
}

RequestQueue::RequestQueue(std::function<void()> wakeUiThread) : wake_(std::move(wakeUiThread)) {}

void RequestQueue::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wakePosted_) return;
    wakePosted_ = true;
  }
  if (wake_) wake_();
}

uint64_t RequestQueue::lastSequence() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastSequence_;
}

void RequestQueue::sendAndWait(const HostRequest& request, const std::string& text) {
  auto pending = std::make_shared<PendingRequest>(request, text);
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    pending->sequence_ = ++lastSequence_;
    queue_.push_back(pending);
    // Forget finished requests now and then so the list stays as long as the
    // number of waiting workers.
    if (waiting_.size() >= 64) {
      std::erase_if(waiting_, [](const auto& weak) { return weak.expired(); });
    }
    waiting_.push_back(pending);
    wake = !wakePosted_;
    wakePosted_ = true;
  }
  if (wake && wake_) wake_();

  ScriptContext* ctx = request.instance;
  const bool stoppable = ctx && WaitsForAnswer(request.code);
  if (stoppable) {
    ctx->stop.SetAbortHook([pending] {
      std::lock_guard<std::mutex> lock(pending->mutex_);
      pending->cv_.notify_all();
    });
  }
  bool gaveUp = false;
  {
    std::unique_lock<std::mutex> lock(pending->mutex_);
    pending->cv_.wait(lock, [&] {
      return pending->state_ != PendingRequest::State::kOpen ||
             (stoppable && ctx->stop.requested());
    });
    if (pending->state_ == PendingRequest::State::kOpen) {
      pending->state_ = PendingRequest::State::kAbandoned;
      gaveUp = true;
    }
  }
  if (stoppable) ctx->stop.ClearAbortHook();
  // The UI thread closes the box or forgets the page call of this request.
  if (gaveUp) Wake();
}

void RequestQueue::post(const HostRequest& request, const std::string& text) {
  bool full = false;
  bool wake = false;
  // Freed after the lock is let go: they may hold megabytes.
  std::vector<std::shared_ptr<PendingRequest>> superseded;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    if (postedBytes_ + text.size() > kMaxPostedBytes) {
      std::erase_if(queue_, [&](const std::shared_ptr<PendingRequest>& queued) {
        if (!queued->posted_ || queued->instance != request.instance ||
            queued->code != request.code) {
          return false;
        }
        postedBytes_ -= queued->text.size();
        superseded.push_back(queued);
        return true;
      });
    }
    if (queue_.size() >= kMaxPosted || postedBytes_ + text.size() > kMaxPostedBytes) {
      full = true;
    } else {
      auto pending = std::make_shared<PendingRequest>(request, text);
      pending->posted_ = true;
      pending->sequence_ = ++lastSequence_;
      postedBytes_ += text.size();
      queue_.push_back(std::move(pending));
      wake = !wakePosted_;
      wakePosted_ = true;
    }
  }
  if (full) {
    sendAndWait(request, text);
    return;
  }
  if (wake && wake_) wake_();
}

std::vector<std::shared_ptr<PendingRequest>> RequestQueue::take(std::size_t max) {
  std::vector<std::shared_ptr<PendingRequest>> out;
  bool more = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t count = std::min(max, queue_.size());
    out.assign(std::make_move_iterator(queue_.begin()),
               std::make_move_iterator(queue_.begin() + static_cast<std::ptrdiff_t>(count)));
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    for (const auto& pending : out) {
      if (pending->posted_) postedBytes_ -= pending->text.size();
    }
    more = !queue_.empty();
    // With requests left the wake stays posted: this call posts it.
    wakePosted_ = more;
  }
  if (more && wake_) wake_();
  return out;
}

void RequestQueue::close() {
  std::vector<std::weak_ptr<PendingRequest>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
    postedBytes_ = 0;
    waiting.swap(waiting_);
  }
  for (const auto& weak : waiting) {
    if (auto pending = weak.lock()) {
      std::lock_guard<std::mutex> lock(pending->mutex_);
      if (pending->state_ == PendingRequest::State::kOpen) {
        pending->state_ = PendingRequest::State::kAbandoned;
        pending->cv_.notify_all();
      }
    }
  }
}

std::size_t RequestQueue::postedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return postedBytes_;
}

std::size_t RequestQueue::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

bool RequestQueue::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

}  // namespace velmar

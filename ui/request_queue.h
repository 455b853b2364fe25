#pragma once
// How a worker's request reaches the UI thread and how its answer comes
// back, without Qt: the worker queues the request and waits; the UI thread
// takes it, answers at once or later (a message box that is closed, a page
// that answers), and completes it. A stop of the script or the closing of
// the queue ends the wait of a request that waits for a person or a page at
// once; the UI thread learns of it and closes what belongs to it.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/host_requests.h"

namespace velmar {

class PendingRequest {
 public:
  PendingRequest(const HostRequest& request, std::string text)
      : code(request.code), instance(request.instance), text(std::move(text)) {}

  const int32_t code;
  // Valid while the request is open (the worker is still inside it); touch
  // it only inside finish().
  ScriptContext* const instance;
  const std::string text;

  // UI thread: runs `apply` on the waiting script (to set its variables) and
  // lets the worker go on. False, without running `apply`, when the request
  // is already over (answered, or given up by a stop).
  bool finish(const std::function<void(ScriptContext&)>& apply = {});
  // Order of arrival in the queue: later requests have larger numbers.
  uint64_t sequence() const { return sequence_; }
  // The worker gave up waiting (its script is stopping, or the host closed).
  bool abandoned() const;
  // Answered or abandoned.
  bool over() const;

 private:
  friend class RequestQueue;
  enum class State { kOpen, kAnswered, kAbandoned };
  // Queued by post(): nobody waits for it, and its text counts towards the
  // queue's byte limit.
  bool posted_ = false;
  uint64_t sequence_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  State state_ = State::kOpen;
};

class RequestQueue {
 public:
  // `wakeUiThread` is called (from any thread) when the UI thread has
  // something to do: a request arrived in an empty queue, or a waiting
  // request was given up. It must only post; the UI thread then calls take().
  explicit RequestQueue(std::function<void()> wakeUiThread);

  // Worker thread: queues the request and returns when it is over. Requests
  // with codes for which `waitsForAnswer` holds are given up as soon as the
  // script's stop is requested; every request is given up once the queue is
  // closed.
  void sendAndWait(const HostRequest& request, const std::string& text);

  // Worker thread: queues a list text (show, right, left, state) that needs
  // no answer and returns at once. The posted texts are bounded by count
  // and by bytes, so a script that sends faster than the UI thread answers
  // cannot fill the memory: over the byte limit, the older texts of the same
  // kind from the same script still queued are dropped first (the row only
  // ever shows the last one of each kind); if that does not make room, or
  // kMaxPosted texts are queued, the worker waits like sendAndWait.
  void post(const HostRequest& request, const std::string& text);
  static constexpr std::size_t kMaxPosted = 4096;
  static constexpr std::size_t kMaxPostedBytes = 16u << 20;
  // The bytes of the posted texts queued now, and the requests queued.
  std::size_t postedBytes() const;
  std::size_t queued() const;
  // The sequence number of the latest request queued so far.
  uint64_t lastSequence() const;

  // UI thread: the requests that arrived since the last call, oldest first,
  // at most `max`; when more are left the UI thread is woken again, so that
  // the events queued meanwhile (input, repaints) get their turn in between.
  std::vector<std::shared_ptr<PendingRequest>> take(std::size_t max = SIZE_MAX);
  // Completes every queued request unanswered; later requests return at once.
  void close();
  bool closed() const;

  // Requests that wait for a person or a page, so that a stop ends them.
  static bool WaitsForAnswer(int32_t code) { return code == REQ_ALERT || code == REQ_JSWINDOW; }

 private:
  void Wake();

  std::function<void()> wake_;
  mutable std::mutex mutex_;
  std::deque<std::shared_ptr<PendingRequest>> queue_;
  // Requests whose workers wait; closing gives them all up.
  std::vector<std::weak_ptr<PendingRequest>> waiting_;
  std::size_t postedBytes_ = 0;
  uint64_t lastSequence_ = 0;
  bool closed_ = false;
  bool wakePosted_ = false;
};

}  // namespace velmar

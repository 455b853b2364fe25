#pragma once
// A Duktape heap living on a thread of its own, so that an evaluation that
// runs past its time limit can be cut off without hanging its caller.
//
// The packaged Duktape has no execution time-out hook, so the cut-off works
// from outside: once the limit has passed, the caller signals the engine
// thread until the signal lands while the thread executes Duktape's own code
// (never while it is inside the C library, the allocator or a host
// callback). The handler then jumps out of the running call. Duktape's state
// is left half-way, so the heap is given up as a whole: every block it
// allocated went through this class's allocator and is freed in one sweep,
// and a fresh heap takes its place. No lock of the process can be held by
// the abandoned frames, since none of them belongs to code that takes one.

#include <duktape.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <functional>
#include <mutex>

namespace velmar {

class JsEngineThread {
 public:
  static constexpr std::size_t kDefaultMemoryLimit = 256u << 20;
  // guardedCall's answer when the time limit cut the call off.
  static constexpr int kCutOff = -1;

  explicit JsEngineThread(std::size_t memoryLimit = kDefaultMemoryLimit);
  ~JsEngineThread();
  JsEngineThread(const JsEngineThread&) = delete;
  JsEngineThread& operator=(const JsEngineThread&) = delete;

  // Runs the job on the engine thread and waits for it. With limitMs > 0, a
  // guarded call still running when the limit has passed is cut off.
  // Answers false when that happened; the heap is then lost until the next
  // resetHeap(). When the cut-off cannot land (a host callback that does not
  // return, a build whose signals are held back), the engine is abandoned:
  // its thread never touches anything outside its own state again, and the
  // owner must leak this object instead of destroying it.
  // A job owns everything it reads (capture by value): an abandoned thread
  // keeps its job, never the caller's frame.
  using Job = std::function<void(JsEngineThread& engine, duk_context* ctx)>;
  bool execute(Job job, int limitMs);
  bool abandoned() const { return (hostState_.load() & kAbandonedBit) != 0; }
  // Inside the engine: never returns once the engine was abandoned.
  void parkIfAbandoned();

  // Inside a job: duk_safe_call with the cut-off armed. Answers
  // DUK_EXEC_SUCCESS, DUK_EXEC_ERROR or kCutOff; after kCutOff the job must
  // not touch the context again.
  int guardedCall(duk_safe_call_function fn, void* udata, duk_idx_t nargs, duk_idx_t nrets);

  // Inside a job: gives up the current heap (if any) and creates a fresh one.
  bool resetHeap();
  // The heap; null when it could not be created or was lost.
  duk_context* context() const { return ctx_; }

  // Host callbacks run between these: a cut-off waits until they return, so
  // no frame of the host's own code is ever jumped over, and an engine is
  // given up only while it is outside the host (unless a callback does not
  // return within the grace period). enterHost parks an abandoned engine.
  void enterHost();
  void leaveHost() { hostState_.fetch_sub(1); }

  // Allocator statistics, for tests and diagnostics.
  std::size_t bytesInUse() const { return bytesInUse_; }

 private:
  struct Block;

  static void* ThreadMain(void* self);
  static void OnCutOffSignal(int, siginfo_t*, void* context);
  static void* Alloc(void* self, duk_size_t size);
  static void* Realloc(void* self, void* ptr, duk_size_t size);
  static void Free(void* self, void* ptr);
  static void Fatal(void* self, const char* message);

  void loop();
  void dropHeap();

  const std::size_t memoryLimit_;
  std::size_t bytesInUse_ = 0;
  Block* blocks_ = nullptr;
  duk_context* ctx_ = nullptr;

  // Touched by the engine thread and its signal handler only.
  sigjmp_buf jump_;
  volatile sig_atomic_t guardActive_ = 0;
  volatile sig_atomic_t cutOff_ = 0;
  std::atomic<int> cutOffRequested_{0};
  // Number of host callbacks running, plus kAbandonedBit once given up.
  static constexpr int kAbandonedBit = 1 << 30;
  std::atomic<int> hostState_{0};

  pthread_t thread_{};
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  Job job_;
  bool hasJob_ = false;
  bool jobDone_ = false;
  bool stopping_ = false;
};

}  // namespace velmar

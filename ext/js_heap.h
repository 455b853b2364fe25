#pragma once
// One Duktape heap with the limits the host puts on it: a memory cap, a
// deadline for each evaluation, and recovery from the engine's fatal errors.
//
// Everything runs on the caller's thread. Duktape checks the deadline and
// the caller's stop request itself while it executes bytecode and throws a
// RangeError once either applies (and keeps throwing until the evaluation has
// unwound), so a script that loops for ever fails like any other, and the
// heap, with its globals, stays usable. A single built-in operation runs no
// bytecode, so the allocator refuses large blocks as well once the evaluation
// is interrupted: a long join or concatenation fails at its next one. A fatal error (one Duktape
// cannot turn into a script error) leaves the heap inconsistent: the host jumps back to the
// protected call that was running, frees every block of that heap and starts a fresh one.

#include <duktape.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>

namespace velmar {

class StopSignal;

class JsHeap {
 public:
  static constexpr std::size_t kDefaultMemoryLimit = 256u << 20;
  // protectedCall's answer when a fatal error lost the heap.
  static constexpr int kLost = -1;
  // protectedCall's answer when called while another call is running.
  static constexpr int kBusy = -2;

  explicit JsHeap(std::size_t memoryLimit = kDefaultMemoryLimit);
  ~JsHeap();
  JsHeap(const JsHeap&) = delete;
  JsHeap& operator=(const JsHeap&) = delete;

  // The heap; null when it could not be created or was lost.
  duk_context* context() const { return ctx_; }
  // Drops the current heap (if any) without running any script code and
  // creates a fresh one.
  bool reset();

  // duk_safe_call on the heap. With limitMs > 0 the call (and everything it
  // runs) must finish within that time; a request on `stop` (read on this
  // thread, set from any) ends it as well. Answers DUK_EXEC_SUCCESS,
  // DUK_EXEC_ERROR, kLost or kBusy; after kLost the heap is gone (context()
  // is null) until reset(). A call made from inside another one (a host
  // callback evaluating again) is refused with kBusy.
  int protectedCall(duk_safe_call_function fn, void* udata, duk_idx_t nargs, duk_idx_t nrets,
                    int limitMs, const StopSignal* stop = nullptr);
  // Whether the last outermost protectedCall ran into its deadline.
  bool timedOut() const { return timedOut_; }
  // Whether the last outermost protectedCall was ended by its stop request.
  bool stopped() const { return stopped_; }
  // The message of the fatal error that lost the heap.
  const char* fatalMessage() const { return fatalMessage_; }

  // Allocator statistics, for tests and diagnostics.
  std::size_t bytesInUse() const { return bytesInUse_; }

  // For the engine's hooks only: whether the running call must end.
  bool interrupted() noexcept;
  [[noreturn]] void fatal(const char* message) noexcept;

 private:
  struct Block;

  static void* Alloc(void* self, duk_size_t size);
  static void* Realloc(void* self, void* ptr, duk_size_t size);
  static void Free(void* self, void* ptr);

  void drop();
  // Whether an allocation of this size is refused because the running call
  // must end.
  bool refuses(std::size_t size) noexcept;

  const std::size_t memoryLimit_;
  std::size_t bytesInUse_ = 0;
  Block* blocks_ = nullptr;
  duk_context* ctx_ = nullptr;

  int depth_ = 0;
  // Steady-clock nanoseconds; zero while no deadline applies.
  std::int64_t deadlineNs_ = 0;
  bool timedOut_ = false;
  bool stopped_ = false;
  const StopSignal* stop_ = nullptr;
  std::jmp_buf* fatalJump_ = nullptr;
  char fatalMessage_[128] = {};
};

}  // namespace velmar

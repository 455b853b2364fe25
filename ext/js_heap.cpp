#include "ext/js_heap.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/stop_signal.h"

namespace velmar {

namespace {

// The heap whose outermost protected call runs on this thread, for fatal
// errors Duktape raises without naming a heap.
thread_local JsHeap* tActiveHeap = nullptr;

// Allocations from this size on fail once the running call is interrupted.
constexpr std::size_t kLargeBlock = std::size_t{64} << 10;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// Every block carries a header linking it into its heap's list, so a heap
// lost to a fatal error can still be freed completely.
struct alignas(16) JsHeap::Block {
  Block* prev;
  Block* next;
  std::size_t size;
};

JsHeap::JsHeap(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {
  reset();
}

JsHeap::~JsHeap() {
  drop();
}

bool JsHeap::reset() {
  drop();
  ctx_ = duk_create_heap(&JsHeap::Alloc, &JsHeap::Realloc, &JsHeap::Free, this, &velmar_js_fatal);
  return ctx_ != nullptr;
}

// Frees the heap block by block instead of through duk_destroy_heap: no
// finalizer (script code) runs after its host has let the heap go, and a
// heap left inconsistent by a fatal error is never walked.
void JsHeap::drop() {
  ctx_ = nullptr;
  Block* block = blocks_;
  while (block) {
    Block* next = block->next;
    std::free(block);
    block = next;
  }
  blocks_ = nullptr;
  bytesInUse_ = 0;
}

int JsHeap::protectedCall(duk_safe_call_function fn, void* udata, duk_idx_t nargs, duk_idx_t nrets,
                          int limitMs, const StopSignal* stop) {
  if (!ctx_) return kLost;
  // A host callback evaluating on the heap it was called from would have
  // its own frames jumped over by a fatal error of the inner call.
  if (depth_ > 0) return kBusy;
  // Nothing in this frame needs a destructor: a fatal error jumps back here
  // over Duktape's frames (and the plain frames of host callbacks).
  std::jmp_buf jump;
  JsHeap* const previousActive = tActiveHeap;
  timedOut_ = false;
  stopped_ = false;
  stop_ = stop;
  deadlineNs_ = limitMs > 0 ? NowNs() + static_cast<std::int64_t>(limitMs) * 1000000 : 0;
  if (setjmp(jump) != 0) {
    depth_ = 0;
    deadlineNs_ = 0;
    stop_ = nullptr;
    fatalJump_ = nullptr;
    tActiveHeap = previousActive;
    drop();
    return kLost;
  }
  fatalJump_ = &jump;
  tActiveHeap = this;
  ++depth_;
  const int rc = duk_safe_call(ctx_, fn, udata, nargs, nrets);
  --depth_;
  tActiveHeap = previousActive;
  fatalJump_ = nullptr;
  deadlineNs_ = 0;
  stop_ = nullptr;
  return rc == DUK_EXEC_SUCCESS ? DUK_EXEC_SUCCESS : DUK_EXEC_ERROR;
}

bool JsHeap::interrupted() noexcept {
  // Once interrupted the call stays interrupted until it has unwound:
  // Duktape relies on a consistent answer to throw through every catch of
  // the script.
  if (timedOut_ || stopped_) return true;
  if (stop_ && stop_->requested()) {
    stopped_ = true;
    return true;
  }
  if (deadlineNs_ == 0 || NowNs() < deadlineNs_) return false;
  timedOut_ = true;
  return true;
}

// Only large blocks are refused: the error that unwinds an interrupted call
// needs small ones (without them Duktape throws its error-in-error instead,
// after a garbage collection for every refusal), while a built-in that runs
// long without bytecode is one that builds a large text or array.
bool JsHeap::refuses(std::size_t size) noexcept {
  return depth_ > 0 && size >= kLargeBlock && interrupted();
}

void JsHeap::fatal(const char* message) noexcept {
  std::strncpy(fatalMessage_, message ? message : "", sizeof fatalMessage_ - 1);
  fatalMessage_[sizeof fatalMessage_ - 1] = '\0';
  if (fatalJump_) std::longjmp(*fatalJump_, 1);
  // Outside every protected call no Duktape code of ours runs, so this is
  // unreachable; there is nothing left to return to.
  std::abort();
}

void* JsHeap::Alloc(void* self, duk_size_t size) {
  auto* heap = static_cast<JsHeap*>(self);
  if (size > heap->memoryLimit_ - heap->bytesInUse_ || heap->refuses(size)) return nullptr;
  auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (!block) return nullptr;
  block->prev = nullptr;
  block->next = heap->blocks_;
  block->size = size;
  if (heap->blocks_) heap->blocks_->prev = block;
  heap->blocks_ = block;
  heap->bytesInUse_ += size;
  return block + 1;
}

void* JsHeap::Realloc(void* self, void* ptr, duk_size_t size) {
  if (!ptr) return Alloc(self, size);
  auto* heap = static_cast<JsHeap*>(self);
  Block* block = static_cast<Block*>(ptr) - 1;
  if (size == 0) {
    Free(self, ptr);
    return nullptr;
  }
  // Shrinking is never refused: Duktape gives memory back while it unwinds.
  if (size > block->size &&
      (size - block->size > heap->memoryLimit_ - heap->bytesInUse_ || heap->refuses(size))) {
    return nullptr;
  }
  Block* prev = block->prev;
  Block* next = block->next;
  const std::size_t oldSize = block->size;
  auto* moved = static_cast<Block*>(std::realloc(block, sizeof(Block) + size));
  if (!moved) return nullptr;  // the old block stays valid and listed
  moved->size = size;
  if (prev) {
    prev->next = moved;
  } else {
    heap->blocks_ = moved;
  }
  if (next) next->prev = moved;
  heap->bytesInUse_ = heap->bytesInUse_ - oldSize + size;
  return moved + 1;
}

void JsHeap::Free(void* self, void* ptr) {
  if (!ptr) return;
  auto* heap = static_cast<JsHeap*>(self);
  Block* block = static_cast<Block*>(ptr) - 1;
  if (block->prev) {
    block->prev->next = block->next;
  } else {
    heap->blocks_ = block->next;
  }
  if (block->next) block->next->prev = block->prev;
  heap->bytesInUse_ -= block->size;
  std::free(block);
}

}  // namespace velmar

// The hooks our Duktape configuration names.
extern "C" duk_bool_t velmar_js_interrupted(void* heap_udata) {
  return heap_udata && static_cast<velmar::JsHeap*>(heap_udata)->interrupted() ? 1 : 0;
}

extern "C" void velmar_js_fatal(void* heap_udata, const char* message) {
  velmar::JsHeap* heap =
      heap_udata ? static_cast<velmar::JsHeap*>(heap_udata) : velmar::tActiveHeap;
  if (heap) heap->fatal(message);
  std::abort();
}

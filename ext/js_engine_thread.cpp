#include "ext/js_engine_thread.h"

#include <link.h>
#include <ucontext.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace velmar {

namespace {

// Generous: Duktape bounds its own C recursion, but a deep chain of native
// calls (sort callbacks, JSON, regular expressions) still needs room, more
// so under the sanitizers.
constexpr std::size_t kEngineStackSize = 64u << 20;
// How often the caller repeats the cut-off signal until it lands in
// Duktape's code.
constexpr auto kCutOffRetry = std::chrono::milliseconds(2);
// How long the caller keeps trying before it gives the engine thread up.
constexpr auto kCutOffGrace = std::chrono::milliseconds(1000);

// ThreadSanitizer holds asynchronous signals back until the thread enters
// one of its interceptors, which a loop inside Duktape never does; there the
// engine is given up at once instead.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSignalsLand = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSignalsLand = false;
#else
constexpr bool kSignalsLand = true;
#endif
#else
constexpr bool kSignalsLand = true;
#endif

int CutOffSignal() {
  return SIGRTMIN + 7;
}

// The engine thread's own instance, for the signal handler. Initial-exec
// TLS is read without any call, so the handler may touch it.
__thread JsEngineThread* tCurrentEngine __attribute__((tls_model("initial-exec"))) = nullptr;

// Address range of Duktape's executable code.
struct CodeRange {
  uintptr_t begin = 0;
  uintptr_t end = 0;
};

CodeRange FindDuktapeCode() {
  CodeRange range;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) -> int {
        if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libduktape")) return 0;
        auto* found = static_cast<CodeRange*>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& header = info->dlpi_phdr[i];
          if (header.p_type != PT_LOAD || !(header.p_flags & PF_X)) continue;
          const uintptr_t begin = info->dlpi_addr + header.p_vaddr;
          const uintptr_t end = begin + header.p_memsz;
          if (!found->begin || begin < found->begin) found->begin = begin;
          if (end > found->end) found->end = end;
        }
        return 1;
      },
      &range);
  return range;
}

// Written once before any engine thread runs, read by the handler.
CodeRange gDuktapeCode;

void InstallHandlerOnce(void (*handler)(int, siginfo_t*, void*)) {
  static std::once_flag once;
  std::call_once(once, [handler] {
    gDuktapeCode = FindDuktapeCode();
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(CutOffSignal(), &action, nullptr);
  });
}

uintptr_t InterruptedPc(void* context) {
  [[maybe_unused]] auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
  return 0;  // unknown machine: never cut off
#endif
}

}  // namespace

struct alignas(16) JsEngineThread::Block {
  Block* prev;
  Block* next;
  std::size_t size;
};

JsEngineThread::JsEngineThread(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {
  InstallHandlerOnce(&JsEngineThread::OnCutOffSignal);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kEngineStackSize);
  // The engine thread starts with the cut-off signal blocked and unblocks it
  // once it has registered itself for the handler.
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, CutOffSignal());
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  started_ = pthread_create(&thread_, &attributes, &JsEngineThread::ThreadMain, this) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attributes);
  // The first job waits for the heap: creating it is the thread's first act.
}

JsEngineThread::~JsEngineThread() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  pthread_join(thread_, nullptr);
}

void* JsEngineThread::ThreadMain(void* self) {
  static_cast<JsEngineThread*>(self)->loop();
  return nullptr;
}

void JsEngineThread::loop() {
  tCurrentEngine = this;
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, CutOffSignal());
  pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
  resetHeap();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || (hasJob_ && !jobDone_); });
    if (stopping_) break;
    lock.unlock();
    // The caller leaves job_ alone until the job is done (or for ever, once
    // it has given the engine up).
    job_(*this, ctx_);
    parkIfAbandoned();
    lock.lock();
    jobDone_ = true;
    finished_.notify_all();
  }
  lock.unlock();
  // Tearing the heap down block by block runs no finalizer: script code
  // never runs after its host is gone.
  dropHeap();
  pthread_sigmask(SIG_BLOCK, &own, nullptr);
  tCurrentEngine = nullptr;
}

bool JsEngineThread::execute(Job job, int limitMs) {
  if (!started_) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  job_ = std::move(job);
  hasJob_ = true;
  jobDone_ = false;
  cutOff_ = 0;
  wake_.notify_all();
  bool done = true;
  if (limitMs > 0) {
    done =
        finished_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return jobDone_; });
  } else {
    finished_.wait(lock, [this] { return jobDone_; });
  }
  if (!done) {
    const bool canCutOff = kSignalsLand && gDuktapeCode.begin != 0;
    const auto giveUp = std::chrono::steady_clock::now() + kCutOffGrace;
    bool gaveUp = false;
    cutOffRequested_.store(1);
    while (!jobDone_) {
      if (canCutOff) {
        pthread_kill(thread_, CutOffSignal());
      } else {
        // Without a cut-off the engine is given up as soon as it is outside
        // the host.
        int state = 0;
        if (hostState_.compare_exchange_strong(state, kAbandonedBit)) {
          gaveUp = true;
          break;
        }
      }
      if (std::chrono::steady_clock::now() >= giveUp) {
        hostState_.fetch_or(kAbandonedBit);
        gaveUp = true;
        break;
      }
      finished_.wait_for(lock, kCutOffRetry, [this] { return jobDone_; });
    }
    cutOffRequested_.store(0);
    // The thread may keep running the job, but it parks before it could
    // touch anything outside its own heap again.
    if (gaveUp) return false;
  }
  job_ = nullptr;
  hasJob_ = false;
  return cutOff_ == 0;
}

int JsEngineThread::guardedCall(duk_safe_call_function fn, void* udata, duk_idx_t nargs,
                                duk_idx_t nrets) {
  if (!ctx_) return kCutOff;
  // Nothing with a destructor lives in this frame: the handler jumps back
  // here over Duktape's frames only.
  if (sigsetjmp(jump_, 1) != 0) {
    guardActive_ = 0;
    cutOff_ = 1;
    // The heap's state is half-way and must never be touched again.
    ctx_ = nullptr;
    return kCutOff;
  }
  guardActive_ = 1;
  const int rc = duk_safe_call(ctx_, fn, udata, nargs, nrets);
  guardActive_ = 0;
  parkIfAbandoned();
  return rc == DUK_EXEC_SUCCESS ? DUK_EXEC_SUCCESS : DUK_EXEC_ERROR;
}

void JsEngineThread::parkIfAbandoned() {
  if (!abandoned()) return;
  for (;;) pause();
}

void JsEngineThread::enterHost() {
  int state = hostState_.load();
  for (;;) {
    if (state & kAbandonedBit) {
      for (;;) pause();
    }
    if (hostState_.compare_exchange_weak(state, state + 1)) return;
  }
}

void JsEngineThread::OnCutOffSignal(int, siginfo_t*, void* context) {
  JsEngineThread* self = tCurrentEngine;
  if (!self || !self->guardActive_ || self->hostState_.load() != 0) return;
  if (!self->cutOffRequested_.load()) return;
  const uintptr_t pc = InterruptedPc(context);
  if (pc < gDuktapeCode.begin || pc >= gDuktapeCode.end) return;
  self->guardActive_ = 0;
  siglongjmp(self->jump_, 1);
}

bool JsEngineThread::resetHeap() {
  dropHeap();
  ctx_ = duk_create_heap(&JsEngineThread::Alloc, &JsEngineThread::Realloc, &JsEngineThread::Free,
                         this, &JsEngineThread::Fatal);
  return ctx_ != nullptr;
}

void JsEngineThread::dropHeap() {
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

void* JsEngineThread::Alloc(void* self, duk_size_t size) {
  auto* engine = static_cast<JsEngineThread*>(self);
  if (size > engine->memoryLimit_ - engine->bytesInUse_) return nullptr;
  auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (!block) return nullptr;
  block->prev = nullptr;
  block->next = engine->blocks_;
  block->size = size;
  if (engine->blocks_) engine->blocks_->prev = block;
  engine->blocks_ = block;
  engine->bytesInUse_ += size;
  return block + 1;
}

void* JsEngineThread::Realloc(void* self, void* ptr, duk_size_t size) {
  if (!ptr) return Alloc(self, size);
  auto* engine = static_cast<JsEngineThread*>(self);
  Block* block = static_cast<Block*>(ptr) - 1;
  if (size == 0) {
    Free(self, ptr);
    return nullptr;
  }
  if (size > block->size && size - block->size > engine->memoryLimit_ - engine->bytesInUse_) {
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
    engine->blocks_ = moved;
  }
  if (next) next->prev = moved;
  engine->bytesInUse_ = engine->bytesInUse_ - oldSize + size;
  return moved + 1;
}

void JsEngineThread::Free(void* self, void* ptr) {
  if (!ptr) return;
  auto* engine = static_cast<JsEngineThread*>(self);
  Block* block = static_cast<Block*>(ptr) - 1;
  if (block->prev) {
    block->prev->next = block->next;
  } else {
    engine->blocks_ = block->next;
  }
  if (block->next) block->next->prev = block->prev;
  engine->bytesInUse_ -= block->size;
  std::free(block);
}

void JsEngineThread::Fatal(void* self, const char*) {
  // Duktape calls this for an error outside any protected call; it must not
  // return. Inside a guarded call the heap is given up like after a cut-off.
  auto* engine = static_cast<JsEngineThread*>(self);
  if (engine->guardActive_) {
    engine->guardActive_ = 0;
    siglongjmp(engine->jump_, 1);
  }
  std::abort();
}

}  // namespace velmar

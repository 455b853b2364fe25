#include "ext/js_heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace velmar {
namespace {

duk_ret_t EvalTop(duk_context* ctx, void* udata) {
  duk_eval_string(ctx, static_cast<const char*>(udata));
  return 1;
}

duk_ret_t FailFatally(duk_context* ctx, void*) {
  duk_eval_string_noresult(ctx, "lost = 1");
  duk_fatal(ctx, "engine gave up");
  return 0;
}

// Runs the source and answers its value as text, "error: ..." or "lost".
std::string Evaluate(JsHeap& heap, const char* source, int limitMs = 0) {
  const int rc = heap.protectedCall(&EvalTop, const_cast<char*>(source), 0, 1, limitMs);
  if (rc == JsHeap::kLost) return "lost";
  std::string text = duk_safe_to_string(heap.context(), -1);
  duk_pop(heap.context());
  return rc == DUK_EXEC_SUCCESS ? text : "error: " + text;
}

TEST(JsHeap, DeadlineThrowsAndTheHeapGoesOn) {
  JsHeap heap;
  ASSERT_NE(heap.context(), nullptr);
  EXPECT_EQ(Evaluate(heap, "g = 'kept'"), "kept");
  EXPECT_EQ(Evaluate(heap, "for(;;){}", 50), "error: RangeError: execution timeout");
  EXPECT_TRUE(heap.timedOut());
  // The next call starts with a fresh deadline and the old globals.
  EXPECT_EQ(Evaluate(heap, "g"), "kept");
  EXPECT_FALSE(heap.timedOut());
  // The value stack is balanced after a time-out.
  const duk_idx_t top = duk_get_top(heap.context());
  EXPECT_EQ(Evaluate(heap, "while(true){ try { for(;;){} } catch (e) {} }", 50),
            "error: RangeError: execution timeout");
  EXPECT_EQ(duk_get_top(heap.context()), top);
}

TEST(JsHeap, FatalErrorsLoseOnlyTheHeap) {
  JsHeap heap;
  EXPECT_EQ(Evaluate(heap, "g = 1"), "1");
  EXPECT_EQ(heap.protectedCall(&FailFatally, nullptr, 0, 0, 0), JsHeap::kLost);
  EXPECT_EQ(heap.context(), nullptr);
  EXPECT_STREQ(heap.fatalMessage(), "engine gave up");
  EXPECT_EQ(heap.bytesInUse(), 0u);
  EXPECT_EQ(Evaluate(heap, "1"), "lost");
  ASSERT_TRUE(heap.reset());
  EXPECT_EQ(Evaluate(heap, "typeof g + typeof lost"), "undefinedundefined");
}

TEST(JsHeap, MemoryCap) {
  JsHeap heap(8u << 20);
  const std::size_t base = heap.bytesInUse();
  EXPECT_GT(base, 0u);
  const std::string result = Evaluate(heap, "var s = 'x'; for(;;) s = s + s;");
  EXPECT_EQ(result, "error: Error: alloc failed");
  EXPECT_LE(heap.bytesInUse(), 8u << 20);
  EXPECT_EQ(Evaluate(heap, "'still' + ' here'"), "still here");
}

}  // namespace
}  // namespace velmar

// The executor's chunked stack against a plain vector, across the edges of
// its chunks, where a fault would lose or repeat a return point.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/execution_stack.h"

namespace velmar {
namespace {

TEST(ExecutionStack, BehavesLikeAVectorAcrossChunkEdges) {
  ExecutionStack stack;
  std::vector<uint32_t> model;
  std::mt19937 random(7);
  // Grows past several chunks with pops mixed in, shrinks to nothing, and
  // grows again; the edge of a chunk is crossed both ways many times.
  for (int round = 0; round < 3; ++round) {
    for (uint32_t i = 0; i < 70000; ++i) {
      stack.push_back(i);
      model.push_back(i);
      if (random() % 3 == 0) {
        ASSERT_EQ(stack.back(), model.back());
        stack.pop_back();
        model.pop_back();
      }
    }
    ASSERT_EQ(stack.size(), model.size());
    ASSERT_TRUE(stack == model);
    while (!model.empty()) {
      ASSERT_EQ(stack.back(), model.back());
      stack.pop_back();
      model.pop_back();
    }
    EXPECT_TRUE(stack.empty());
  }
  for (uint32_t i = 0; i < 20000; ++i) stack.push_back(i);
  stack.back() = 5;
  EXPECT_EQ(stack.back(), 5u);
  stack.clear();
  EXPECT_TRUE(stack.empty());
  stack.push_back(9);
  EXPECT_TRUE(stack == std::vector<uint32_t>{9});
}

// A stack handed over (a program started afresh takes a new one) keeps its
// entries; the one it came from is empty and usable, never a second owner.
TEST(ExecutionStack, AMoveHandsTheEntriesOver) {
  ExecutionStack from;
  for (uint32_t i = 0; i < 20000; ++i) from.push_back(i);
  ExecutionStack to = std::move(from);
  EXPECT_EQ(to.size(), 20000u);
  EXPECT_EQ(to.back(), 19999u);
  EXPECT_TRUE(from.empty());  // NOLINT(bugprone-use-after-move): its state is defined
  from.push_back(1);
  EXPECT_TRUE(from == std::vector<uint32_t>{1});
  to = ExecutionStack{4, 5};
  EXPECT_TRUE(to == std::vector<uint32_t>({4, 5}));
  to.pop_back();
  to.pop_back();
  EXPECT_TRUE(to.empty());
  to.push_back(6);
  EXPECT_EQ(to.back(), 6u);
}

}  // namespace
}  // namespace velmar

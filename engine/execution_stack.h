#pragma once
// The executor's stack of command indexes. A runaway `call` recursion grows
// it by one entry a call without end, so it is kept in fixed chunks: growing
// never copies what is there (a vector would copy hundreds of megabytes at a
// doubling while a stop waits for the statement to end), and letting it go
// is one free per chunk.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace velmar {

class ExecutionStack {
 public:
  ExecutionStack() = default;
  ExecutionStack(std::initializer_list<uint32_t> entries) {
    for (uint32_t e : entries) push_back(e);
  }

  void push_back(uint32_t index) {
    if (used_ == 0 || top_ == kChunk) {
      if (chunks_.size() == used_) chunks_.emplace_back(new uint32_t[kChunk]);
      ++used_;
      top_ = 0;
    }
    chunks_[used_ - 1][top_++] = index;
    ++size_;
  }
  void pop_back() {
    --top_;
    --size_;
    if (top_ == 0) {
      --used_;
      top_ = used_ > 0 ? kChunk : 0;
      // One empty chunk stays for the next push, so a stack that moves to
      // and fro at a chunk's edge does not allocate at every call.
      if (chunks_.size() > used_ + 1) chunks_.resize(used_ + 1);
    }
  }
  uint32_t& back() { return chunks_[used_ - 1][top_ - 1]; }
  uint32_t back() const { return chunks_[used_ - 1][top_ - 1]; }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  void clear() {
    if (chunks_.size() > 1) chunks_.resize(1);
    used_ = 0;
    top_ = 0;
    size_ = 0;
  }
  uint32_t operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }

  friend bool operator==(const ExecutionStack& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i) {
      if (a[i] != b[i]) return false;
    }
    return true;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t{1} << 14;
  std::vector<std::unique_ptr<uint32_t[]>> chunks_;
  std::size_t used_ = 0;  // chunks holding entries
  std::size_t top_ = 0;   // entries in the last of them
  std::size_t size_ = 0;
};

}  // namespace velmar

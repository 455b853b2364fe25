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
#include <utility>
#include <vector>

namespace velmar {

class ExecutionStack {
 public:
  ExecutionStack() = default;
  ExecutionStack(std::initializer_list<uint32_t> entries) {
    for (uint32_t e : entries) push_back(e);
  }
  // The cursor points into the chunks, which a move hands over whole; the
  // stack moved from is left empty.
  ExecutionStack(ExecutionStack&& other) noexcept { *this = std::move(other); }
  ExecutionStack& operator=(ExecutionStack&& other) noexcept {
    if (this == &other) return *this;
    chunks_ = std::move(other.chunks_);
    used_ = other.used_;
    base_ = other.base_;
    cur_ = other.cur_;
    end_ = other.end_;
    size_ = other.size_;
    other.chunks_.clear();
    other.used_ = other.size_ = 0;
    other.base_ = other.cur_ = other.end_ = nullptr;
    return *this;
  }

  // Every executor turn pushes and pops: the common case is a pointer
  // step inside the current chunk, the rest is out of the way.
  void push_back(uint32_t index) {
    if (cur_ == end_) NextChunk();
    *cur_++ = index;
    ++size_;
  }
  void pop_back() {
    --cur_;
    --size_;
    // The first chunk stays current when it empties: a script's stack goes
    // from one entry to none and back at nearly every statement.
    if (cur_ == base_ && used_ > 1) PreviousChunk();
  }
  uint32_t& back() { return cur_[-1]; }
  uint32_t back() const { return cur_[-1]; }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  void clear() {
    if (chunks_.size() > 1) chunks_.resize(1);
    used_ = 0;
    base_ = cur_ = end_ = nullptr;
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

  [[gnu::noinline]] void NextChunk() {
    if (chunks_.size() == used_) chunks_.emplace_back(new uint32_t[kChunk]);
    base_ = chunks_[used_++].get();
    cur_ = base_;
    end_ = base_ + kChunk;
  }
  // The current chunk became empty: the entries go on in the one before.
  [[gnu::noinline]] void PreviousChunk() {
    --used_;
    // One empty chunk stays for the next push, so a stack that moves to
    // and fro at a chunk's edge does not allocate at every call.
    if (chunks_.size() > used_ + 1) chunks_.resize(used_ + 1);
    if (used_ == 0) {
      base_ = cur_ = end_ = nullptr;
      return;
    }
    base_ = chunks_[used_ - 1].get();
    cur_ = end_ = base_ + kChunk;
  }

  std::vector<std::unique_ptr<uint32_t[]>> chunks_;
  std::size_t used_ = 0;  // chunks holding entries
  // The last chunk holding entries: its start, the next free entry, its end.
  uint32_t* base_ = nullptr;
  uint32_t* cur_ = nullptr;
  uint32_t* end_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace velmar

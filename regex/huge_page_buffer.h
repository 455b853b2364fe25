#pragma once
// An uninitialised buffer for one large text, such as a whole file and its
// UTF-16 form in the command-line tester. Fresh memory costs a page fault per
// page on first touch, which for texts of many megabytes outweighs the
// matching itself; a large buffer comes from the platform's large blocks,
// which ask for huge pages, so that one fault brings in two megabytes.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "platform/large_memory.h"

namespace velmar {

template <typename T>
class HugePageBuffer {
 public:
  HugePageBuffer() = default;
  explicit HugePageBuffer(std::size_t count) { Allocate(count); }
  HugePageBuffer(const HugePageBuffer&) = delete;
  HugePageBuffer& operator=(const HugePageBuffer&) = delete;
  HugePageBuffer(HugePageBuffer&& other) noexcept { *this = std::move(other); }
  HugePageBuffer& operator=(HugePageBuffer&& other) noexcept {
    if (this != &other) {
      Free();
      data_ = other.data_;
      bytes_ = other.bytes_;
      mapped_ = other.mapped_;
      other.data_ = nullptr;
      other.bytes_ = 0;
      other.mapped_ = false;
    }
    return *this;
  }
  ~HugePageBuffer() { Free(); }

  T* data() const { return data_; }

 private:
  void Allocate(std::size_t count) {
    bytes_ = count * sizeof(T);
    if (bytes_ >= platform::kLargeBlockFrom) {
      void* p = platform::MapLargeBlock(bytes_);
      if (!p) throw std::bad_alloc();
      data_ = static_cast<T*>(p);
      mapped_ = true;
      return;
    }
    data_ = new T[count == 0 ? 1 : count];
  }
  void Free() {
    if (mapped_) {
      platform::UnmapLargeBlock(data_, bytes_);
      data_ = nullptr;
      mapped_ = false;
      return;
    }
    delete[] data_;
    data_ = nullptr;
  }

  T* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

}  // namespace velmar

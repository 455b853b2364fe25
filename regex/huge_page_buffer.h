#pragma once
// An uninitialised buffer for one large text, such as a whole file and its
// UTF-16 form in the command-line tester. Fresh memory costs a page fault per
// page on first touch, which for texts of many megabytes outweighs the
// matching itself; on Linux a large buffer asks for transparent huge pages,
// so that one fault brings in two megabytes.

#include <cstddef>
#include <memory>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

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
  static constexpr std::size_t kHugeFrom = std::size_t{4} << 20;

  void Allocate(std::size_t count) {
    bytes_ = count * sizeof(T);
#ifdef __linux__
    if (bytes_ >= kHugeFrom) {
      void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      madvise(p, bytes_, MADV_HUGEPAGE);  // only advice: without it pages are small
      data_ = static_cast<T*>(p);
      mapped_ = true;
      return;
    }
#endif
    data_ = new T[count == 0 ? 1 : count];
  }
  void Free() {
#ifdef __linux__
    if (mapped_) {
      munmap(data_, bytes_);
      data_ = nullptr;
      mapped_ = false;
      return;
    }
#endif
    delete[] data_;
    data_ = nullptr;
  }

  T* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

}  // namespace velmar

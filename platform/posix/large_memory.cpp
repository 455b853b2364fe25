#include "platform/large_memory.h"

#include <sys/mman.h>

namespace velmar::platform {

void* MapLargeBlock(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);  // only advice: without it pages are small
#endif
  return p;
}

void UnmapLargeBlock(void* block, std::size_t bytes) {
  if (block) munmap(block, bytes);
}

}  // namespace velmar::platform

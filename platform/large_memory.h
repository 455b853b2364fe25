#pragma once
// Memory for one large text straight from the system. Fresh memory costs a
// page fault per page on first touch, which for texts of many megabytes
// outweighs the matching itself; where the system has huge pages the block
// asks for them, so that one fault brings in two megabytes.

#include <cstddef>

namespace velmar::platform {

// Blocks at least this large are worth taking from the system.
inline constexpr std::size_t kLargeBlockFrom = std::size_t{4} << 20;

// A zero-filled block of `bytes`, or null when the system has no such
// memory to give (the caller then allocates as usual).
void* MapLargeBlock(std::size_t bytes);
void UnmapLargeBlock(void* block, std::size_t bytes);

}  // namespace velmar::platform

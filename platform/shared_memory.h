#pragma once
// Shareable committed memory: zeroed pages backed by a sealed memory file, so
// that the device host can map the same memory when a driver is given an
// address inside it.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Allocates `size` bytes (rounded up to whole pages), zeroed, read-write.
// Null with the last error set (87 for size 0, 8 when out of memory).
void* allocateShareable(size_t size);

// Frees a block by its base address. False with last error 87 for an address
// that is not the base of a block. A driver that mapped the block keeps its
// own mapping.
bool freeShareable(void* base);

// The block containing [address, address + length), for handing its memory
// to another process.
struct ShareableBlock {
  int fd = -1;               // the memory file; valid while the holder lives
  size_t offset = 0;         // of `address` from the block's base
  size_t size = 0;           // of the whole block
};
// Null (last error 87) when the range is not wholly inside one block.
std::shared_ptr<const ShareableBlock> findShareable(const void* address, size_t length);

}  // namespace platform

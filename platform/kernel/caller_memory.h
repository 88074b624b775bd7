#pragma once
// A range of a caller's shareable memory as the host maps it: only the pages
// the range needs, of a memory file that can never shrink under the mapping.

#include <cstdint>
#include <memory>

#include "platform/kernel/driver.h"

namespace platform::kernel {

// Maps [offset, offset + length) of the memory file `fd`. The file must be a
// memfd on shared memory (not huge pages, whose faults can fail) sealed
// against shrinking, and hold the whole range: STATUS_INVALID_PARAMETER
// otherwise, STATUS_INSUFFICIENT_RESOURCES when the mapping fails.
NtStatus mapCallerMemory(int fd, uint64_t offset, uint64_t length, std::shared_ptr<MappedMemory>* memory);

}  // namespace platform::kernel

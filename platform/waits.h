#pragma once
// Waits on one or up to 64 handles, with a time-out in milliseconds.
//
// Results: WAIT_OBJECT_0 + the lowest index of a signalled handle,
// WAIT_TIMEOUT on time-out, WAIT_IO_COMPLETION when an alertable wait ran
// completion routines queued to this thread, WAIT_ABANDONED_0 + index for a
// mutex whose owner ended without releasing it, and WAIT_FAILED with the last
// error set for a bad handle or count.

#include <cstdint>

#include "platform/handles.h"

namespace platform {

uint32_t waitForSingle(Handle handle, uint32_t milliseconds, bool alertable = false);
uint32_t waitForMultiple(uint32_t count, const Handle* handles, uint32_t milliseconds, bool alertable = false);

// Sleeps; an alertable sleep returns WAIT_IO_COMPLETION early when completion
// routines ran, 0 otherwise.
void sleepMs(uint32_t milliseconds);
uint32_t sleepEx(uint32_t milliseconds, bool alertable);

}  // namespace platform

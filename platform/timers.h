#pragma once
// Waitable timers. A timer is signalled at its due time and then every period;
// a manual-reset timer stays signalled until it is set again, a
// synchronization timer releases one wait per expiry. A completion routine
// given when arming runs on the arming thread, and only while that thread
// waits alertably; expiries that happen while a call is still queued are
// folded into that call.

#include <cstdint>

#include "platform/handles.h"

namespace platform {

// lowValue/highValue: the time of the expiry as 100-ns intervals since 1601 (UTC).
using TimerCompletionRoutine = void (*)(void* argument, uint32_t lowValue, uint32_t highValue);

// Creates an unnamed timer; a name is not supported (null, last error 50).
Handle createWaitableTimer(bool manualReset, const char16_t* name);

// Arms the timer. dueTime < 0: relative, in 100-ns units; dueTime >= 0: an
// absolute time in 100-ns intervals since 1601 (UTC). periodMs 0 fires once;
// a negative period is invalid (87). Arming clears the signalled state and any
// queued completion call. `resume` is not supported: the timer is armed and
// the last error is 50, as the original system reports it.
bool setWaitableTimer(Handle timer, int64_t dueTime, int32_t periodMs, TimerCompletionRoutine routine, void* argument,
                      bool resume);

// Disarms the timer and withdraws a queued completion call; the signalled
// state is kept.
bool cancelWaitableTimer(Handle timer);

}  // namespace platform

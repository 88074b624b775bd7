#pragma once
// Mutexes: owned by one thread at a time, re-entrant for the owner, waitable.
// A named mutex is shared by every process of the same system root; it exists
// while any process holds a handle to it and ends with the last one, also when
// a process dies. Ownership held by a process that dies without releasing is
// handed on as abandoned (WAIT_ABANDONED_0).

#include "platform/handles.h"

namespace platform {

// Creates a mutex, or opens the existing one of that name. The last error is
// 183 when a named mutex existed already (the handle is still returned and the
// initial ownership is not taken), 0 otherwise. Null on failure.
Handle createMutex(bool initialOwner, const char16_t* name);

// Opens an existing named mutex; null with last error 2 when none exists.
Handle openMutex(const char16_t* name);

// Releases one level of ownership. False with 288 when the caller does not own it.
bool releaseMutex(Handle mutex);

}  // namespace platform

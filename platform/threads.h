#pragma once
// Threads with a stack size, identifiers, exit codes and priorities. A thread's
// handle is signalled when its procedure has returned.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/handles.h"

namespace platform {

inline constexpr uint32_t CREATE_SUSPENDED = 0x4;
inline constexpr uint32_t STILL_ACTIVE = 259;

inline constexpr int THREAD_PRIORITY_IDLE = -15;
inline constexpr int THREAD_PRIORITY_LOWEST = -2;
inline constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;
inline constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
inline constexpr int THREAD_PRIORITY_HIGHEST = 2;
inline constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

using ThreadProcedure = std::function<uint32_t()>;

// Starts a thread running `procedure`; its return value is the exit code.
// A stack size of 0 takes the default. With CREATE_SUSPENDED the thread waits
// for resumeThread. Returns null with the last error set on failure.
Handle createThread(size_t stackSize, ThreadProcedure procedure, uint32_t creationFlags, uint32_t* threadId);

// Lets a thread created suspended run. False (last error 6) for a bad handle.
bool resumeThread(Handle thread);

// STILL_ACTIVE while the thread runs.
bool getExitCodeThread(Handle thread, uint32_t* exitCode);

// The identifier of a thread handle's thread (0 with last error 6 for a bad handle).
uint32_t threadIdOf(Handle thread);

uint32_t currentThreadId();

// Sets a priority level (THREAD_PRIORITY_...). Time-critical asks for the
// highest real-time priority the system grants and falls back to the best
// ordinary one; a refusal by the system is not an error.
bool setThreadPriority(Handle thread, int priority);
bool setCurrentThreadPriority(int priority);
// The level last set (THREAD_PRIORITY_NORMAL when none was).
int currentThreadPriority();

// Whether the calling thread runs under a real-time scheduling policy.
bool currentThreadIsRealTime();

}  // namespace platform

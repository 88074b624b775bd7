#pragma once
// Clocks and the timer period requests of the multimedia timer interface.

#include <cstdint>

namespace platform {

inline constexpr uint32_t TIMERR_NOERROR = 0;
inline constexpr uint32_t TIMERR_NOCANDO = 97;

// Milliseconds since the system started; wraps after 49.7 days.
uint32_t tickCount();
uint64_t tickCount64();

// The multimedia timer's millisecond count: milliseconds since the system
// started, advancing in the steps of the finest period requested.
uint32_t timeGetTime();

// High-resolution counter and its frequency (counts per second).
int64_t performanceCounter();
int64_t performanceFrequency();

// Current time as 100-ns intervals since 1601-01-01 UTC.
uint64_t systemTimeAsFileTime();

// Requests and ends a minimum timer resolution in milliseconds. Linux timers
// already run at their finest resolution, so this only checks and counts the
// requests (periods must be 1..1000 ms).
uint32_t timeBeginPeriod(uint32_t periodMs);
uint32_t timeEndPeriod(uint32_t periodMs);
// Outstanding requests for a period, for tests.
int activeTimePeriodRequests(uint32_t periodMs);

}  // namespace platform

#include "platform/clock.h"

#include <time.h>

#include <array>
#include <atomic>

namespace platform {

namespace {
constexpr uint32_t kMaxPeriodMs = 1000;
std::array<std::atomic<int>, kMaxPeriodMs + 1> g_periodRequests{};

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;

int64_t nanoseconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

uint64_t tickCount64() { return static_cast<uint64_t>(nanoseconds(CLOCK_MONOTONIC) / 1000000); }

uint32_t tickCount() { return static_cast<uint32_t>(tickCount64()); }

uint32_t timeGetTime() { return tickCount(); }

int64_t performanceCounter() { return nanoseconds(CLOCK_MONOTONIC); }

int64_t performanceFrequency() { return 1000000000; }

uint64_t systemTimeAsFileTime() {
  const int64_t ns = nanoseconds(CLOCK_REALTIME);
  return static_cast<uint64_t>(ns / 100) + kEpochDifferenceSeconds * 10000000ULL;
}

uint32_t timeBeginPeriod(uint32_t periodMs) {
  if (periodMs == 0 || periodMs > kMaxPeriodMs) return TIMERR_NOCANDO;
  ++g_periodRequests[periodMs];
  return TIMERR_NOERROR;
}

uint32_t timeEndPeriod(uint32_t periodMs) {
  if (periodMs == 0 || periodMs > kMaxPeriodMs) return TIMERR_NOCANDO;
  int current = g_periodRequests[periodMs].load();
  do {
    if (current == 0) return TIMERR_NOCANDO;
  } while (!g_periodRequests[periodMs].compare_exchange_weak(current, current - 1));
  return TIMERR_NOERROR;
}

int activeTimePeriodRequests(uint32_t periodMs) {
  if (periodMs == 0 || periodMs > kMaxPeriodMs) return 0;
  return g_periodRequests[periodMs].load();
}

}  // namespace platform

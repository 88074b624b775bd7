// Cross-process wake-up latency: one process signals an event, another wakes
// from its wait and answers on a second event. Our events and waits against
// bare eventfds with poll(), in the same run. Prints p50 and p99 round trips.

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/waits.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmup = 2000;
constexpr int kRounds = 20000;

struct Figures {
  double p50;
  double p99;
};

Figures percentiles(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// Runs `rounds` ping-pongs: signal(ping) then wait(pong), timing each.
Figures measure(const std::function<void()>& signalPing, const std::function<void()>& waitPong) {
  std::vector<double> samples;
  samples.reserve(kRounds);
  for (int i = 0; i < kWarmup + kRounds; ++i) {
    const auto start = Clock::now();
    signalPing();
    waitPong();
    const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (i >= kWarmup) samples.push_back(elapsed);
  }
  return percentiles(std::move(samples));
}

void rawSignal(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

void rawWait(int fd) {
  pollfd p{fd, POLLIN, 0};
  ::poll(&p, 1, -1);
  uint64_t value;
  [[maybe_unused]] auto n = ::read(fd, &value, sizeof value);
}

Figures rawRoundTrip() {
  const int ping = ::eventfd(0, EFD_CLOEXEC);
  const int pong = ::eventfd(0, EFD_CLOEXEC);
  testing_support::ChildProcess child([&] {
    for (int i = 0; i < kWarmup + kRounds; ++i) {
      rawWait(ping);
      rawSignal(pong);
    }
    return 0;
  });
  const Figures f = measure([&] { rawSignal(ping); }, [&] { rawWait(pong); });
  child.wait();
  ::close(ping);
  ::close(pong);
  return f;
}

Figures platformRoundTrip() {
  using namespace platform;
  Handle ping = createEvent(false, false);
  Handle pong = createEvent(false, false);
  testing_support::ChildProcess child([&] {
    for (int i = 0; i < kWarmup + kRounds; ++i) {
      waitForSingle(ping, INFINITE);
      setEvent(pong);
    }
    return 0;
  });
  const Figures f = measure([&] { setEvent(ping); }, [&] { waitForSingle(pong, INFINITE); });
  child.wait();
  closeHandle(ping);
  closeHandle(pong);
  return f;
}

}  // namespace

int main() {
  std::printf("Cross-process event round trip (signal -> wake -> signal back -> wake), %d rounds\n", kRounds);
  const Figures raw = rawRoundTrip();
  const Figures ours = platformRoundTrip();
  std::printf("%-28s p50 %8.2f us   p99 %8.2f us\n", "raw eventfd + poll", raw.p50, raw.p99);
  std::printf("%-28s p50 %8.2f us   p99 %8.2f us\n", "platform event + wait", ours.p50, ours.p99);
  std::printf("ratio (platform / raw)       p50 %8.2f      p99 %8.2f\n", ours.p50 / raw.p50, ours.p99 / raw.p99);
  return 0;
}

// The ASIO pacing thread's period accuracy (64 frames at 48 kHz, 1333.3 us)
// as an ASIO host in another process sees it, against a bare clock_nanosleep
// loop with the same period and against such a loop that signals an eventfd
// to a waiting thread; and request round trips to the simulated driver
// against the test driver's bare answers of the same sizes. The device host
// runs in a child process. Usage: pacing_bench [SECONDS] (default 10).

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_statistics.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/shared_memory.h"
#include "platform/waits.h"
#include "tests/kernel/test_driver_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;

namespace {

constexpr uint32_t kFrames = 64;
constexpr uint32_t kRate = 48000;
constexpr double kPeriodMicroseconds = 1e6 * kFrames / kRate;

int64_t nowNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void tryRealTime() {
  sched_param parameter{};
  parameter.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameter);
}

struct Accuracy {
  size_t periods = 0;
  double meanPeriod = 0;
  double p50 = 0;
  double p99 = 0;
  double worst = 0;
};

// Deviations of the intervals between wake-ups from the period.
Accuracy accuracy(const std::vector<int64_t>& wakes) {
  Accuracy result;
  if (wakes.size() < 3) return result;
  std::vector<double> deviations;
  for (size_t i = 1; i < wakes.size(); ++i) {
    deviations.push_back(std::fabs((wakes[i] - wakes[i - 1]) / 1000.0 - kPeriodMicroseconds));
  }
  std::sort(deviations.begin(), deviations.end());
  result.periods = deviations.size();
  result.meanPeriod = (wakes.back() - wakes.front()) / 1000.0 / static_cast<double>(deviations.size());
  result.p50 = deviations[deviations.size() / 2];
  result.p99 = deviations[deviations.size() * 99 / 100];
  result.worst = deviations.back();
  return result;
}

// Absolute deadlines of the same period, as the pacing thread computes them.
template <typename OnWake>
void nanosleepLoop(double seconds, OnWake onWake) {
  const double period = 1e9 * kFrames / kRate;
  const int64_t epoch = nowNanoseconds();
  const auto ticks = static_cast<int64_t>(seconds * 1e9 / period);
  for (int64_t tick = 1; tick <= ticks; ++tick) {
    const int64_t deadline = epoch + std::llround(static_cast<double>(tick) * period);
    timespec due{static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
    }
    onWake();
  }
}

Accuracy bareNanosleep(double seconds) {
  std::vector<int64_t> wakes;
  wakes.reserve(static_cast<size_t>(seconds * 1000));
  std::thread thread([&] {
    tryRealTime();
    nanosleepLoop(seconds, [&] { wakes.push_back(nowNanoseconds()); });
  });
  thread.join();
  return accuracy(wakes);
}

Accuracy nanosleepSignallingAnEvent(double seconds) {
  const int event = eventfd(0, EFD_CLOEXEC);
  std::vector<int64_t> wakes;
  wakes.reserve(static_cast<size_t>(seconds * 1000));
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    tryRealTime();
    pollfd wait{event, POLLIN, 0};
    while (!done.load()) {
      if (poll(&wait, 1, 100) <= 0) continue;
      uint64_t count = 0;
      if (read(event, &count, sizeof count) == sizeof count) wakes.push_back(nowNanoseconds());
    }
  });
  std::thread timer([&] {
    tryRealTime();
    nanosleepLoop(seconds, [&] {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t written = write(event, &one, sizeof one);
    });
  });
  timer.join();
  done = true;
  waiter.join();
  close(event);
  return accuracy(wakes);
}

class Device {
 public:
  explicit Device(std::u16string_view link)
      : handle_(openDevice(u"\\\\.\\" + std::u16string(link))), event_(createEvent(true, false)) {
    if (handle_ == kInvalidHandle) {
      std::fprintf(stderr, "cannot open a device link (error %u)\n", lastError());
      std::exit(1);
    }
  }
  ~Device() {
    closeHandle(handle_);
    closeHandle(event_);
  }
  // The device access library's pattern: overlapped record, wait when pending.
  uint32_t control(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize) {
    Overlapped overlapped;
    overlapped.event = event_;
    uint32_t bytes = 0;
    if (deviceIoControl(handle_, code, input, inputSize, output, outputSize, &bytes, &overlapped)) return 0;
    const uint32_t error = lastError();
    if (error != ERROR_IO_PENDING) return error;
    return getOverlappedResult(handle_, &overlapped, &bytes, true) ? 0 : lastError();
  }
  template <typename In>
  uint32_t send(uint32_t code, const In& input) {
    return control(code, &input, sizeof input, nullptr, 0);
  }

 private:
  Handle handle_;
  Handle event_;
};

void check(uint32_t result, const char* what) {
  if (result != 0) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, result);
    std::exit(1);
  }
}

Accuracy pacingThread(double seconds) {
  Device service(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
  for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                           ORVANE_STREAMING_COMMAND_START}) {
    check(service.send(ORVANE_IOCTL_STREAMING_CONTROL, command), "streaming control");
  }
  Device asio(u"{7045B601-879C-4d77-80C0-88D4F867070B}");
  auto* block = static_cast<uint32_t*>(allocateShareable(8));
  Handle bufferEvent = createEvent(false, false);
  check(asio.send(ORVANE_IOCTL_ASIO_CREATE_BUFFERS,
                  ORVANE_ASIO_CREATE_BUFFERS{reinterpret_cast<uintptr_t>(block),
                                             reinterpret_cast<uintptr_t>(bufferEvent), kFrames}),
        "create buffers");
  ORVANE_CHANNEL_LIST_PAIR channels{};
  check(asio.control(ORVANE_IOCTL_ASIO_GET_CHANNELS, nullptr, 0, &channels, sizeof channels), "channels");
  std::vector<void*> buffers;
  for (const ORVANE_CHANNEL_LIST* list : {&channels.inputs, &channels.outputs}) {
    for (uint32_t n = 0; n < 2; ++n) {  // two channels each way
      uint64_t id = 0;
      std::memcpy(&id, reinterpret_cast<const uint8_t*>(list) + 4 + n * 8, 8);
      void* buffer = allocateShareable(2 * kFrames * 4);
      buffers.push_back(buffer);
      check(asio.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, id), "acquire");
      check(asio.send(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS,
                      ORVANE_ASIO_CHANNEL_BUFFERS{id, kFrames * 4, ORVANE_ASIO_CHANNEL_BUFFER_WORD,
                                                  reinterpret_cast<uintptr_t>(buffer)}),
            "channel buffers");
    }
  }
  std::vector<int64_t> wakes;
  wakes.reserve(static_cast<size_t>(seconds * 1000));
  std::thread host([&] {
    tryRealTime();
    check(asio.control(ORVANE_IOCTL_ASIO_START, nullptr, 0, nullptr, 0), "start");
    const int64_t end = nowNanoseconds() + static_cast<int64_t>(seconds * 1e9);
    while (nowNanoseconds() < end) {
      if (waitForSingle(bufferEvent, 1000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "no buffer event within 1 s\n");
        std::exit(1);
      }
      wakes.push_back(nowNanoseconds());
      std::atomic_ref<uint32_t>(block[1]).fetch_add(1);
    }
    check(asio.control(ORVANE_IOCTL_ASIO_STOP, nullptr, 0, nullptr, 0), "stop");
  });
  host.join();
  asio.control(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS, nullptr, 0, nullptr, 0);
  for (void* buffer : buffers) freeShareable(buffer);
  freeShareable(block);
  closeHandle(bufferEvent);
  return accuracy(wakes);
}

struct RoundTrip {
  double p50 = 0;
  double p99 = 0;
};

RoundTrip measure(int rounds, const std::function<uint32_t()>& roundTrip) {
  for (int i = 0; i < rounds / 10; ++i) check(roundTrip(), "warm-up");
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(rounds));
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    check(roundTrip(), "round trip");
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

void printAccuracy(const char* name, const Accuracy& a) {
  std::printf("  %-46s %6zu periods, mean %8.2f us, deviation p50 %7.2f us  p99 %7.2f us  worst %8.2f us\n", name,
              a.periods, a.meanPeriod, a.p50, a.p99, a.worst);
}

void printRoundTrip(const char* name, const RoundTrip& r) {
  std::printf("  %-46s p50 %7.2f us   p99 %7.2f us\n", name, r.p50, r.p99);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: pacing_bench [SECONDS]\n");
    return 1;
  }
  testing_support::TestSystemRoot root;
  int ready[2];
  if (pipe(ready) != 0) return 1;
  // The driver reads no Parameters here: it takes the default configuration
  // next to the module (one device, 48 kHz).
  testing_support::ChildProcess hostProcess([&] {
    kernel::DeviceHost host;
    if (host.start() != 0 || host.loadDriver(WN_USBAUDIO_SIM_MODULE, u"usbaudio_sim") != 0 ||
        host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver") != 0) {
      return 1;
    }
    const char byte = 'r';
    if (write(ready[1], &byte, 1) != 1) return 1;
    pause();
    return 0;
  });
  char byte = 0;
  if (read(ready[0], &byte, 1) != 1) {
    std::fprintf(stderr, "the device host did not start\n");
    return 1;
  }

  std::printf("ASIO pacing, %u frames at %u Hz (period %.2f us), %.0f s each, host in another process\n", kFrames,
              kRate, kPeriodMicroseconds, seconds);
  const Accuracy bare = bareNanosleep(seconds);
  const Accuracy signalled = nanosleepSignallingAnEvent(seconds);
  const Accuracy pacing = pacingThread(seconds);
  printAccuracy("bare clock_nanosleep loop (wake-ups)", bare);
  printAccuracy("clock_nanosleep loop -> eventfd -> waiter", signalled);
  printAccuracy("pacing thread -> buffer event -> ASIO host", pacing);
  std::printf("  ratio pacing / bare loop:       p50 %.2fx   p99 %.2fx   worst %.2fx\n", pacing.p50 / bare.p50,
              pacing.p99 / bare.p99, pacing.worst / bare.worst);
  std::printf("  ratio pacing / loop with event: p50 %.2fx   p99 %.2fx   worst %.2fx\n", pacing.p50 / signalled.p50,
              pacing.p99 / signalled.p99, pacing.worst / signalled.worst);

  Device panel(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
  Device spy(u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}");
  Device test(test_driver::kLinkName);
  ORVANE_STREAMING_STATUS status{};
  const RoundTrip streaming = measure(20000, [&] {
    return panel.control(ORVANE_IOCTL_GET_STREAMING_STATUS, nullptr, 0, &status, sizeof status);
  });
  uint8_t echo[sizeof status] = {};
  const RoundTrip bareSmall = measure(20000, [&] {
    return test.control(test_driver::kEcho, echo, sizeof echo, echo, sizeof echo);
  });
  std::vector<uint8_t> statistics(sizeof(ORVANE_STATISTICS));
  const uint32_t read = ORVANE_STATISTICS_READ;
  const RoundTrip statisticsRound = measure(5000, [&] {
    return spy.control(ORVANE_IOCTL_GET_STATISTICS, &read, sizeof read, statistics.data(),
                       static_cast<uint32_t>(statistics.size()));
  });
  const test_driver::FailInput large{0, static_cast<uint32_t>(statistics.size())};
  const RoundTrip bareLarge = measure(5000, [&] {
    return test.control(test_driver::kFail, &large, sizeof large, statistics.data(),
                        static_cast<uint32_t>(statistics.size()));
  });
  std::printf("request round trips across processes\n");
  printRoundTrip("GET_STREAMING_STATUS (36 bytes)", streaming);
  printRoundTrip("test driver echo (36 bytes)", bareSmall);
  printRoundTrip("GET_STATISTICS (36620 bytes)", statisticsRound);
  printRoundTrip("test driver answer of 36620 bytes", bareLarge);
  std::printf("  ratio streaming status / echo:   p50 %.2fx   p99 %.2fx\n", streaming.p50 / bareSmall.p50,
              streaming.p99 / bareSmall.p99);
  std::printf("  ratio statistics / bare answer:  p50 %.2fx   p99 %.2fx\n", statisticsRound.p50 / bareLarge.p50,
              statisticsRound.p99 / bareLarge.p99);
  hostProcess.kill();
  return 0;
}

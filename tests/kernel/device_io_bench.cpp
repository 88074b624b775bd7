// Device I/O control round trip across processes (small request, 4-byte
// answer) through the device host, against a bare Unix socket ping-pong of
// the same message sizes, measured in the same run.

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/device_wire.h"
#include "platform/waits.h"
#include "tests/kernel/test_driver_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWarmUp = 2000;
constexpr int kRounds = 20000;
// The wire size of the device request and its reply: header plus 4 bytes.
constexpr size_t kMessageSize = wire::kHeaderSize + 4;

struct Figures {
  double p50;
  double p99;
};

Figures measure(const std::function<bool()>& roundTrip) {
  for (int i = 0; i < kWarmUp; ++i) roundTrip();
  std::vector<double> micros;
  micros.reserve(kRounds);
  for (int i = 0; i < kRounds; ++i) {
    const auto start = Clock::now();
    if (!roundTrip()) {
      std::fprintf(stderr, "round trip failed\n");
      std::exit(1);
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// An echo server in a child process on one end of a socket pair.
Figures barePingPong(int type) {
  int fds[2];
  if (::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0) std::exit(1);
  testing_support::ChildProcess server([&] {
    ::close(fds[0]);
    char buffer[kMessageSize];
    for (;;) {
      size_t got = 0;
      while (got < kMessageSize) {
        const ssize_t n = ::recv(fds[1], buffer + got, kMessageSize - got, 0);
        if (n <= 0) return 0;
        got += static_cast<size_t>(n);
      }
      if (::send(fds[1], buffer, kMessageSize, MSG_NOSIGNAL) != static_cast<ssize_t>(kMessageSize)) return 0;
    }
  });
  ::close(fds[1]);
  char message[kMessageSize] = {};
  const Figures figures = measure([&] {
    if (::send(fds[0], message, kMessageSize, MSG_NOSIGNAL) != static_cast<ssize_t>(kMessageSize)) return false;
    size_t got = 0;
    while (got < kMessageSize) {
      const ssize_t n = ::recv(fds[0], message + got, kMessageSize - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  });
  ::close(fds[0]);
  server.wait();
  return figures;
}

Figures deviceRoundTrip() {
  testing_support::StepPipe ready;
  testing_support::ChildProcess hostProcess([&] {
    kernel::DeviceHost host;
    if (host.start() != 0 || host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver") != 0) return 1;
    ready.say();
    ::pause();
    return 0;
  });
  if (ready.listen() == 0) std::exit(1);

  Handle device = openDevice(u"\\\\.\\" + std::u16string(test_driver::kLinkName));
  Handle event = createEvent(true, false);
  if (device == kInvalidHandle || event == nullptr) {
    std::fprintf(stderr, "cannot open the test device (error %u)\n", lastError());
    std::exit(1);
  }
  uint32_t value = 0;
  // The device access library's pattern: overlapped record with a manual-reset
  // event, wait when pending, then the overlapped result.
  const Figures figures = measure([&] {
    Overlapped overlapped;
    overlapped.event = event;
    uint32_t answer = 0;
    uint32_t bytes = 0;
    ++value;
    if (!deviceIoControl(device, test_driver::kEcho, &value, 4, &answer, 4, &bytes, &overlapped)) {
      if (lastError() != ERROR_IO_PENDING || !getOverlappedResult(device, &overlapped, &bytes, true)) return false;
    }
    return bytes == 4 && answer == value;
  });
  closeHandle(device);
  closeHandle(event);
  hostProcess.kill();
  return figures;
}

}  // namespace

int main() {
  testing_support::TestSystemRoot root;
  const Figures seqpacket = barePingPong(SOCK_SEQPACKET);
  const Figures stream = barePingPong(SOCK_STREAM);
  const Figures device = deviceRoundTrip();
  std::printf("round trip across processes, %d rounds, request and answer %zu bytes on the wire\n", kRounds,
              kMessageSize);
  std::printf("  %-42s p50 %7.2f us   p99 %7.2f us\n", "bare Unix socket ping-pong (seqpacket)", seqpacket.p50,
              seqpacket.p99);
  std::printf("  %-42s p50 %7.2f us   p99 %7.2f us\n", "bare Unix socket ping-pong (stream)", stream.p50, stream.p99);
  std::printf("  %-42s p50 %7.2f us   p99 %7.2f us\n", "device I/O control through the device host", device.p50,
              device.p99);
  std::printf("  ratio device / bare seqpacket: p50 %.2fx   p99 %.2fx (goal: p50 within 2x)\n",
              device.p50 / seqpacket.p50, device.p99 / seqpacket.p99);
  std::printf("  ratio device / bare stream:    p50 %.2fx   p99 %.2fx\n", device.p50 / stream.p50,
              device.p99 / stream.p99);
  return 0;
}

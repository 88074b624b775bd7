// A statistics request round trip (4 bytes in, the 36620-byte record out)
// through the device host to the simulated driver, against two bare round
// trips with the same sizes measured in the same run: the test driver's
// trivial request that answers 36620 bytes through the same device host, and
// a Unix seqpacket ping-pong between two processes.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_statistics.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "tests/kernel/test_driver_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWarmUp = 500;
constexpr int kRounds = 10000;
constexpr uint32_t kRecordSize = sizeof(ORVANE_STATISTICS);
constexpr char16_t kSpyLink[] = u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}";

struct Figures {
  double p50;
  double p99;
};

Figures figuresOf(std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// Runs the round trips in turn, round by round, so that the load of the
// machine weighs on each of them alike.
std::vector<Figures> measure(const std::vector<std::function<bool()>>& roundTrips) {
  std::vector<std::vector<double>> micros(roundTrips.size());
  for (int i = 0; i < kWarmUp + kRounds; ++i) {
    for (size_t n = 0; n < roundTrips.size(); ++n) {
      const auto start = Clock::now();
      if (!roundTrips[n]()) {
        std::fprintf(stderr, "round trip failed\n");
        std::exit(1);
      }
      if (i >= kWarmUp) micros[n].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  std::vector<Figures> figures;
  for (std::vector<double>& series : micros) figures.push_back(figuresOf(series));
  return figures;
}

// The modules lie in the build tree: the test driver next to this program,
// the simulated driver in its own folder.
std::string modulePath(const char* fromBuild, const std::string& relative) {
  if (fromBuild != nullptr) return fromBuild;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path() / relative).lexically_normal().string();
}

#ifdef WN_TEST_DRIVER
const char* const kTestDriverFromBuild = WN_TEST_DRIVER;
#else
const char* const kTestDriverFromBuild = nullptr;
#endif
#ifdef WN_USBAUDIO_SIM_MODULE
const char* const kSimFromBuild = WN_USBAUDIO_SIM_MODULE;
#else
const char* const kSimFromBuild = nullptr;
#endif

// The far end of a bare ping-pong: answers each 4-byte request with the
// record's size.
void serveSeqpacket(int fd) {
  std::vector<char> answer(kRecordSize, 'a');
  char request[4];
  while (::recv(fd, request, sizeof request, 0) == sizeof request) {
    if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size())) return;
  }
}

// One device request on an open link, the device access library's way.
class Link {
 public:
  explicit Link(std::u16string_view name)
      : handle_(openDevice(u"\\\\.\\" + std::u16string(name))), event_(createEvent(true, false)) {
    if (handle_ == kInvalidHandle) {
      std::fprintf(stderr, "cannot open a device link (error %u)\n", lastError());
      std::exit(1);
    }
  }
  ~Link() {
    closeHandle(handle_);
    closeHandle(event_);
  }
  bool request(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize) {
    Overlapped overlapped;
    overlapped.event = event_;
    uint32_t bytes = 0;
    if (!deviceIoControl(handle_, code, input, inputSize, output, outputSize, &bytes, &overlapped)) {
      if (lastError() != ERROR_IO_PENDING || !getOverlappedResult(handle_, &overlapped, &bytes, true)) return false;
    }
    return bytes == outputSize;
  }

 private:
  Handle handle_;
  Handle event_;
};

}  // namespace

int main() {
  testing_support::TestSystemRoot root;
  const std::string testDriver = modulePath(kTestDriverFromBuild, "kernel_test_driver.so");
  const std::string simDriver = modulePath(kSimFromBuild, "../usb-audio-kernel-sim/usbaudio_sim.so");

  int sockets[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) return 1;
  testing_support::ChildProcess pingPongServer([&] {
    ::close(sockets[0]);
    serveSeqpacket(sockets[1]);
    return 0;
  });
  ::close(sockets[1]);

  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) return 1;
  testing_support::ChildProcess hostProcess([&] {
    ::close(sockets[0]);
    kernel::DeviceHost host;
    std::string error;
    if (host.start() != 0 || host.loadDriver(testDriver, u"WnTestDriver", &error) != 0 ||
        host.loadDriver(simDriver, u"usbaudio_sim", &error) != 0) {
      std::fprintf(stderr, "cannot load the drivers: %s\n", error.c_str());
      return 1;
    }
    const char byte = 'r';
    if (::write(ready[1], &byte, 1) != 1) return 1;
    ::pause();
    return 0;
  });
  char byte = 0;
  if (::read(ready[0], &byte, 1) != 1) {
    std::fprintf(stderr, "the device host did not start (test driver %s, simulated driver %s)\n", testDriver.c_str(),
                 simDriver.c_str());
    return 1;
  }

  std::vector<uint8_t> output(kRecordSize);
  Link testLink(test_driver::kLinkName);
  Link spy(kSpyLink);
  const uint32_t pingRequest = 0;
  const test_driver::FailInput trivial{0, kRecordSize};  // success with that many bytes
  const uint32_t read = ORVANE_STATISTICS_READ;
  const std::vector<Figures> figures = measure({
      [&] {
        if (::send(sockets[0], &pingRequest, sizeof pingRequest, MSG_NOSIGNAL) != sizeof pingRequest) return false;
        return ::recv(sockets[0], output.data(), output.size(), 0) == static_cast<ssize_t>(output.size());
      },
      [&] { return testLink.request(test_driver::kFail, &trivial, sizeof trivial, output.data(), kRecordSize); },
      [&] { return spy.request(ORVANE_IOCTL_GET_STATISTICS, &read, sizeof read, output.data(), kRecordSize); },
  });
  hostProcess.kill();
  ::close(sockets[0]);
  pingPongServer.wait();
  ::close(ready[0]);
  ::close(ready[1]);

  const Figures& bare = figures[0];
  const Figures& device = figures[1];
  const Figures& statistics = figures[2];
  std::printf("round trip across processes, %d rounds each, interleaved; 4-byte request, %u-byte answer\n", kRounds,
              kRecordSize);
  std::printf("  %-46s p50 %8.2f us   p99 %8.2f us\n", "bare Unix seqpacket ping-pong", bare.p50, bare.p99);
  std::printf("  %-46s p50 %8.2f us   p99 %8.2f us\n", "trivial device request (test driver)", device.p50,
              device.p99);
  std::printf("  %-46s p50 %8.2f us   p99 %8.2f us\n", "GET_STATISTICS (simulated driver)", statistics.p50,
              statistics.p99);
  std::printf("  ratio statistics / trivial device request: p50 %.2fx   p99 %.2fx\n", statistics.p50 / device.p50,
              statistics.p99 / device.p99);
  std::printf("  ratio statistics / bare seqpacket:         p50 %.2fx   p99 %.2fx\n", statistics.p50 / bare.p50,
              statistics.p99 / bare.p99);
  return 0;
}

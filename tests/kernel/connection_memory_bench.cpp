// What an idle connection costs the device host: the host (with the test
// driver) runs in a child process; this process opens connections and reads
// the child's resident and proportional memory (VmRSS, Pss) before and after.
// The raw mechanism measured in the same run is the least a thread per
// connection costs: a child with as many idle threads, each blocked in poll
// on its own socket.

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/kernel/device_host.h"
#include "tests/kernel/test_driver_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system_root.h"

namespace {

constexpr int kConnections = 500;

// A field of /proc/<pid>/status or smaps_rollup, in KiB.
long memoryField(pid_t pid, const std::string& file, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return -1;
}

struct Memory {
  long rss;
  long pss;
};

Memory memoryOf(pid_t pid) {
  // Let the threads of the child settle first.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return {memoryField(pid, "status", "VmRSS"), memoryField(pid, "smaps_rollup", "Pss")};
}

void report(const char* what, const Memory& before, const Memory& after, int count) {
  std::printf("%-34s RSS %6ld -> %6ld KiB: %6.1f KiB each; Pss %6.1f KiB each\n", what, before.rss, after.rss,
              double(after.rss - before.rss) / count, double(after.pss - before.pss) / count);
}

void raiseDescriptorLimit() {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);
}

double hostPerConnection() {
  testing_support::TestSystemRoot root;
  testing_support::StepPipe ready;
  testing_support::ChildProcess host([&] {
    raiseDescriptorLimit();
    platform::kernel::DeviceHost deviceHost;
    platform::kernel::HostLimits limits;
    limits.connectionsPerProcess = kConnections + 1;
    deviceHost.setLimits(limits);
    if (deviceHost.start() != 0 || deviceHost.loadDriver(WN_TEST_DRIVER, u"WnTestDriver") != 0) return 1;
    ready.say();
    ::pause();
    return 0;
  });
  ready.listen();
  const std::u16string path = u"\\\\.\\" + std::u16string(test_driver::kLinkName);
  // One request first, so that the host's one-time allocations are made.
  platform::Handle warm = platform::openDevice(path);
  platform::deviceIoControl(warm, test_driver::kEcho, "x", 1, nullptr, 0, nullptr, nullptr);
  const Memory before = memoryOf(host.pid());
  std::vector<platform::Handle> handles;
  for (int i = 0; i < kConnections; ++i) {
    platform::Handle handle = platform::openDevice(path);
    if (handle == platform::kInvalidHandle) {
      std::fprintf(stderr, "open %d failed with error %u\n", i, platform::lastError());
      std::exit(1);
    }
    handles.push_back(handle);
  }
  const Memory after = memoryOf(host.pid());
  report("device host, idle connection", before, after, kConnections);
  for (platform::Handle handle : handles) platform::closeHandle(handle);
  platform::closeHandle(warm);
  return double(after.rss - before.rss) / kConnections;
}

double threadPerSocket() {
  testing_support::StepPipe ready;
  testing_support::StepPipe go;
  testing_support::ChildProcess child([&] {
    raiseDescriptorLimit();
    ready.say();
    go.listen();
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnections; ++i) {
      int pair[2];
      if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return 1;
      threads.emplace_back([fd = pair[0]] {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, -1);
      });
    }
    ready.say();
    ::pause();
    return 0;
  });
  ready.listen();
  const Memory before = memoryOf(child.pid());
  go.say();
  ready.listen();
  const Memory after = memoryOf(child.pid());
  report("raw: one idle thread per socket", before, after, kConnections);
  return double(after.rss - before.rss) / kConnections;
}

}  // namespace

int main() {
  raiseDescriptorLimit();
  std::printf("%d idle connections\n", kConnections);
  const double raw = threadPerSocket();
  const double host = hostPerConnection();
  std::printf("device host / raw: %.2f\n", host / raw);
  return 0;
}

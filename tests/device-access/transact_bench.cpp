// Round trip of OrvaneClient::transact through the simulated kernel driver to
// a minimal server and back, across processes (device host in one child
// process, server in another, client here), against two bare device I/O
// round trips to the same host measured in the same run: a transaction costs
// the client two requests (send, read) and the server two more, plus two
// event wake-ups across processes.
//
// Usage: transact_bench [ITERATIONS]   (default 5000)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_client.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double p50;
  double p99;
};

// Percentiles in microseconds.
Figures percentiles(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double fraction) {
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(fraction * static_cast<double>(samples.size())));
    return samples[index];
  };
  return {at(0.50), at(0.99)};
}

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void print(const char* name, const Figures& figures) {
  std::printf("%-44s p50 %8.1f us   p99 %8.1f us\n", name, figures.p50, figures.p99);
}

int fail(const char* what, uint32_t status) {
  std::fprintf(stderr, "transact_bench: %s failed: %s (0x%08X)\n", what, orvaneStatusName(status), status);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int iterations = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  const int warmup = 200;

  testing_support::TestSystemRoot root;
  sim_testing::configureSimulatedDriver({sim_testing::DeviceSpec{"QT0001", "Quintor One"}});
  testing_support::ChildProcess host([] { return sim_testing::runSimulatedHost(); });
  testing_support::ChildProcess server([] { return sim_testing::TestServer::runForever(); });
  if (!sim_testing::waitForLink(sim_testing::kPanelLink)) return fail("waiting for the device link", 2);

  OrvaneClient client;
  uint32_t status = client.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true);
  if (status != 0) return fail("openConnection", status);
  ORVANE_MESSAGE request;
  initMessage(request, ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE);
  setPayload(request, uint32_t{48000});
  ORVANE_MESSAGE response;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while ((status = client.transact(request, response, 5000)) == ORVANE_STATUS_NO_SERVER && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status != 0) return fail("the first transaction", status);

  // The bare mechanism: synchronous device I/O on a plain handle.
  const platform::Handle bare = platform::openDevice(u"\\\\.\\" + std::u16string(sim_testing::kPanelLink));
  if (bare == platform::kInvalidHandle) return fail("opening the bare handle", platform::lastError());
  auto bareRoundTrip = [&] {
    ORVANE_DRIVER_INFO info;
    uint32_t bytes = 0;
    return platform::deviceIoControl(bare, ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, &info, sizeof info, &bytes,
                                     nullptr);
  };

  std::vector<double> transactions;
  std::vector<double> barePairs;
  std::vector<double> libraryPairs;
  // The three measurements take turns in a rotating order, so that none
  // always follows another (the first request after a transaction meets
  // threads of the other processes still awake).
  auto measureTransact = [&] {
    const Clock::time_point start = Clock::now();
    const uint32_t result = client.transact(request, response, 5000);
    if (result != 0 || response.result != 0) std::exit(fail("transact", result != 0 ? result : response.result));
    return microsecondsSince(start);
  };
  auto measureBare = [&] {
    const Clock::time_point start = Clock::now();
    const bool ok = bareRoundTrip() && bareRoundTrip();
    if (!ok) std::exit(fail("bare device I/O", platform::lastError()));
    return microsecondsSince(start);
  };
  auto measureLibrary = [&] {
    ORVANE_DRIVER_INFO info;
    const Clock::time_point start = Clock::now();
    uint32_t result = client.ioctlGetDriverInfo(info);
    if (result == 0) result = client.ioctlGetDriverInfo(info);
    if (result != 0) std::exit(fail("ioctlGetDriverInfo", result));
    return microsecondsSince(start);
  };
  for (int i = 0; i < warmup + iterations; ++i) {
    double times[3] = {};
    for (int k = 0; k < 3; ++k) {
      const int which = (i + k) % 3;
      times[which] = which == 0 ? measureTransact() : which == 1 ? measureBare() : measureLibrary();
    }
    if (i >= warmup) {
      transactions.push_back(times[0]);
      barePairs.push_back(times[1]);
      libraryPairs.push_back(times[2]);
    }
  }
  platform::closeHandle(bare);
  client.closeDriver();

  const Figures transact = percentiles(transactions);
  const Figures bareFigures = percentiles(barePairs);
  const Figures library = percentiles(libraryPairs);
  std::printf("transact round trip across processes, %d iterations (after %d warm-up)\n", iterations, warmup);
  print("transact (client -> driver -> server -> back)", transact);
  print("two bare device I/O round trips", bareFigures);
  print("two ioControl round trips (overlapped, lock)", library);
  std::printf("ratio transact / two bare round trips:        p50 %.2f   p99 %.2f\n", transact.p50 / bareFigures.p50,
              transact.p99 / bareFigures.p99);
  std::printf("ratio two ioControl / two bare round trips:   p50 %.2f   p99 %.2f\n", library.p50 / bareFigures.p50,
              library.p99 / bareFigures.p99);
  return 0;
}

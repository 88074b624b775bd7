#pragma once
// Helpers of the ASIO driver's tests: a host's callbacks that record what the
// driver tells them, and a fixture with the simulated kernel driver in a
// device host in the test process, streaming, and a driver object.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "asio/asio_driver.h"
#include "platform/asio/asio_interface.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

namespace asio_testing {

// The host side of the callbacks. ASIO callbacks carry no context, so one
// host at a time is current.
class TestHost {
 public:
  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // What the host answers to kAsioSelectorSupported and the queries.
  bool timeInfo = false;
  bool resetRequest = true;
  bool bufferSizeChange = true;
  int32_t engineVersion = 2;  // 0: the query is not supported

  // Runs on every buffer switch with the index (on the buffer thread).
  std::function<void(int32_t index)> onSwitch;

  ASIOCallbacks callbacks{};
  std::atomic<int> switches{0};
  std::atomic<int> timeInfoSwitches{0};
  ASIOTime lastTimeInfo{};  // as the latest bufferSwitchTimeInfo saw it

  // Messages other than the support queries, in order.
  std::vector<std::pair<int32_t, int32_t>> messages();
  // Waits until `count` switches happened (false after 5 s).
  bool waitForSwitches(int count);

 private:
  static void bufferSwitch(int32_t index, ASIOBool directProcess);
  static ASIOTime* bufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool directProcess);
  static void sampleRateDidChange(ASIOSampleRate rate);
  static int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt);

  std::mutex mutex_;
  std::vector<std::pair<int32_t, int32_t>> messages_;
};

// Owns a driver object through its non-delegating reference.
struct DriverReference {
  DriverReference();
  ~DriverReference();
  DriverReference(const DriverReference&) = delete;
  DriverReference& operator=(const DriverReference&) = delete;
  AsioDriver* operator->() const { return driver; }
  AsioDriver* driver;
};

// The simulated kernel driver, streaming from its first device.
class AsioDriverTest : public sim_testing::SimDriverTest {
 protected:
  void SetUp() override;
  // Drives the kernel driver's engine as the service does.
  void streamingCommand(uint32_t command);
  // Stops the engine, sets the rate and brings it up again.
  void changeRate(uint32_t rate);
  uint32_t postNotification(uint32_t code);
  // The ASIO stream's "switches N missed M" from the state dump.
  std::pair<uint32_t, uint32_t> streamCounters();

  // Creates buffers for the first `inputs` inputs and `outputs` outputs.
  ASIOError createBuffers(DriverReference& driver, TestHost& host, int inputs, int outputs, int32_t size,
                          std::vector<ASIOBufferInfo>& infos);
};

}  // namespace asio_testing

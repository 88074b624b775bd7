#include "tests/asio/asio_test_support.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace asio_testing {

namespace {
std::atomic<TestHost*> g_current{nullptr};

uint32_t numberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(text.c_str() + at + label.size(), nullptr, 10));
}
}  // namespace

TestHost::TestHost() {
  callbacks = ASIOCallbacks{&bufferSwitch, &sampleRateDidChange, &asioMessage, &bufferSwitchTimeInfo};
  g_current = this;
}

TestHost::~TestHost() { g_current = nullptr; }

std::vector<std::pair<int32_t, int32_t>> TestHost::messages() {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool TestHost::waitForSwitches(int count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (switches.load() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void TestHost::bufferSwitch(int32_t index, ASIOBool /*directProcess*/) {
  TestHost* host = g_current.load();
  if (host == nullptr) return;
  if (host->onSwitch) host->onSwitch(index);
  ++host->switches;
}

ASIOTime* TestHost::bufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool directProcess) {
  TestHost* host = g_current.load();
  if (host == nullptr) return time;
  host->lastTimeInfo = *time;
  ++host->timeInfoSwitches;
  bufferSwitch(index, directProcess);
  return time;
}

void TestHost::sampleRateDidChange(ASIOSampleRate /*rate*/) {}

int32_t TestHost::asioMessage(int32_t selector, int32_t value, void* /*message*/, double* /*opt*/) {
  TestHost* host = g_current.load();
  if (host == nullptr) return 0;
  switch (selector) {
    case kAsioSelectorSupported:
      if (value == kAsioResetRequest) return host->resetRequest ? 1 : 0;
      if (value == kAsioBufferSizeChange) return host->bufferSizeChange ? 1 : 0;
      if (value == kAsioEngineVersion) return host->engineVersion != 0 ? 1 : 0;
      return 0;
    case kAsioSupportsTimeInfo:
      return host->timeInfo ? 1 : 0;
    case kAsioEngineVersion:
      return host->engineVersion;
    default: {
      std::lock_guard lock(host->mutex_);
      host->messages_.emplace_back(selector, value);
      return 1;
    }
  }
}

DriverReference::DriverReference() : driver(static_cast<AsioDriver*>(AsioDriver::create(nullptr))) {
  driver->NonDelegatingAddRef();
}

DriverReference::~DriverReference() { driver->NonDelegatingRelease(); }

void AsioDriverTest::SetUp() {
  SimDriverTest::SetUp();
  if (HasFatalFailure()) return;
  sim_testing::SimFile file;
  bringUp(file);
}

void AsioDriverTest::streamingCommand(uint32_t command) {
  sim_testing::SimFile file;
  ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, command), 0u) << command;
}

void AsioDriverTest::changeRate(uint32_t rate) {
  sim_testing::SimFile file;
  ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_STOP), 0u);
  ASSERT_EQ(file.send(ORVANE_IOCTL_SET_SAMPLE_RATE, rate), 0u);
  ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_PREPARE), 0u);
  ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_START), 0u);
}

uint32_t AsioDriverTest::postNotification(uint32_t code) {
  return controlSend(usbaudio_sim::SIM_CONTROL_NOTIFY, code);
}

std::pair<uint32_t, uint32_t> AsioDriverTest::streamCounters() {
  const std::string dump = state();
  return {numberAfter(dump, "switches "), numberAfter(dump, " missed ")};
}

ASIOError AsioDriverTest::createBuffers(DriverReference& driver, TestHost& asioHost, int inputs, int outputs,
                                        int32_t size, std::vector<ASIOBufferInfo>& infos) {
  infos.clear();
  for (int i = 0; i < inputs; ++i) infos.push_back(ASIOBufferInfo{ASIOTrue, i, {}});
  for (int i = 0; i < outputs; ++i) infos.push_back(ASIOBufferInfo{ASIOFalse, i, {}});
  return driver->createBuffers(infos.data(), static_cast<int32_t>(infos.size()), size, &asioHost.callbacks);
}

}  // namespace asio_testing

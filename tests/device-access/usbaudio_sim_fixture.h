#pragma once
// Test support for the device access library against the simulated USB audio
// kernel driver: its configuration on the test's private system root, a device
// host with it in this process, its control link (plug, unplug, faults,
// notifications), a minimal server that answers request messages, and a
// runner for programs such as orvanectl. Header-only: every test program of
// this folder is built from its *_test.cpp files.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_records.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/registry.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/waits.h"
#include "tests/support/program_runner.h"
#include "tests/support/test_system_root.h"
#include "usb-audio-kernel-sim/sim_control.h"

extern char** environ;

namespace sim_testing {

inline constexpr char16_t kPanelLink[] = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
inline constexpr char16_t kServiceName[] = u"UsbAudioSim";

// One virtual device, as a [device] section describes it.
struct DeviceSpec {
  std::string serial;
  std::string name;
  uint16_t vendor = 0x2F1A;
  uint16_t product = 0x0110;
  uint32_t i2sInputs = 2;
  uint32_t i2sOutputs = 2;
  std::string rates = "44100 48000 96000";
  bool plugged = true;
  std::string moreLines = "";  // further "key = value" lines
};

// The lines of a [device] section (without the section line).
inline std::string describe(const DeviceSpec& device) {
  char ids[64];
  std::snprintf(ids, sizeof ids, "vendor = 0x%04X\nproduct = 0x%04X\n", device.vendor, device.product);
  return std::string(ids) + "serial = " + device.serial + "\nname = " + device.name +
         "\ni2s_inputs = " + std::to_string(device.i2sInputs) + "\ni2s_outputs = " +
         std::to_string(device.i2sOutputs) + "\nrates = " + device.rates +
         "\nplugged = " + (device.plugged ? "yes" : "no") + "\n" + device.moreLines;
}

// Writes the configuration file with these devices under the current system
// root and points the simulated driver's "ConfigFile" parameter at it.
inline void configureSimulatedDriver(const std::vector<DeviceSpec>& devices) {
  const std::string path = (platform::systemRoot() / "usbaudio_sim_test.conf").string();
  std::ofstream file(path);
  for (const DeviceSpec& device : devices) file << "[device]\n" << describe(device);
  file.close();
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                          u"System\\CurrentControlSet\\Services\\" + std::u16string(kServiceName) +
                                              u"\\Parameters",
                                          platform::KEY_ALL_ACCESS, key),
            0u);
  ASSERT_EQ(key.setString(u"ConfigFile", platform::toWide(path)), 0u);
}

// Loads the simulated driver into `host`; 0 or the entry's status.
inline uint32_t loadSimulatedDriver(platform::kernel::DeviceHost& host, std::string* error) {
  return host.loadDriver(USBAUDIO_SIM_MODULE, kServiceName, error);
}

// Runs a device host with the simulated driver until the process is killed;
// the body of a host in a child process (configure the driver first).
inline int runSimulatedHost() {
  platform::kernel::DeviceHost host;
  if (host.start() != 0) return 2;
  std::string error;
  if (loadSimulatedDriver(host, &error) != 0) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 3;
  }
  for (;;) platform::sleepMs(1000);
}

// Waits (up to 10 s) until `link` can be opened; for hosts in other processes.
inline bool waitForLink(const char16_t* link) {
  const std::u16string path = u"\\\\.\\" + std::u16string(link);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const platform::Handle handle = platform::openDevice(path);
    if (handle != platform::kInvalidHandle) {
      platform::closeHandle(handle);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The control link of the simulated driver.
class SimControl {
 public:
  SimControl() = default;
  ~SimControl() {
    if (handle_ != nullptr) platform::closeHandle(handle_);
  }
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  uint32_t open() {
    const platform::Handle handle = platform::openDevice(u"\\\\.\\" + std::u16string(usbaudio_sim::kControlLinkName));
    if (handle == platform::kInvalidHandle) return platform::lastError();
    handle_ = handle;
    return 0;
  }

  // One request; 0 or the error (ORVANE_STATUS_ values unchanged).
  uint32_t control(uint32_t code, const void* input, uint32_t inputSize, void* output = nullptr,
                   uint32_t outputSize = 0) {
    uint32_t bytes = 0;
    return platform::deviceIoControl(handle_, code, input, inputSize, output, outputSize, &bytes, nullptr)
               ? 0
               : platform::lastError();
  }

  // Plugs a device described like a [device] section; its new identifier.
  ORVANE_DEVICE_ID plug(const DeviceSpec& device) {
    const std::string text = describe(device);
    ORVANE_DEVICE_ID id{};
    EXPECT_EQ(control(usbaudio_sim::SIM_CONTROL_PLUG_DESCRIPTION, text.data(), static_cast<uint32_t>(text.size()),
                      &id, sizeof id),
              0u);
    return id;
  }

  uint32_t unplug(ORVANE_DEVICE_ID device) {
    const usbaudio_sim::SIM_DEVICE_SELECTOR selector{usbaudio_sim::SIM_SELECT_BY_ID, 0, device};
    return control(usbaudio_sim::SIM_CONTROL_UNPLUG, &selector, sizeof selector);
  }

  // The next `count` requests of `code` (every one with 0) fail with `status`,
  // or, with status 0, are answered `delayMs` later.
  uint32_t setFault(uint32_t code, uint32_t status, uint32_t delayMs = 0, uint32_t count = 0) {
    const usbaudio_sim::SIM_FAULT fault{code, status, delayMs, count};
    return control(usbaudio_sim::SIM_CONTROL_SET_FAULT, &fault, sizeof fault);
  }

  uint32_t clearFaults() { return control(usbaudio_sim::SIM_CONTROL_CLEAR_FAULTS, nullptr, 0); }

  // Queues a notification of the driver for every registered connection.
  uint32_t notify(uint32_t code, const void* payload = nullptr, uint32_t length = 0) {
    std::vector<uint8_t> input(sizeof code + length);
    std::memcpy(input.data(), &code, sizeof code);
    if (length > 0) std::memcpy(input.data() + sizeof code, payload, length);
    return control(usbaudio_sim::SIM_CONTROL_NOTIFY, input.data(), static_cast<uint32_t>(input.size()));
  }

 private:
  platform::Handle handle_ = nullptr;
};

// A device host with the simulated driver in this process, on a private
// system root. Derived tests choose the configured devices.
class SimulatedDriverTest : public ::testing::Test {
 protected:
  virtual std::vector<DeviceSpec> configuredDevices() const { return {DeviceSpec{"QT0001", "Quintor One"}}; }

  void SetUp() override {
    configureSimulatedDriver(configuredDevices());
    ASSERT_EQ(host.start(), 0u);
    std::string error;
    ASSERT_EQ(loadSimulatedDriver(host, &error), 0u) << error;
    ASSERT_EQ(control.open(), 0u);
  }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
  SimControl control;
};

// The minimal server of the message exchange: registers its own connection
// as the server and answers every request it reads with makeResponse(request,
// 0), after `answer` has had its say. `answer` may change the response, sleep
// (a slow service) or return false to send nothing.
class TestServer {
 public:
  using Answer = std::function<bool(const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response)>;

  TestServer() = default;
  ~TestServer() { stop(); }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Registers and starts the server thread; 0 or the registration's status.
  uint32_t start(Answer answer = {}, const char16_t* link = kPanelLink) {
    answer_ = std::move(answer);
    const uint32_t status = connection_.openConnection(link, ORVANE_CLIENT_TYPE_SERVER, true);
    if (status != 0) return status;
    stopEvent_ = platform::createEvent(true, false);
    thread_ = std::thread([this] { serve(); });
    return 0;
  }

  void stop() {
    if (thread_.joinable()) {
      platform::setEvent(stopEvent_);
      thread_.join();
    }
    if (stopEvent_ != nullptr) platform::closeHandle(stopEvent_);
    stopEvent_ = nullptr;
    connection_.closeDriver();
  }

  // Every request read so far, in arrival order.
  std::vector<ORVANE_MESSAGE> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // Sends any record on the server's connection.
  uint32_t send(const ORVANE_MESSAGE& message) { return connection_.ioctlSendMessage(message); }

  // Broadcasts a notification with no payload, as the service does.
  uint32_t broadcast(uint32_t code) {
    ORVANE_MESSAGE notification;
    initMessage(notification, ORVANE_MSG_NOTIFICATION, code);
    return connection_.ioctlSendMessage(notification);
  }

  // Serves until the process ends; the body of a server in a child process.
  static int runForever(const char16_t* link = kPanelLink) {
    if (!waitForLink(link)) return 2;
    TestServer server;
    if (server.start({}, link) != 0) return 3;
    for (;;) platform::sleepMs(1000);
  }

 private:
  void serve() {
    const platform::Handle handles[] = {stopEvent_, connection_.messageEvent()};
    while (platform::waitForMultiple(2, handles, platform::INFINITE) == platform::WAIT_OBJECT_0 + 1) {
      ORVANE_MESSAGE request;
      while (connection_.ioctlReadMessage(request) == 0) {
        if (request.kind != ORVANE_MSG_REQUEST) continue;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
        }
        ORVANE_MESSAGE response = makeResponse(request, 0);
        if (!answer_ || answer_(request, response)) connection_.ioctlSendMessage(response);
      }
    }
  }

  OrvaneDriver connection_;
  Answer answer_;
  platform::Handle stopEvent_ = nullptr;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<ORVANE_MESSAGE> requests_;
};

using testing_support::ProgramResult;
using testing_support::runProgram;

}  // namespace sim_testing

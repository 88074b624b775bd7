#pragma once
// The simulated USB audio kernel driver in tests: its configuration on the
// test's private system root, a device host with it in this process (the
// fixture SimulatedDriverTest) or in a child process, its control link (plug,
// unplug, faults, notifications, state), connections that make requests the
// way the device access library does, a minimal server that answers request
// messages, and a runner for programs such as orvanectl. Header-only; a test
// program that includes it links device_access and platform_kernel and defines
// WN_USBAUDIO_SIM_MODULE as the module's path.

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
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_ioctl.h"
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
#include "tests/support/test_device_file.h"
#include "tests/support/test_system_root.h"
#include "usb-audio-kernel-sim/sim_control.h"

extern char** environ;

namespace sim_testing {

inline constexpr char16_t kPanelLink[] = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
inline constexpr char16_t kSpyLink[] = u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}";
inline constexpr char16_t kAsioLink[] = u"{7045B601-879C-4d77-80C0-88D4F867070B}";
// The module's own name, the service name devhost gives it by default.
inline constexpr char16_t kServiceName[] = u"usbaudio_sim";

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

// A configuration file with these devices.
inline std::string configurationText(const std::vector<DeviceSpec>& devices) {
  std::string text;
  for (const DeviceSpec& device : devices) text += "[device]\n" + describe(device);
  return text;
}

inline std::u16string parametersKeyPath() {
  return u"System\\CurrentControlSet\\Services\\" + std::u16string(kServiceName) + u"\\Parameters";
}

// The trace mask the driver saved as its default, or 0xFFFFFFFF (with a test
// failure) when none is stored.
inline uint32_t savedTraceMask() {
  platform::RegistryKey key;
  uint32_t saved = 0xFFFFFFFF;
  EXPECT_EQ(
      platform::RegistryKey::open(platform::RegistryHive::LocalMachine, parametersKeyPath(), platform::KEY_READ, key),
      0u);
  EXPECT_EQ(key.getDword(u"TraceMask", saved), 0u);
  return saved;
}

// Writes the configuration file under the current system root and points the
// simulated driver's "ConfigFile" parameter at it; `more` may add values to
// the driver's Parameters key.
inline void configureSimulatedDriver(const std::string& configuration,
                                     const std::function<void(const platform::RegistryKey&)>& more = {}) {
  const std::string path = (platform::systemRoot() / "usbaudio_sim_test.conf").string();
  std::ofstream(path) << configuration;
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine, parametersKeyPath(),
                                          platform::KEY_ALL_ACCESS, key),
            0u);
  ASSERT_EQ(key.setString(u"ConfigFile", platform::toWide(path)), 0u);
  if (more) more(key);
}

inline void configureSimulatedDriver(const std::vector<DeviceSpec>& devices) {
  configureSimulatedDriver(configurationText(devices));
}

// Loads the simulated driver into `host`; 0 or the entry's status.
inline uint32_t loadSimulatedDriver(platform::kernel::DeviceHost& host, std::string* error = nullptr) {
  return host.loadDriver(WN_USBAUDIO_SIM_MODULE, kServiceName, error);
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
  ~SimControl() { close(); }
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  void close() {
    if (handle_ != nullptr) platform::closeHandle(handle_);
    handle_ = nullptr;
  }

  // Opens the link; the first request also does when it is not open yet.
  uint32_t open() {
    if (handle_ != nullptr) return 0;
    const platform::Handle handle = platform::openDevice(u"\\\\.\\" + std::u16string(usbaudio_sim::kControlLinkName));
    if (handle == platform::kInvalidHandle) return platform::lastError();
    handle_ = handle;
    return 0;
  }

  // One request; 0 or the error (ORVANE_STATUS_ values unchanged).
  uint32_t control(uint32_t code, const void* input, uint32_t inputSize, void* output = nullptr,
                   uint32_t outputSize = 0) {
    if (const uint32_t error = open(); error != 0) return error;
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

  // Removes every fault and reply patch.
  uint32_t clearFaults() { return control(usbaudio_sim::SIM_CONTROL_CLEAR_FAULTS, nullptr, 0); }

  // The next `count` successful replies to `code` get `bytes` written over
  // their output at `offset` (what lies past the output's end is dropped).
  uint32_t patchReply(uint32_t code, uint32_t offset, std::span<const uint8_t> bytes, uint32_t count = 1) {
    const usbaudio_sim::SIM_REPLY_PATCH header{code, offset, static_cast<uint32_t>(bytes.size()), count};
    std::vector<uint8_t> input(sizeof header + bytes.size());
    std::memcpy(input.data(), &header, sizeof header);
    if (!bytes.empty()) std::memcpy(input.data() + sizeof header, bytes.data(), bytes.size());
    return control(usbaudio_sim::SIM_CONTROL_PATCH_REPLY, input.data(), static_cast<uint32_t>(input.size()));
  }
  uint32_t patchReplyU32(uint32_t code, uint32_t offset, uint32_t value, uint32_t count = 1) {
    uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    return patchReply(code, offset, bytes, count);
  }

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

// One open connection to a link, with its request event.
class SimFile : public testing_support::TestDeviceFile {
 public:
  explicit SimFile(std::u16string_view link = kPanelLink) : TestDeviceFile(link) {}
};

// A device host with the simulated driver in this process, on a private
// system root. Derived tests choose the configuration (the devices, or the
// whole file) and may add driver parameters before it loads.
class SimulatedDriverTest : public ::testing::Test {
 protected:
  virtual std::vector<DeviceSpec> configuredDevices() const { return {DeviceSpec{"QT0001", "Quintor One"}}; }
  virtual std::string configuration() const { return configurationText(configuredDevices()); }
  // More Parameters values before the driver loads.
  virtual void configureRegistry(const platform::RegistryKey& /*key*/) {}

  void SetUp() override {
    configureSimulatedDriver(configuration(), [this](const platform::RegistryKey& key) { configureRegistry(key); });
    ASSERT_EQ(host.start(), 0u);
    std::string error;
    ASSERT_EQ(loadSimulatedDriver(host, &error), 0u) << error;
  }

  void TearDown() override {
    control.close();
    host.stop();
    platform::closeRegistry();
  }

  // A request on a connection of its own to the control link.
  uint32_t controlRequest(uint32_t code, const void* input = nullptr, uint32_t inputSize = 0, void* output = nullptr,
                          uint32_t outputSize = 0) {
    SimFile link(usbaudio_sim::kControlLinkName);
    return link.control(code, input, inputSize, output, outputSize);
  }
  template <typename In>
  uint32_t controlSend(uint32_t code, const In& input) {
    return controlRequest(code, &input, sizeof input);
  }
  // The state dump, as text or (SIM_STATE_JSON) JSON.
  std::string state(uint32_t format = usbaudio_sim::SIM_STATE_TEXT) {
    std::string text(usbaudio_sim::SIM_MAX_STATE_TEXT, '\0');
    SimFile link(usbaudio_sim::kControlLinkName);
    uint32_t bytes = 0;
    EXPECT_EQ(link.control(usbaudio_sim::SIM_CONTROL_GET_STATE, &format, sizeof format, text.data(),
                           static_cast<uint32_t>(text.size()), &bytes),
              0u);
    text.resize(bytes);
    return text;
  }
  // Closing a handle ends its connection asynchronously: waits until the
  // state dump no longer mentions `text` (false after 5 s).
  bool waitUntilGone(const std::string& text) {
    for (int round = 0; round < 500; ++round) {
      if (state().find(text) == std::string::npos) return true;
      platform::sleepMs(10);
    }
    return false;
  }
  ORVANE_DEVICE_LIST deviceList() {
    SimFile file;
    ORVANE_DEVICE_LIST list{};
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DEVICE_LIST, &list), 0u);
    return list;
  }
  ORVANE_STREAMING_STATUS streamingStatus() {
    SimFile file;
    ORVANE_STREAMING_STATUS status{};
    EXPECT_EQ(file.get(ORVANE_IOCTL_GET_STREAMING_STATUS, &status), 0u);
    return status;
  }
  // Drives the engine to Running as the service's bring-up does.
  void bringUp(SimFile& file) {
    for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                             ORVANE_STREAMING_COMMAND_START}) {
      ASSERT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, command), 0u) << command;
    }
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

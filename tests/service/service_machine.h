#pragma once
// An emulated machine for the service's end-to-end tests, on the test's
// private system root: the simulated USB audio kernel driver registered as a
// kernel driver, quintorsvc installed with "-install", both started with
// `machine start` as separate processes; a client in the test process
// registered as the control panel. Everything the test started is ended in
// TearDown, also when the test failed.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device-access/orvane_client.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/services.h"
#include "platform/text.h"
#include "platform/waits.h"
#include "tests/support/eventually.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/program_runner.h"
#include "tests/support/root_processes.h"
#include "usb-audio-kernel-sim/sim_control.h"

namespace service_testing {

using sim_testing::DeviceSpec;
using testing_support::eventually;
using testing_support::ProgramResult;
using testing_support::runProgram;


inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline ProgramResult quintorsvc(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {QUINTORSVC};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runProgram(command);
}

inline ProgramResult machine(const std::string& command) { return runProgram({MACHINE_TOOL, command}); }

inline ProgramResult usbaudioSim(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {USBAUDIO_SIM_TOOL};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return runProgram(command);
}

// The device with DSD channels the demo ships, and one without. The service's
// attach sequence needs their loopback mixer pins (5:0, 5:1, 2:0, 2:1).
inline DeviceSpec studioDevice() {
  DeviceSpec device{"QT16A0042", "QUINTOR Studio 16"};
  device.i2sInputs = 16;
  device.i2sOutputs = 16;
  device.rates = "44100 48000 88200 96000 176400 192000 2822400 5644800";
  device.moreLines =
      "spdif_inputs = 2\nspdif_outputs = 2\ndsd_inputs = 8\ndsd_outputs = 8\nvirtual_inputs = 2\n"
      "mixer_outputs = 0:16 1:2 5:2\nmixer_monitor_inputs = 0:16 1:2\nmixer_playback_inputs = 2:16 3:2\n";
  return device;
}

inline DeviceSpec miniDevice() {
  DeviceSpec device{"QT04B0007", "QUINTOR Mini 4"};
  device.product = 0x0104;
  device.i2sInputs = 4;
  device.i2sOutputs = 4;
  device.rates = "44100 48000 96000";
  device.moreLines = "virtual_inputs = 2\nmixer_outputs = 0:4 5:2\nmixer_monitor_inputs = 0:4\nmixer_playback_inputs = 2:4\n";
  return device;
}

// The simulated driver's state dump (text form).
inline std::string simState() {
  sim_testing::SimControl reader;
  if (reader.open() != 0) return "(no simulated driver)";
  std::string text(usbaudio_sim::SIM_MAX_STATE_TEXT, '\0');
  if (reader.control(usbaudio_sim::SIM_CONTROL_GET_STATE, nullptr, 0, text.data(), static_cast<uint32_t>(text.size())) !=
      0) {
    return "(no state)";
  }
  text.resize(text.find('\0'));
  return text;
}

// Whether the kernel driver has a server registered.
inline bool serverRegistered() { return contains(simState(), "client server,"); }

// The process of the running service, or 0.
inline uint32_t servicePid() {
  const platform::ServiceHandle manager = platform::openServiceManager(nullptr, nullptr, platform::SC_MANAGER_CONNECT);
  const platform::ServiceHandle service = platform::openService(manager, u"quintorsvc", platform::SERVICE_QUERY_STATUS);
  platform::ServiceStatus status;
  uint32_t pid = 0;
  (void)platform::queryServiceStatusProcess(service, &status, &pid);
  platform::closeServiceHandle(service);
  platform::closeServiceHandle(manager);
  return pid;
}

// Waits until the service has handled the notifications its own writes raise
// (a gain it sets comes back as 3051): its connections' request counts stay
// the same for 300 ms. A change a test makes before that may be undone by
// the late echo, as a user's would be.
inline void waitUntilTheServiceIsQuiet() {
  const std::string mark = "pid " + std::to_string(servicePid()) + ",";
  const auto serviceLines = [&] {
    std::string lines;
    std::istringstream text(simState());
    for (std::string line; std::getline(text, line);) {
      if (contains(line, mark)) lines += line + "\n";
    }
    return lines;
  };
  std::string before = serviceLines();
  for (int quiet = 0, polls = 0; quiet < 3 && polls < 100; ++polls) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string now = serviceLines();
    quiet = now == before ? quiet + 1 : 0;
    before = now;
  }
}

class ServiceMachineTest : public ::testing::Test {
 protected:
  virtual std::vector<DeviceSpec> devices() const { return {studioDevice()}; }
  // Registry values to set before the service starts.
  virtual void prepareRegistry() {}

  void SetUp() override {
    sim_testing::configureSimulatedDriver(devices());
    ASSERT_EQ(platform::registerKernelDriver(sim_testing::kServiceName, platform::toWide(WN_USBAUDIO_SIM_MODULE)), 0u);
    prepareRegistry();
    const ProgramResult installed = quintorsvc({"-install"});
    ASSERT_EQ(installed.exitCode, 0) << installed.output << installed.errors;
    startMachine();
  }

  void TearDown() override {
    if (HasFailure()) describeMachine();
    client.closeDriver();
    view.closeDriver();
    testing_support::endProcessesOfRoot(root_.path());
  }

  void startMachine() {
    const ProgramResult started = machine("start");
    ASSERT_EQ(started.exitCode, 0) << started.output << started.errors;
    ASSERT_TRUE(waitForServer()) << state();
    if (!client.isOpen()) {
      ASSERT_EQ(client.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
    }
    ASSERT_EQ(control.open(), 0u);
  }

  // What a failed test leaves to look at: the machine, the event log and the
  // service's output.
  void describeMachine() {
    std::string text = machine("status").output + runProgram({EVENTLOG_TOOL}).output;
    std::ifstream log(root_.path() / "services" / "quintorsvc.log");
    text += "quintorsvc output:\n" + std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  std::string state() { return simState(); }
  bool waitForServer() { return eventually([&] { return serverRegistered(); }); }

  ORVANE_STREAMING_STATUS streamingStatus() {
    ORVANE_STREAMING_STATUS status{};
    EXPECT_EQ(client.ioctlGetStreamingStatus(status), 0u);
    return status;
  }

  bool reachesState(uint32_t state) {
    return eventually([&] { return streamingStatus().state == state; });
  }

  // A request to the service; its response's result (or the transaction's failure).
  uint32_t request(uint32_t code, const void* payload, uint32_t length, ORVANE_MESSAGE* response = nullptr,
                   uint32_t timeoutMs = 10000) {
    ORVANE_MESSAGE message;
    initMessage(message, ORVANE_MSG_REQUEST, code);
    EXPECT_EQ(setPayload(message, payload, length), 0u);
    ORVANE_MESSAGE answer;
    const uint32_t status = client.transact(message, answer, timeoutMs);
    if (response != nullptr) *response = answer;
    return status != 0 ? status : answer.result;
  }

  uint32_t setRate(uint32_t rate, ORVANE_MESSAGE* response = nullptr) {
    return request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, &rate, sizeof rate, response);
  }

  // The notifications that arrive within `milliseconds`, in order.
  std::vector<uint32_t> notifications(uint32_t milliseconds = 300) {
    std::vector<uint32_t> codes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      ORVANE_MESSAGE message;
      while (client.readNextNotification(message) == 0) codes.push_back(message.code);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return codes;
      (void)platform::waitForSingle(client.notificationEvent(), static_cast<uint32_t>(left.count()));
    }
  }

  // The service's notifications among them (3010, 3011, 3030).
  std::vector<uint32_t> serviceNotifications(uint32_t milliseconds = 300) {
    std::vector<uint32_t> codes;
    for (const uint32_t code : notifications(milliseconds)) {
      if (code == 3010 || code == 3011 || code == 3030) codes.push_back(code);
    }
    return codes;
  }

  // A view connection: while it is registered, streaming is wanted.
  void openView() {
    ASSERT_EQ(view.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_VIEW, false), 0u);
    ASSERT_TRUE(reachesState(ORVANE_STREAMING_STATE_RUNNING)) << state();
  }

  ORVANE_DEVICE_ID firstDevice() {
    ORVANE_DEVICE_LIST list{};
    EXPECT_EQ(client.ioctlGetDeviceList(list), 0u);
    return list.count > 0 ? list.devices[0].deviceId : ORVANE_DEVICE_ID{};
  }

  testing_support::TestSystemRoot root_;
  OrvaneClient client;
  OrvaneDriver view;
  sim_testing::SimControl control;
};

}  // namespace service_testing

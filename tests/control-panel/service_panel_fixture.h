#pragma once
// The control panel against a whole emulated machine: the simulated kernel
// driver registered as a kernel driver and the device control service
// quintorsvc, both started with `machine start` as separate processes on the
// test's system root. The pages' requests to the service take the real road.

#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/text.h"
#include "tests/control-panel/control_panel_fixture.h"
#include "tests/support/program_runner.h"
#include "tests/support/root_processes.h"
#include "tests/service/service_machine.h"

namespace cpl_testing {

// A device the service attaches: its setup needs the loopback mixer pins
// (outputs 5:0 and 5:1, playback inputs 2:0 and 2:1).
inline DeviceSpec serviceDevice(const std::string& serial, const std::string& rates = "44100 48000 96000") {
  DeviceSpec plugged{serial, "Quintor " + serial};
  plugged.rates = rates;
  plugged.moreLines =
      "virtual_inputs = 2\nmixer_outputs = 0:2 5:2\nmixer_monitor_inputs = 0:2\nmixer_playback_inputs = 2:2\n";
  return plugged;
}

class ServicePanelTest : public ControlPanelTest {
 protected:
  void TearDown() override {
    if (HasFailure()) std::fprintf(stderr, "%s\n", runProgram({MACHINE_TOOL, "status"}).output.c_str());
    thawService();
    ControlPanelTest::TearDown();
    control.close();
    testing_support::endProcessesOfRoot(machine.root());
  }

  static testing_support::ProgramResult runProgram(const std::vector<std::string>& command) {
    return testing_support::runProgram(command);
  }

  // Installs and starts the service with the simulated driver, then opens the
  // window; its tree fills with the devices the service attached.
  MainFrame& openServiceFrame(const std::vector<DeviceSpec>& devices) {
    sim_testing::configureSimulatedDriver(devices);
    EXPECT_EQ(platform::registerKernelDriver(sim_testing::kServiceName, platform::toWide(WN_USBAUDIO_SIM_MODULE)), 0u);
    const testing_support::ProgramResult installed = runProgram({QUINTORSVC, "-install"});
    EXPECT_EQ(installed.exitCode, 0) << installed.output << installed.errors;
    const testing_support::ProgramResult started = runProgram({MACHINE_TOOL, "start"});
    EXPECT_EQ(started.exitCode, 0) << started.output << started.errors;
    EXPECT_EQ(control.open(), 0u);
    EXPECT_TRUE(waitFor([] { return service_testing::serverRegistered(); }, 10000)) << simState();
    MainFrame& frame = openFrame();
    EXPECT_EQ(control.notify(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED), 0u);
    EXPECT_TRUE(waitFor([&] { return tree().count() == expectedItems(devices); })) << treeDump();
    return frame;
  }

  static std::string simState() { return service_testing::simState(); }
  static uint32_t servicePid() { return service_testing::servicePid(); }

  // Stops the service's process (SIGSTOP) once it has brought streaming up,
  // so that its requests wait for the time-out; false with a failure when it
  // did not stop.
  bool freezeService() {
    OrvaneDriver& own = ownConnection();
    EXPECT_TRUE(waitFor([&] {
      ORVANE_STREAMING_STATUS status{};
      return own.ioctlGetStreamingStatus(status) == 0 && status.state == ORVANE_STREAMING_STATE_RUNNING;
    }, 10000)) << simState();
    frozen_ = servicePid();
    if (frozen_ == 0 || ::kill(static_cast<pid_t>(frozen_), SIGSTOP) != 0) {
      ADD_FAILURE() << "no service process to stop";
      return false;
    }
    const bool stopped = waitFor([&] {
      std::ifstream stat("/proc/" + std::to_string(frozen_) + "/stat");
      std::string line;
      std::getline(stat, line);
      const size_t end = line.rfind(')');
      return end != std::string::npos && line.size() > end + 2 && line[end + 2] == 'T';
    });
    EXPECT_TRUE(stopped) << "the service process " << frozen_ << " did not stop";
    return stopped;
  }

  void thawService() {
    if (frozen_ != 0) ::kill(static_cast<pid_t>(frozen_), SIGCONT);
    frozen_ = 0;
  }

  // Opens or closes a WDM sound device of the first device: while one is
  // open, the service refuses changes that restart streaming.
  void switchSoundDevice(bool open) {
    const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH request{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 0, open ? 1u : 0u, 0};
    ASSERT_EQ(control.control(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, &request, sizeof request), 0u);
  }

  // A request of the test's own on the panel link.
  OrvaneDriver& ownConnection() {
    if (!own_.isOpen()) {
      EXPECT_EQ(own_.openDriver(sim_testing::kPanelLink, false, false), 0u);
    }
    return own_;
  }

  sim_testing::SimControl control;

 private:
  OrvaneDriver own_;
  uint32_t frozen_ = 0;
};

}  // namespace cpl_testing

#pragma once
// An emulated machine for the graphical tests: a private system root with the
// simulated USB audio kernel driver running in a device host process of its
// own, and the driver's control link for plugging, unplugging and faults.
// Every process it starts is stopped when it goes away.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tests/support/simulated_driver.h"
#include "tests/support/spawned_process.h"
#include "tests/support/test_system_root.h"

namespace ui_testing {

using sim_testing::DeviceSpec;

// Values of the simulated driver's service key (its version information).
struct DriverParameters {
  std::u16string driverVersion = u"1.0.0";
  bool debugBuild = false;
  uint32_t interfaceVersionMinor = 1;
};

class EmulatedMachine {
 public:
  EmulatedMachine() = default;
  ~EmulatedMachine() { stopHost(); }
  EmulatedMachine(const EmulatedMachine&) = delete;
  EmulatedMachine& operator=(const EmulatedMachine&) = delete;

  // Configures the driver with `devices` and starts the device host; false
  // (with a test failure) when its device link does not appear.
  bool start(const std::vector<DeviceSpec>& devices, const DriverParameters& parameters = {}) {
    sim_testing::configureSimulatedDriver(sim_testing::configurationText(devices),
                                          [&](const platform::RegistryKey& key) {
                                            key.setString(u"DriverVersion", parameters.driverVersion);
                                            key.setDword(u"DebugBuild", parameters.debugBuild ? 1 : 0);
                                            key.setDword(u"InterfaceVersionMinor", parameters.interfaceVersionMinor);
                                          });
    return startHost();
  }

  // Starts the device host (again); the driver's links appear.
  bool startHost() {
    host_ = std::make_unique<testing_support::SpawnedProcess>(
        std::vector<std::string>{WN_DEVHOST, WN_USBAUDIO_SIM_MODULE});
    const bool up =
        sim_testing::waitForLink(sim_testing::kPanelLink) && sim_testing::waitForLink(usbaudio_sim::kControlLinkName);
    EXPECT_TRUE(up) << "the device host did not start";
    control_ = std::make_unique<sim_testing::SimControl>();
    EXPECT_EQ(control_->open(), 0u);
    return up;
  }

  // Stops the device host: the driver's links go away.
  void stopHost() {
    control_.reset();
    host_.reset();
  }

  sim_testing::SimControl& control() { return *control_; }
  const std::filesystem::path& root() const { return root_.path(); }

  // Tells the registered connections that the device list changed (3030), as
  // the device control service does after every change of the list.
  void announceDeviceList() { EXPECT_EQ(control_->notify(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED), 0u); }

 private:
  testing_support::TestSystemRoot root_;
  std::unique_ptr<testing_support::SpawnedProcess> host_;
  std::unique_ptr<sim_testing::SimControl> control_;
};

}  // namespace ui_testing

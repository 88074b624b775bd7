#pragma once
// Helpers of the device host tests: a host with the test driver on a private
// system root, and device requests made the way the device access library
// makes them (manual-reset event in an overlapped record, wait, result).

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/waits.h"
#include "tests/kernel/test_driver_protocol.h"
#include "tests/support/test_device_file.h"
#include "tests/support/test_system_root.h"

namespace kernel_testing {

using testing_support::devicePath;

// One open device handle of the test driver with its request event.
class DeviceFile : public testing_support::TestDeviceFile {
 public:
  explicit DeviceFile(std::u16string_view link = test_driver::kLinkName) : TestDeviceFile(link) {}

  test_driver::Stats stats() {
    test_driver::Stats stats{};
    EXPECT_EQ(control(test_driver::kStats, nullptr, 0, &stats, sizeof stats), 0u);
    return stats;
  }
};

// A device host with the test driver, in this process, on a private root.
class HostedDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.start(), 0u);
    std::string error;
    ASSERT_EQ(host.loadDriver(WN_TEST_DRIVER, u"WnTestDriver", &error), 0u) << error;
  }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
};

}  // namespace kernel_testing

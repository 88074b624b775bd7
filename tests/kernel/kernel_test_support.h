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
#include "tests/support/test_system_root.h"

namespace kernel_testing {

inline std::u16string devicePath(std::u16string_view link = test_driver::kLinkName) {
  return u"\\\\.\\" + std::u16string(link);
}

// One open device handle with its request event.
class DeviceFile {
 public:
  explicit DeviceFile(std::u16string_view link = test_driver::kLinkName)
      : handle_(platform::openDevice(devicePath(link))), openError_(platform::lastError()),
        event_(platform::createEvent(true, false)) {}
  ~DeviceFile() {
    close();
    platform::closeHandle(event_);
  }
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;

  bool isOpen() const { return handle_ != platform::kInvalidHandle; }
  uint32_t openError() const { return openError_; }
  platform::Handle handle() const { return handle_; }
  void close() {
    if (isOpen()) platform::closeHandle(handle_);
    handle_ = platform::kInvalidHandle;
  }

  // One request; returns 0 or the system error, and the byte count.
  uint32_t control(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                   uint32_t* bytes = nullptr) {
    platform::Overlapped overlapped;
    overlapped.event = event_;
    uint32_t count = 0;
    uint32_t result = 0;
    if (!platform::deviceIoControl(handle_, code, input, inputSize, output, outputSize, &count, &overlapped)) {
      result = platform::lastError();
      if (result == platform::ERROR_IO_PENDING) {
        result = platform::getOverlappedResult(handle_, &overlapped, &count, true) ? 0 : platform::lastError();
      }
    }
    if (bytes != nullptr) *bytes = count;
    return result;
  }

  template <typename T>
  uint32_t send(uint32_t code, const T& input) {
    return control(code, &input, sizeof input, nullptr, 0);
  }

  test_driver::Stats stats() {
    test_driver::Stats stats{};
    EXPECT_EQ(control(test_driver::kStats, nullptr, 0, &stats, sizeof stats), 0u);
    return stats;
  }

 private:
  platform::Handle handle_;
  uint32_t openError_;
  platform::Handle event_;
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

// The dispatcher's own checks, run directly on the driver's objects: sizes,
// attachment, unknown codes, the lock around handlers and the families.

#include <gtest/gtest.h>

#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace {

using namespace usbaudio_sim;
using platform::kernel::STATUS_SUCCESS;

class FakeHost final : public platform::kernel::DriverObject {
 public:
  const std::u16string& serviceName() const override { return name_; }
  const std::u16string& registryPath() const override { return path_; }
  NtStatus createInterface(const platform::kernel::DeviceInterfaceInfo&, platform::kernel::DeviceCallbacks) override {
    return STATUS_SUCCESS;
  }
  NtStatus removeInterface(std::u16string_view) override { return STATUS_SUCCESS; }
  void setUnload(std::function<void()>) override {}

 private:
  std::u16string name_ = u"usbaudio_sim";
  std::u16string path_ = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\usbaudio_sim";
};

class FakeRequest final : public platform::kernel::IoRequest {
 public:
  FakeRequest(uint32_t code, uint32_t inputSize, uint32_t outputSize)
      : code_(code), input_(inputSize), output_(outputSize) {}
  uint32_t code() const override { return code_; }
  const uint8_t* input() const override { return input_.data(); }
  uint32_t inputSize() const override { return static_cast<uint32_t>(input_.size()); }
  uint8_t* output() override { return output_.data(); }
  uint32_t outputCapacity() const override { return static_cast<uint32_t>(output_.size()); }
  void setInformation(uint32_t bytes) override { information = bytes; }
  NtStatus referenceEvent(uint64_t, std::shared_ptr<platform::kernel::KernelEvent>*) override {
    return platform::kernel::STATUS_INVALID_HANDLE;
  }
  NtStatus mapUserMemory(uint64_t, uint64_t, std::shared_ptr<platform::kernel::MappedMemory>*) override {
    return platform::kernel::STATUS_INVALID_PARAMETER;
  }
  std::shared_ptr<platform::kernel::PendingRequest> markPending() override { return nullptr; }

  uint32_t information = 0;

 private:
  uint32_t code_;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
};

DeviceDescription smallDevice() {
  DeviceDescription device;
  device.name = u"Unit";
  device.i2sInputs = 2;
  device.i2sOutputs = 2;
  device.sampleRates = {48000};
  return device;
}

class DispatcherChecks : public ::testing::Test {
 protected:
  DispatcherChecks() : driver(host, DriverParameters{}, Configuration{}) {
    dispatcher.add(ORVANE_IOCTL_GET_BYPASS_VOLUME, [this](RequestContext& context) {
      ++calls;
      seenDevice = context.device;
      lockWasFree = context.driver.mutex().try_lock();
      if (lockWasFree) context.driver.mutex().unlock();
      return context.reply(ORVANE_BYPASS_SWITCH{1});
    });
  }

  NtStatus run(FakeRequest& request) { return dispatcher.dispatch(driver, connection, request); }
  ORVANE_DEVICE_ID plug() {
    std::lock_guard lock(driver.mutex());
    ORVANE_DEVICE_ID id{};
    EXPECT_EQ(driver.plugDevice(smallDevice(), -1, &id), STATUS_SUCCESS);
    return id;
  }

  FakeHost host;
  Driver driver;
  Dispatcher dispatcher;
  Connection connection;
  int calls = 0;
  VirtualDevice* seenDevice = nullptr;
  bool lockWasFree = false;
};

TEST_F(DispatcherChecks, DeviceLevelRequestsGetTheAttachedDevice) {
  FakeRequest request(ORVANE_IOCTL_GET_BYPASS_VOLUME, 0, 1);
  EXPECT_EQ(run(request), ORVANE_STATUS_NO_DEVICE);
  EXPECT_EQ(calls, 0);

  const ORVANE_DEVICE_ID id = plug();
  connection.attachedDevice = id;
  EXPECT_EQ(run(request), STATUS_SUCCESS);
  EXPECT_EQ(calls, 1);
  {
    std::lock_guard lock(driver.mutex());
    EXPECT_EQ(seenDevice, driver.findDevice(id));
  }
  EXPECT_FALSE(lockWasFree);  // held around the handler
  EXPECT_EQ(request.information, 1u);

  {
    std::lock_guard lock(driver.mutex());
    ASSERT_EQ(driver.unplugDevice(id), STATUS_SUCCESS);
  }
  EXPECT_EQ(run(request), ORVANE_STATUS_DEVICE_REMOVED);
  EXPECT_EQ(calls, 1);
}

TEST_F(DispatcherChecks, SizesAreCheckedFirst) {
  connection.attachedDevice = plug();
  FakeRequest input(ORVANE_IOCTL_GET_BYPASS_VOLUME, 1, 1);
  EXPECT_EQ(run(input), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  FakeRequest output(ORVANE_IOCTL_GET_BYPASS_VOLUME, 0, 2);
  EXPECT_EQ(run(output), ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
  connection.attachedDevice.reset();
  EXPECT_EQ(run(output), ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);  // before the attachment
  EXPECT_EQ(calls, 0);

  // In/out requests pass one buffer: both sizes must agree.
  int gainCalls = 0;
  dispatcher.add(ORVANE_IOCTL_GET_MIXER_GAINS, [&](RequestContext&) {
    ++gainCalls;
    return STATUS_SUCCESS;
  });
  connection.attachedDevice = plug();
  FakeRequest mismatch(ORVANE_IOCTL_GET_MIXER_GAINS, 16, 8);
  EXPECT_EQ(run(mismatch), ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
  FakeRequest partial(ORVANE_IOCTL_GET_MIXER_GAINS, 12, 12);
  EXPECT_EQ(run(partial), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  FakeRequest good(ORVANE_IOCTL_GET_MIXER_GAINS, 16, 16);
  EXPECT_EQ(run(good), STATUS_SUCCESS);
  EXPECT_EQ(gainCalls, 1);
}

TEST_F(DispatcherChecks, UnknownCodesAndCodesOutsideTheTable) {
  FakeRequest unknown(ORVANE_IOCTL_GET_MIXER_STRIP, 136, 136);
  EXPECT_EQ(run(unknown), ORVANE_STATUS_INVALID_IOCTL);
  // A code outside the table has no sizes to check and needs no device.
  dispatcher.add(0x80889000, [](RequestContext& context) { return context.replyBytes("abc", 3); });
  FakeRequest custom(0x80889000, 7, 3);
  EXPECT_EQ(run(custom), STATUS_SUCCESS);
  EXPECT_EQ(custom.information, 3u);
  FakeRequest tooSmall(0x80889000, 0, 2);
  EXPECT_EQ(run(tooSmall), ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
}

TEST_F(DispatcherChecks, HandlersThatLockThemselvesRunWithoutTheLock) {
  bool free = false;
  dispatcher.add(
      ORVANE_IOCTL_SET_EVENTS,
      [&](RequestContext& context) {
        free = context.driver.mutex().try_lock();
        if (free) context.driver.mutex().unlock();
        return STATUS_SUCCESS;
      },
      HandlerLocking::handlerLocks);
  FakeRequest request(ORVANE_IOCTL_SET_EVENTS, 16, 0);
  EXPECT_EQ(run(request), STATUS_SUCCESS);
  EXPECT_TRUE(free);
}

TEST(HandlerFamilies, EveryCoreRequestHasAHandler) {
  Dispatcher dispatcher;
  dispatcher.registerFamilies();
  for (uint32_t code : {ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_IOCTL_GET_TRACE_MASK, ORVANE_IOCTL_SET_TRACE_MASK,
                        ORVANE_IOCTL_SAVE_TRACE_MASK, ORVANE_IOCTL_SEND_MESSAGE, ORVANE_IOCTL_READ_MESSAGE,
                        ORVANE_IOCTL_READ_NOTIFICATION, ORVANE_IOCTL_SET_EVENTS, ORVANE_IOCTL_REGISTER_CLIENT,
                        ORVANE_IOCTL_GET_DEVICE_LIST, ORVANE_IOCTL_ATTACH_DEVICE, ORVANE_IOCTL_GET_INPUT_CHANNELS,
                        ORVANE_IOCTL_GET_OUTPUT_CHANNELS, ORVANE_IOCTL_GET_CHANNEL_INFO, ORVANE_IOCTL_GET_SAMPLE_RATES,
                        ORVANE_IOCTL_GET_BUFFER_SIZES, ORVANE_IOCTL_GET_STREAMING_STATUS,
                        ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_IOCTL_SET_SAMPLE_RATE, ORVANE_IOCTL_SET_BUFFER_SIZES,
                        ORVANE_IOCTL_PRESET_SAMPLE_RATE, ORVANE_IOCTL_SET_STREAMING_DEVICE,
                        ORVANE_IOCTL_ASIO_GET_SETTINGS, ORVANE_IOCTL_ASIO_GET_CHANNELS,
                        ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO, ORVANE_IOCTL_ASIO_GET_LATENCIES,
                        ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, ORVANE_IOCTL_ASIO_RELEASE_CHANNEL,
                        ORVANE_IOCTL_ASIO_CREATE_BUFFERS, ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS,
                        ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS, ORVANE_IOCTL_ASIO_START, ORVANE_IOCTL_ASIO_STOP}) {
    EXPECT_TRUE(dispatcher.has(code)) << std::hex << code;
  }
}

}  // namespace

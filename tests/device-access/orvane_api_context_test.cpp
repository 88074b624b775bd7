// OrvaneApiContext without a kernel driver: closed objects, missing links,
// the device path. The cases that need the simulated kernel driver are in
// orvane_connection_test.cpp.

#include "device-access/orvane_api_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>

#include "device-access/orvane_driver.h"
#include "device-access/orvane_status.h"
#include "platform/errors.h"
#include "platform/guid.h"
#include "platform/kernel/device_host.h"
#include "tests/support/test_system_root.h"

namespace {

constexpr uint32_t kUntouched = 0xC0FFEE;

struct ClosedCase {
  const char* name;
  std::function<uint32_t(OrvaneApiContext&)> call;
};

const ClosedCase kClosedCases[] = {
    {"ioControl", [](OrvaneApiContext& c) { return c.ioControl(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, nullptr, 0); }},
    {"driver info", [](OrvaneApiContext& c) { ORVANE_DRIVER_INFO r; return c.ioctlGetDriverInfo(r); }},
    {"send message",
     [](OrvaneApiContext& c) {
       ORVANE_MESSAGE m{};
       m.headerSize = 32;
       return c.ioctlSendMessage(m);
     }},
    {"read notification", [](OrvaneApiContext& c) { ORVANE_MESSAGE m; return c.ioctlReadNotification(m); }},
    {"device list", [](OrvaneApiContext& c) { ORVANE_DEVICE_LIST r; return c.ioctlGetDeviceList(r); }},
    {"attach", [](OrvaneApiContext& c) { return c.ioctlAttachDevice({1, 2}); }},
    {"mixer pins",
     [](OrvaneApiContext& c) {
       ORVANE_MIXER_PIN pins[4];
       uint32_t count = kUntouched;
       const uint32_t status = c.ioctlGetMixerPins(0, pins, 4, count);
       EXPECT_EQ(count, 0u);
       return status;
     }},
    {"mixer strip", [](OrvaneApiContext& c) { ORVANE_SOUND_DEVICE_VOLUME v; return c.ioctlGetMixerStrip(2, 0, v); }},
    {"asio start", [](OrvaneApiContext& c) { return c.ioctlAsioStart(); }},
};

TEST(OrvaneApiContextClosed, EveryRequestFailsWithNotOpenedWithoutASystemCall) {
  OrvaneApiContext context;
  for (const ClosedCase& closedCase : kClosedCases) {
    SCOPED_TRACE(closedCase.name);
    platform::setLastError(kUntouched);
    EXPECT_EQ(closedCase.call(context), ORVANE_STATUS_NOT_OPENED);
    EXPECT_EQ(platform::lastError(), kUntouched) << "a system call ran";
  }
}

TEST(OrvaneApiContextClosed, ReturnedCountIsNotWritten) {
  OrvaneApiContext context;
  uint32_t returned = kUntouched;
  EXPECT_EQ(context.ioControl(ORVANE_IOCTL_GET_DRIVER_INFO, nullptr, 0, nullptr, 0, &returned),
            ORVANE_STATUS_NOT_OPENED);
  EXPECT_EQ(returned, kUntouched);
}

TEST(OrvaneApiContextClosed, CloseOnAClosedObjectIsHarmless) {
  OrvaneApiContext context;
  context.close();
  context.close();
  EXPECT_FALSE(context.isOpen());
}

TEST(OrvaneDevicePath, PrefixesTheName) {
  char16_t path[ORVANE_DEVICE_PATH_CHARS];
  EXPECT_EQ(orvaneDevicePath(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}", path), 42u);
  EXPECT_EQ(std::u16string(path), u"\\\\.\\{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}");
}

TEST(OrvaneDevicePath, TruncatesAt299Characters) {
  struct Case {
    size_t nameLength;
    size_t pathLength;
  };
  for (const Case c : {Case{295, 299}, Case{296, 299}, Case{400, 299}, Case{294, 298}}) {
    SCOPED_TRACE(c.nameLength);
    std::u16string name;
    for (size_t i = 0; i < c.nameLength; ++i) name += static_cast<char16_t>(u'a' + i % 26);
    char16_t path[ORVANE_DEVICE_PATH_CHARS];
    EXPECT_EQ(orvaneDevicePath(name.c_str(), path), c.pathLength);
    EXPECT_EQ(std::u16string(path), u"\\\\.\\" + name.substr(0, c.pathLength - 4));
  }
}

class OrvaneApiContextNoDriver : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(host.start(), 0u); }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
};

TEST_F(OrvaneApiContextNoDriver, OpenOfAMissingLinkReturnsTheSystemErrorAndStaysClosed) {
  OrvaneApiContext context;
  EXPECT_EQ(context.open(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(context.isOpen());
  ORVANE_DRIVER_INFO info;
  EXPECT_EQ(context.ioctlGetDriverInfo(info), ORVANE_STATUS_NOT_OPENED);
}

TEST_F(OrvaneApiContextNoDriver, OpenOfAnOverlongNameFailsCleanly) {
  const std::u16string name(400, u'x');
  OrvaneApiContext context;
  EXPECT_EQ(context.open(name.c_str()), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(context.isOpen());
}

TEST_F(OrvaneApiContextNoDriver, DriverConnectionOfAMissingLinkStaysClosed) {
  OrvaneDriver driver;
  EXPECT_EQ(driver.openDriver(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}", true, true), platform::ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(driver.isOpen());
  bool changed = true;
  EXPECT_EQ(driver.updateDeviceList(changed), ORVANE_STATUS_NOT_OPENED);
  EXPECT_FALSE(changed);
  EXPECT_EQ(driver.deviceCount(), 0u);
  EXPECT_EQ(driver.deviceAt(0), nullptr);
  driver.closeDriver();
}

// A kernel driver of some interface generation: it answers the driver
// information request with the major version the test chooses, and the
// requests whose records carry counts with counts beyond the records' slots.
std::atomic<uint32_t> gInterfaceMajor{2};
std::atomic<uint32_t> gRequestCount{0};

template <typename Record>
platform::kernel::NtStatus reply(platform::kernel::IoRequest& request, const Record& record) {
  if (request.outputCapacity() < sizeof record) return platform::kernel::STATUS_BUFFER_TOO_SMALL;
  std::memcpy(request.output(), &record, sizeof record);
  request.setInformation(sizeof record);
  return platform::kernel::STATUS_SUCCESS;
}

platform::kernel::NtStatus answerGenerationRequest(platform::kernel::IoRequest& request) {
  ++gRequestCount;
  switch (request.code()) {
    case ORVANE_IOCTL_GET_DRIVER_INFO: {
      ORVANE_DRIVER_INFO info{};
      info.interfaceVersionMajor = gInterfaceMajor;
      info.interfaceVersionMinor = 7;
      return reply(request, info);
    }
    case ORVANE_IOCTL_GET_DEVICE_LIST: {
      ORVANE_DEVICE_LIST list{};
      list.count = 0xFFFFFFFF;
      return reply(request, list);
    }
    case ORVANE_IOCTL_GET_INPUT_CHANNELS: {
      ORVANE_CHANNEL_LIST list{};
      list.count = 97;
      return reply(request, list);
    }
    case ORVANE_IOCTL_GET_SAMPLE_RATES: {
      ORVANE_SAMPLE_RATES rates{};
      rates.rateCount = 11;
      return reply(request, rates);
    }
    case ORVANE_IOCTL_ASIO_GET_SETTINGS: {
      ORVANE_ASIO_SETTINGS settings{};
      settings.sampleRates.rateCount = 1000;
      return reply(request, settings);
    }
    case ORVANE_IOCTL_ASIO_GET_CHANNELS: {
      ORVANE_CHANNEL_LIST_PAIR pair{};
      pair.inputs.count = 200;
      pair.outputs.count = 0x80000000;
      return reply(request, pair);
    }
    case ORVANE_IOCTL_SET_EVENTS:
      return platform::kernel::STATUS_SUCCESS;
    default:
      return platform::kernel::STATUS_INVALID_DEVICE_REQUEST;
  }
}

uint32_t generationDriverEntry(platform::kernel::DriverObject* driver, const char16_t*) {
  platform::kernel::DeviceInterfaceInfo info;
  info.linkName = u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}";
  platform::parseGuid(std::u16string_view(info.linkName), &info.interfaceClass);
  platform::kernel::DeviceCallbacks callbacks;
  callbacks.create = [](platform::kernel::FileObject&) { return platform::kernel::STATUS_SUCCESS; };
  callbacks.deviceControl = [](platform::kernel::FileObject&, platform::kernel::IoRequest& request) {
    return answerGenerationRequest(request);
  };
  callbacks.cleanup = [](platform::kernel::FileObject&) {};
  return driver->createInterface(info, callbacks);
}

class OrvaneApiContextGeneration : public OrvaneApiContextNoDriver {
 protected:
  void SetUp() override {
    OrvaneApiContextNoDriver::SetUp();
    gInterfaceMajor = 2;
    std::string error;
    ASSERT_EQ(host.addDriver(generationDriverEntry, u"GenerationTest", &error), 0u) << error;
  }
};

TEST_F(OrvaneApiContextGeneration, AnotherInterfaceGenerationLeavesTheObjectClosed) {
  for (const uint32_t major : {1u, 3u, 0u}) {
    SCOPED_TRACE(major);
    gInterfaceMajor = major;
    OrvaneApiContext context;
    EXPECT_EQ(context.open(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"), ORVANE_STATUS_VERSION_MISMATCH);
    EXPECT_FALSE(context.isOpen());
    const uint32_t before = gRequestCount;
    ORVANE_DRIVER_INFO info;
    EXPECT_EQ(context.ioctlGetDriverInfo(info), ORVANE_STATUS_NOT_OPENED);
    EXPECT_EQ(gRequestCount, before);
  }
}

TEST_F(OrvaneApiContextGeneration, InterfaceVersionTwoOpensWhateverTheMinor) {
  OrvaneApiContext context;
  ASSERT_EQ(context.open(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"), 0u);
  EXPECT_TRUE(context.isOpen());
  // Once closed by a mismatch, the same object opens again.
  context.close();
  gInterfaceMajor = 3;
  EXPECT_EQ(context.open(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"), ORVANE_STATUS_VERSION_MISMATCH);
  gInterfaceMajor = 2;
  EXPECT_EQ(context.open(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"), 0u);
}

TEST_F(OrvaneApiContextGeneration, AMismatchedDriverConnectionStaysClosed) {
  gInterfaceMajor = 3;
  OrvaneDriver driver;
  EXPECT_EQ(driver.openDriver(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}", true, true), ORVANE_STATUS_VERSION_MISMATCH);
  EXPECT_FALSE(driver.isOpen());
}

TEST_F(OrvaneApiContextGeneration, CountsBeyondARecordsSlotsAreLimited) {
  OrvaneDriver driver;
  ASSERT_EQ(driver.openDriver(u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}", false, false), 0u);
  ORVANE_DEVICE_LIST devices;
  ASSERT_EQ(driver.ioctlGetDeviceList(devices), 0u);
  EXPECT_EQ(devices.count, ORVANE_MAX_DEVICES);
  ORVANE_CHANNEL_LIST channels;
  ASSERT_EQ(driver.ioctlGetInputChannels(channels), 0u);
  EXPECT_EQ(channels.count, ORVANE_MAX_CHANNELS);
  ORVANE_SAMPLE_RATES rates;
  ASSERT_EQ(driver.ioctlGetSampleRates(rates), 0u);
  EXPECT_EQ(rates.rateCount, ORVANE_MAX_SAMPLE_RATES);
  ORVANE_ASIO_SETTINGS settings;
  ASSERT_EQ(driver.ioctlAsioGetSettings(settings), 0u);
  EXPECT_EQ(settings.sampleRates.rateCount, ORVANE_MAX_SAMPLE_RATES);
  ORVANE_CHANNEL_LIST_PAIR pair;
  ASSERT_EQ(driver.ioctlAsioGetChannels(pair), 0u);
  EXPECT_EQ(pair.inputs.count, ORVANE_MAX_CHANNELS);
  EXPECT_EQ(pair.outputs.count, ORVANE_MAX_CHANNELS);

  // The device list update walks at most eight entries; this driver attaches none.
  bool changed = true;
  EXPECT_EQ(driver.updateDeviceList(changed), 0u);
  EXPECT_FALSE(changed);
  EXPECT_EQ(driver.deviceCount(), 0u);
}

}  // namespace

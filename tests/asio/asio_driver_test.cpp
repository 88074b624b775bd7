// The driver object: init, names and versions, channels, rates, clock
// sources, buffer sizes, latencies and the I/O format switch.

#include <cstring>
#include <string>

#include "asio/asio_driver.h"
#include "platform/kernel/device_host.h"
#include "tests/asio/asio_test_support.h"
#include "tests/support/test_system_root.h"

using namespace asio_testing;

namespace {

std::string errorMessage(DriverReference& driver) {
  char text[kAsioErrorMessageChars];
  std::memset(text, 'x', sizeof text);
  driver->getErrorMessage(text);
  return text;
}

TEST(AsioBufferSizeLimits, OfferTheNeighboursOfThePreferredSize) {
  struct Case {
    int64_t size, minimum, maximum;
  };
  const Case cases[] = {
      {256, 128, 512},     {64, 64, 128},       {65536, 32768, 65536}, {4 * 64, 128, 512},
      {32, 32, 64},        {16, 16, 32},        {100, 64, 128},        {131072, 65536, 131072},
  };
  for (const Case& c : cases) {
    const AsioBufferSizeLimits limits = asioBufferSizeLimits(c.size);
    EXPECT_EQ(limits.minimum, c.minimum) << c.size;
    EXPECT_EQ(limits.maximum, c.maximum) << c.size;
  }
}

TEST(AsioDriverWithoutKernelDriver, InitFailsWithTheNoDeviceText) {
  testing_support::TestSystemRoot root;
  DriverReference driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  EXPECT_EQ(errorMessage(driver), "No device is connected to the PC.");
  EXPECT_EQ(driver->state(), AsioDriverState::Loaded);
  int32_t inputs = -1, outputs = -1;
  EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_NotPresent);
  EXPECT_EQ(inputs, 0);
  EXPECT_EQ(outputs, 0);
  ASIOClockSource clocks[1];
  int32_t count = 1;
  EXPECT_EQ(driver->getClockSources(clocks, &count), ASE_NotPresent);
  EXPECT_EQ(driver->setClockSource(0), ASE_NotPresent);
  ASIOSamples position{1, 1};
  ASIOTimeStamp stamp{1, 1};
  EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(asioWordsToValue(position.hi, position.lo), 0u);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
  EXPECT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
}

TEST(AsioDriverNames, NameVersionAndTextsAreNarrowAndBounded) {
  class LongName : public AsioCustom {
   public:
    const char16_t* driverName() const override { return u"A driver name of many more than thirty-one characters"; }
  };
  AsioDriver* driver = new AsioDriver(nullptr, std::make_unique<LongName>());
  driver->NonDelegatingAddRef();
  char name[kAsioDriverNameChars + 8];
  std::memset(name, 'x', sizeof name);
  driver->getDriverName(name);
  EXPECT_EQ(std::string(name), std::string("A driver name of many more than thirty-one characters").substr(0, 31));
  EXPECT_EQ(name[32], 'x');
  EXPECT_EQ(driver->getDriverVersion(), 291);
  EXPECT_EQ(driver->outputReady(), ASE_NotPresent);
  driver->NonDelegatingRelease();

  DriverReference own;
  own->getDriverName(name);
  EXPECT_STREQ(name, "SorvikUSB ASIO Driver");
  EXPECT_EQ(errorMessage(own), "");
}

class AsioDriverInit : public AsioDriverTest {};

TEST_F(AsioDriverInit, ReadsChannelsRatesAndBufferSizesOfTheStreamingDevice) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  EXPECT_EQ(driver->state(), AsioDriverState::Initialised);
  EXPECT_EQ(driver->init(nullptr), ASIOTrue);  // again: no effect
  int32_t inputs = 0, outputs = 0;
  ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs, 20);   // 16 line, 2 S/PDIF, 2 loopback
  EXPECT_EQ(outputs, 18);  // 16 line, 2 S/PDIF

  ASIOChannelInfo info{};
  info.channel = 0;
  info.isInput = ASIOTrue;
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "IN 01");
  EXPECT_EQ(info.type, ASIOSTInt32LSB);
  EXPECT_EQ(info.isActive, ASIOFalse);
  EXPECT_EQ(info.channelGroup, 0);
  info.channel = 17;
  info.isInput = ASIOFalse;
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "SPDIF OUT 1R");
  for (int32_t bad : {18, -1, 1000}) {
    info.channel = bad;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_NotPresent) << bad;
  }

  ASIOSampleRate rate = 0;
  ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 48000.0);
  int32_t minimum = 0, maximum = 0, preferred = 0, granularity = -1;
  ASSERT_EQ(driver->getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
  EXPECT_EQ(preferred, 128);  // the ASIO class Small at 48 kHz
  EXPECT_EQ(minimum, 64);
  EXPECT_EQ(maximum, 256);
  EXPECT_EQ(granularity, 0);
  int32_t inputLatency = -1, outputLatency = -1;
  ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
  EXPECT_EQ(inputLatency, 64 + 24);  // no buffers yet: the streaming buffer and the safety frames only
  EXPECT_EQ(outputLatency, 64 + 40);
}

TEST_F(AsioDriverInit, BufferSizesFollowTheKernelDriversSetting) {
  struct Case {
    uint32_t asioClass, rate;
    int32_t minimum, preferred, maximum;
  };
  const Case cases[] = {{0, 48000, 64, 64, 128}, {2, 48000, 128, 256, 512}, {3, 96000, 512, 1024, 2048}};
  for (const Case& c : cases) {
    streamingCommand(ORVANE_STREAMING_COMMAND_STOP);
    ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_CHANGE_SETTINGS,
                          usbaudio_sim::SIM_SETTINGS{c.rate, usbaudio_sim::SIM_KEEP, c.asioClass, 0}),
              0u);
    streamingCommand(ORVANE_STREAMING_COMMAND_PREPARE);
    streamingCommand(ORVANE_STREAMING_COMMAND_START);
    DriverReference driver;
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    ASSERT_EQ(driver->getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minimum, c.minimum) << c.asioClass;
    EXPECT_EQ(preferred, c.preferred) << c.asioClass;
    EXPECT_EQ(maximum, c.maximum) << c.asioClass;
  }
}

TEST_F(AsioDriverInit, RatesAreMatchedByTheirIntegerPart) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  struct Case {
    double rate;
    ASIOError result;
  };
  const Case cases[] = {{44100.0, ASE_OK},      {44100.7, ASE_OK},      {44099.9, ASE_NoClock},
                        {2822400.0, ASE_OK},    {32000.0, ASE_NoClock}, {-48000.0, ASE_NoClock},
                        {1e12, ASE_NoClock},    {0.0, ASE_NoClock}};
  for (const Case& c : cases) EXPECT_EQ(driver->canSampleRate(c.rate), c.result) << c.rate;
}

TEST_F(AsioDriverInit, OneClockSourceNamedComputer) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  ASIOClockSource clocks[4]{};
  int32_t count = 0;
  EXPECT_EQ(driver->getClockSources(clocks, &count), ASE_InvalidParameter);
  count = 4;
  ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(clocks[0].name, "Computer");
  EXPECT_EQ(clocks[0].index, 0);
  EXPECT_EQ(clocks[0].associatedChannel, -1);
  EXPECT_EQ(clocks[0].associatedGroup, -1);
  EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
  EXPECT_EQ(driver->setClockSource(0), ASE_OK);
  EXPECT_EQ(driver->setClockSource(1), ASE_InvalidParameter);
}

TEST_F(AsioDriverInit, WithoutStreamingInitFailsAfterWaitingAndKeepsTheTextEmpty) {
  streamingCommand(ORVANE_STREAMING_COMMAND_STOP);
  DriverReference driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
  EXPECT_EQ(errorMessage(driver), "");
  EXPECT_EQ(driver->state(), AsioDriverState::Loaded);
  // The connection was closed again: the kernel driver sees no ASIO client.
  EXPECT_TRUE(waitUntilGone("client asio"));
}

TEST_F(AsioDriverInit, AnEngineInErrorFailsInitAtOnce) {
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR), 0u);
  DriverReference driver;
  EXPECT_EQ(driver->init(nullptr), ASIOFalse);
}

TEST_F(AsioDriverInit, FutureSelectors) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  EXPECT_EQ(driver->future(kAsioEnableTimeCodeRead, nullptr), ASE_SUCCESS);
  EXPECT_EQ(driver->future(kAsioDisableTimeCodeRead, nullptr), ASE_SUCCESS);
  EXPECT_EQ(driver->future(kAsioCanTimeInfo, nullptr), ASE_SUCCESS);
  EXPECT_EQ(driver->future(kAsioCanTimeCode, nullptr), ASE_NotPresent);
  EXPECT_EQ(driver->future(kAsioSetInputMonitor, nullptr), ASE_NotPresent);
  EXPECT_EQ(driver->future(kAsioGetIoFormat, nullptr), ASE_NotPresent);
  EXPECT_EQ(driver->future(kAsioSetIoFormat, nullptr), ASE_NotPresent);
  ASIOIoFormat format{};
  format.FormatType = kASIODSDFormat;
  ASSERT_EQ(driver->future(kAsioGetIoFormat, &format), ASE_SUCCESS);
  EXPECT_EQ(format.FormatType, kASIOPCMFormat);
  format.FormatType = kASIODSDFormat;
  EXPECT_EQ(driver->future(kAsioCanDoIoFormat, &format), ASE_SUCCESS);
  format.FormatType = kASIOPCMFormat;
  EXPECT_EQ(driver->future(kAsioCanDoIoFormat, &format), ASE_SUCCESS);
  format.FormatType = kASIOFormatInvalid;
  EXPECT_EQ(driver->future(kAsioCanDoIoFormat, &format), ASE_NotPresent);
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_NotPresent);
  EXPECT_FALSE(driver->dsdMode());
}

TEST_F(AsioDriverInit, WithoutTheServiceRateChangesFailAsHardwareMalfunction) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  EXPECT_EQ(driver->setSampleRate(32000), ASE_NoClock);
  EXPECT_EQ(driver->setSampleRate(96000), ASE_HWMalfunction);  // the kernel driver has no server
  // The mode flag follows the request even when the switch fails.
  ASIOIoFormat format{};
  format.FormatType = kASIODSDFormat;
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_HWMalfunction);
  EXPECT_TRUE(driver->dsdMode());
  format.FormatType = kASIOPCMFormat;
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_HWMalfunction);
  EXPECT_FALSE(driver->dsdMode());
}

// A device whose rate list has no DSD rate.
class AsioDriverPcmOnly : public AsioDriverTest {
 protected:
  std::string configuration() const override {
    sim_testing::DeviceSpec device{"QT04B0009", "QUINTOR Mini 4"};
    device.product = 0x0104;
    device.i2sInputs = 4;
    device.i2sOutputs = 4;
    return sim_testing::configurationText({device});
  }
};

TEST_F(AsioDriverPcmOnly, TheDsdFormatIsNotOffered) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  ASIOIoFormat format{};
  format.FormatType = kASIODSDFormat;
  EXPECT_EQ(driver->future(kAsioCanDoIoFormat, &format), ASE_NotPresent);
  EXPECT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_NotPresent);
  EXPECT_FALSE(driver->dsdMode());
  EXPECT_EQ(driver->canSampleRate(2822400), ASE_NoClock);
}

}  // namespace

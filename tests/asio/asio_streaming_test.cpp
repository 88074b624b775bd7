// Buffers and streaming: createBuffers and disposeBuffers, the buffer
// thread's switches, loop-back through the kernel driver, the sample
// position, and notifications turned into host messages.

#include <cstring>
#include <string>
#include <thread>

#include "asio/asio_driver.h"
#include "platform/clock.h"
#include "tests/asio/asio_test_support.h"

using namespace asio_testing;
using sim_testing::SimFile;

namespace {

class AsioStreaming : public AsioDriverTest {
 protected:
  void SetUp() override {
    AsioDriverTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  }

  DriverReference driver;
  TestHost asioHost;
  std::vector<ASIOBufferInfo> infos;
};

TEST_F(AsioStreaming, CreateBuffersChecksStateAndArgumentsFirst) {
  DriverReference loaded;
  EXPECT_EQ(loaded->createBuffers(nullptr, 0, 64, &asioHost.callbacks), ASE_NotPresent);
  ASIOBufferInfo info{ASIOFalse, 0, {}};
  EXPECT_EQ(driver->createBuffers(nullptr, 1, 64, &asioHost.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(driver->createBuffers(&info, 1, 64, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(driver->createBuffers(&info, 1, 0, &asioHost.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(driver->createBuffers(&info, 1, -64, &asioHost.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(driver->state(), AsioDriverState::Initialised);
  // Nothing was handed to the kernel driver.
  EXPECT_EQ(state().find("asio: frames 64"), std::string::npos);
}

TEST_F(AsioStreaming, BuffersAreHandedToHostAndKernelDriver) {
  ASSERT_EQ(createBuffers(driver, asioHost, 2, 2, 128, infos), ASE_OK);
  EXPECT_EQ(driver->state(), AsioDriverState::Prepared);
  for (const ASIOBufferInfo& info : infos) {
    ASSERT_NE(info.buffers[0], nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(info.buffers[1]) - static_cast<uint8_t*>(info.buffers[0]), 128 * 4);
  }
  const std::string dump = state();
  EXPECT_NE(dump.find("channels 4\n    asio: frames 128"), std::string::npos) << dump;
  ASIOChannelInfo info{0, ASIOTrue, ASIOFalse, 0, 0, {}};
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.isActive, ASIOTrue);
  info.channel = 2;
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.isActive, ASIOFalse);
  int32_t inputLatency = 0, outputLatency = 0;
  ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
  EXPECT_EQ(inputLatency, 128 + 64 + 24);
  EXPECT_EQ(outputLatency, 128 + 64 + 40);
  EXPECT_EQ(driver->hostAbilities().engineVersion, 2);
  EXPECT_TRUE(driver->hostAbilities().resetRequest);
  EXPECT_TRUE(driver->hostAbilities().bufferSizeChange);
  EXPECT_FALSE(driver->hostAbilities().timeInfo);

  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(driver->state(), AsioDriverState::Initialised);
  EXPECT_TRUE(waitUntilGone(", channels "));
  EXPECT_TRUE(waitUntilGone("asio: frames 128"));
}

TEST_F(AsioStreaming, AnUnknownOrRepeatedChannelFailsTheWholeCall) {
  struct Case {
    std::vector<ASIOBufferInfo> entries;
    ASIOError result;
  };
  const Case cases[] = {
      {{{ASIOTrue, 0, {}}, {ASIOTrue, 20, {}}}, ASE_InvalidParameter},   // there are 20 inputs
      {{{ASIOFalse, 0, {}}, {ASIOFalse, -1, {}}}, ASE_InvalidParameter},
      {{{ASIOFalse, 3, {}}, {ASIOFalse, 3, {}}}, ASE_InvalidParameter},  // the second would free the first's buffer
  };
  for (const Case& c : cases) {
    std::vector<ASIOBufferInfo> entries = c.entries;
    EXPECT_EQ(driver->createBuffers(entries.data(), static_cast<int32_t>(entries.size()), 64, &asioHost.callbacks),
              c.result);
    EXPECT_EQ(driver->state(), AsioDriverState::Initialised);
    for (const ASIOBufferInfo& entry : entries) EXPECT_EQ(entry.buffers[0], nullptr);
    EXPECT_TRUE(waitUntilGone(", channels "));
  }
}

TEST_F(AsioStreaming, AChannelHeldByAnotherHostFailsTheCallWithAMessage) {
  SimFile other(sim_testing::kAsioLink);
  ORVANE_CHANNEL_LIST_PAIR lists{};
  ASSERT_EQ(other.get(ORVANE_IOCTL_ASIO_GET_CHANNELS, &lists), 0u);
  ASSERT_EQ(other.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, sim_testing::channelAt(lists.outputs, 1)), 0u);

  EXPECT_EQ(createBuffers(driver, asioHost, 1, 2, 64, infos), ASE_HWMalfunction);
  EXPECT_EQ(driver->state(), AsioDriverState::Initialised);
  for (const ASIOBufferInfo& entry : infos) EXPECT_EQ(entry.buffers[0], nullptr);
  char text[kAsioErrorMessageChars];
  driver->getErrorMessage(text);
  EXPECT_STREQ(text, "The channel OUT 02 is not available (ORVANE_STATUS_IN_USE).");
  // Only the other connection holds a channel now.
  const std::string dump = state();
  EXPECT_EQ(dump.find("channels 1"), dump.rfind("channels "));
}

TEST_F(AsioStreaming, StartRunsTheHostUntilStop) {
  asioHost.timeInfo = true;
  ASSERT_EQ(createBuffers(driver, asioHost, 1, 1, 64, infos), ASE_OK);
  ASSERT_TRUE(driver->hostAbilities().timeInfo);
  ASSERT_EQ(driver->start(), ASE_OK);
  EXPECT_EQ(driver->state(), AsioDriverState::Running);
  EXPECT_EQ(driver->start(), ASE_OK);  // again: no effect
  EXPECT_EQ(platform::activeTimePeriodRequests(1), 1);
  ASSERT_TRUE(asioHost.waitForSwitches(50));
  EXPECT_EQ(asioHost.timeInfoSwitches.load(), asioHost.switches.load());
  ASSERT_EQ(driver->stop(), ASE_OK);
  EXPECT_EQ(driver->state(), AsioDriverState::Prepared);
  EXPECT_EQ(platform::activeTimePeriodRequests(1), 0);
  const int switches = asioHost.switches.load();

  // The position and time stamp of the last switch stay readable.
  ASIOSamples position{};
  ASIOTimeStamp stamp{};
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(asioWordsToValue(position.hi, position.lo), uint64_t(switches - 1) * 64);
  EXPECT_EQ(asioWordsToValue(position.hi, position.lo),
            asioWordsToValue(asioHost.lastTimeInfo.timeInfo.samplePosition.hi, asioHost.lastTimeInfo.timeInfo.samplePosition.lo));
  EXPECT_NE(asioWordsToValue(stamp.hi, stamp.lo), 0u);
  EXPECT_EQ(asioWordsToValue(stamp.hi, stamp.lo) % 1'000'000, 0u);  // milliseconds of the multimedia timer
  EXPECT_EQ(asioHost.lastTimeInfo.timeInfo.sampleRate, 48000.0);
  EXPECT_EQ(asioHost.lastTimeInfo.timeInfo.speed, 1.0);
  EXPECT_EQ(asioHost.lastTimeInfo.timeInfo.flags, 15u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(asioHost.switches.load(), switches);
  const auto [kernelSwitches, missed] = streamCounters();
  // Two pre-roll switches; a buffer event the loaded machine let pass unanswered is a missed one
  // (the kernel driver learns of it at its next period, so the last one may be in either count).
  EXPECT_NEAR(static_cast<double>(kernelSwitches + 2), static_cast<double>(static_cast<uint32_t>(switches) + missed),
              1.0);

  // Started again, the position begins at zero.
  const int before = asioHost.switches.load();
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(before + 1));
  ASSERT_EQ(driver->stop(), ASE_OK);
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(asioWordsToValue(position.hi, position.lo), uint64_t(asioHost.switches.load() - before - 1) * 64);

  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
  EXPECT_EQ(driver->start(), ASE_NotPresent);
}

TEST_F(AsioStreaming, PreRollFillsBothHalvesBeforeTheKernelDriverStarts) {
  std::vector<int32_t> indices;
  asioHost.onSwitch = [&](int32_t index) {
    if (indices.size() < 6) indices.push_back(index);
  };
  ASSERT_EQ(createBuffers(driver, asioHost, 0, 1, 64, infos), ASE_OK);
  std::memset(infos[0].buffers[0], 0x55, 2 * 64 * 4);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(6));
  ASSERT_EQ(driver->stop(), ASE_OK);
  // The pre-roll, then the halves the kernel driver names (alternating, unless the loaded machine let one pass).
  ASSERT_EQ(indices.size(), 6u);
  EXPECT_EQ(indices[0], 0);
  EXPECT_EQ(indices[1], 1);
  for (int32_t index : indices) EXPECT_TRUE(index == 0 || index == 1);
  asioHost.onSwitch = nullptr;
  // start filled the buffers with silence before the first switch.
  const auto* bytes = static_cast<const uint8_t*>(infos[0].buffers[0]);
  EXPECT_EQ(std::count(bytes, bytes + 2 * 64 * 4, 0x55), 0);
}

TEST_F(AsioStreaming, OutputsComeBackOnTheInputsBitExact) {
  constexpr int kFrames = 64;
  ASSERT_EQ(createBuffers(driver, asioHost, 2, 2, kFrames, infos), ASE_OK);
  // Each output half carries a running counter; the inputs must return it unchanged.
  std::atomic<uint32_t> written{0};
  std::atomic<int> checked{0};
  std::atomic<int> wrong{0};
  std::vector<int32_t> expected;  // what the line outputs carried, in order
  std::mutex mutex;
  asioHost.onSwitch = [&](int32_t index) {
    for (int c = 0; c < 2; ++c) {
      auto* out = static_cast<int32_t*>(infos[2 + c].buffers[index]);
      const auto* in = static_cast<const int32_t*>(infos[c].buffers[index]);
      for (int i = 0; i < kFrames; ++i) {
        if (in[i] != 0) {
          // A value comes back on the input of the same number.
          if ((in[i] & 1) != c) ++wrong;
          ++checked;
        }
        out[i] = static_cast<int32_t>(((written + static_cast<uint32_t>(i)) << 1) | static_cast<uint32_t>(c));
      }
    }
    written += kFrames;
  };
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(200));
  ASSERT_EQ(driver->stop(), ASE_OK);
  asioHost.onSwitch = nullptr;
  EXPECT_GT(checked.load(), 100 * kFrames);
  EXPECT_EQ(wrong.load(), 0);
  // The last input halves hold consecutive counter values, as written.
  for (int half = 0; half < 2; ++half) {
    const auto* in = static_cast<const int32_t*>(infos[0].buffers[half]);
    for (int i = 1; i < kFrames; ++i) ASSERT_EQ(in[i] - in[i - 1], 2) << half << " " << i;
  }
}

TEST_F(AsioStreaming, SettingsNotificationsBecomeHostMessages) {
  struct Case {
    bool reset, bufferSizeChange;
    std::vector<std::pair<int32_t, int32_t>> expected;
  };
  const Case cases[] = {
      {true, true, {{kAsioResetRequest, 0}, {kAsioBufferSizeChange, 0}}},
      {true, false, {{kAsioResetRequest, 0}, {kAsioResetRequest, 0}}},
      {false, true, {{kAsioBufferSizeChange, 0}}},
      {false, false, {}},
  };
  for (const Case& c : cases) {
    TestHost caseHost;
    caseHost.resetRequest = c.reset;
    caseHost.bufferSizeChange = c.bufferSizeChange;
    ASSERT_EQ(createBuffers(driver, caseHost, 0, 1, 64, infos), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(caseHost.waitForSwitches(3));
    ASSERT_EQ(postNotification(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED), 0u);
    ASSERT_EQ(postNotification(ORVANE_MSG_CODE_DEVICE_LIST_CHANGED), 0u);  // not for the driver
    ASSERT_EQ(postNotification(ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED), 0u);
    // The notifications are read between switches.
    const int switches = caseHost.switches.load();
    ASSERT_TRUE(caseHost.waitForSwitches(switches + 10));
    ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(caseHost.messages(), c.expected) << c.reset << c.bufferSizeChange;
  }
}

TEST_F(AsioStreaming, ANotificationRefreshesTheSettings) {
  asioHost.resetRequest = false;
  asioHost.bufferSizeChange = false;
  ASSERT_EQ(createBuffers(driver, asioHost, 0, 1, 64, infos), ASE_OK);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(3));
  // The kernel driver's ASIO buffer size changes behind the driver's back.
  changeRate(96000);
  ASSERT_EQ(postNotification(ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED), 0u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (driver->currentSettings().sampleRates.currentRate != 96000 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(driver->currentSettings().sampleRates.currentRate, 96000u);
  EXPECT_EQ(driver->currentSettings().deviceBufferFrames, 256u);
  ASSERT_EQ(driver->stop(), ASE_OK);
  EXPECT_TRUE(asioHost.messages().empty());
}

TEST_F(AsioStreaming, NotificationsFromBeforeStartAreDiscarded) {
  ASSERT_EQ(createBuffers(driver, asioHost, 0, 1, 64, infos), ASE_OK);
  ASSERT_EQ(postNotification(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED), 0u);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(10));
  ASSERT_EQ(driver->stop(), ASE_OK);
  EXPECT_TRUE(asioHost.messages().empty());
}

TEST_F(AsioStreaming, StartFailsWhenTheKernelDriverDoesNotStream) {
  ASSERT_EQ(createBuffers(driver, asioHost, 0, 1, 64, infos), ASE_OK);
  streamingCommand(ORVANE_STREAMING_COMMAND_STOP);
  EXPECT_EQ(driver->start(), ASE_NotPresent);  // after about 2 s
  EXPECT_EQ(driver->state(), AsioDriverState::Prepared);
  EXPECT_EQ(platform::activeTimePeriodRequests(1), 0);
}

TEST_F(AsioStreaming, ReleasingTheDriverWhileRunningStopsAndReleasesEverything) {
  {
    DriverReference second;
    ASSERT_EQ(second->init(nullptr), ASIOTrue);
    ASSERT_EQ(createBuffers(second, asioHost, 2, 2, 64, infos), ASE_OK);
    ASSERT_EQ(second->start(), ASE_OK);
    ASSERT_TRUE(asioHost.waitForSwitches(5));
  }
  const int switches = asioHost.switches.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(asioHost.switches.load(), switches);
  EXPECT_TRUE(waitUntilGone(", channels "));
  EXPECT_EQ(platform::activeTimePeriodRequests(1), 0);
}

// A device whose outputs are all DSD: at a PCM rate it lists none.
class AsioDsdOutputsOnly : public AsioDriverTest {
 protected:
  std::string configuration() const override {
    sim_testing::DeviceSpec device{"QD02A0001", "QUINTOR DSD 2"};
    device.product = 0x0120;
    device.i2sOutputs = 0;
    device.rates = "44100 48000 2822400";
    device.moreLines = "dsd_outputs = 2\n";
    return sim_testing::configurationText({device});
  }
};

TEST_F(AsioDsdOutputsOnly, ThePcmSetGetsTwoDummyOutputs) {
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  int32_t inputs = 0, outputs = 0;
  ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs, 2);
  ASSERT_EQ(outputs, 2);
  ASIOChannelInfo info{0, ASIOFalse, ASIOFalse, 0, 0, {}};
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "Dummy OUT L");
  EXPECT_EQ(info.type, ASIOSTInt32LSB);
  info.channel = 1;
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "Dummy OUT R");

  // Dummies get buffers but are never given to the kernel driver.
  TestHost asioHost;
  ASIOBufferInfo entries[] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
  ASSERT_EQ(driver->createBuffers(entries, 3, 64, &asioHost.callbacks), ASE_OK);
  EXPECT_NE(entries[2].buffers[1], nullptr);
  EXPECT_NE(state().find("channels 1\n    asio: frames 64"), std::string::npos);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(5));
  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
}

TEST_F(AsioDsdOutputsOnly, InDsdModeBuffersAndPositionsCountDsdSamples) {
  changeRate(ORVANE_SAMPLE_RATE_DSD64);
  DriverReference driver;
  ASSERT_EQ(driver->init(nullptr), ASIOTrue);
  // The format switch needs the service; without one the mode still follows the request.
  ASIOIoFormat format{};
  format.FormatType = kASIODSDFormat;
  ASSERT_EQ(driver->future(kAsioSetIoFormat, &format), ASE_HWMalfunction);
  ASSERT_TRUE(driver->dsdMode());

  int32_t inputs = 0, outputs = 0;
  ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs, 0);
  ASSERT_EQ(outputs, 2);
  ASIOChannelInfo info{0, ASIOFalse, ASIOFalse, 0, 0, {}};
  ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.type, ASIOSTDSDInt8MSB1);
  int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
  ASSERT_EQ(driver->getBufferSize(&minimum, &maximum, &preferred, &granularity), ASE_OK);
  EXPECT_EQ(preferred, 128 * 64);  // the ASIO class Small, in DSD samples

  TestHost asioHost;
  asioHost.timeInfo = true;
  ASIOBufferInfo entries[] = {{ASIOFalse, 0, {}}};
  ASSERT_EQ(driver->createBuffers(entries, 1, 2048, &asioHost.callbacks), ASE_OK);
  EXPECT_EQ(static_cast<uint8_t*>(entries[0].buffers[1]) - static_cast<uint8_t*>(entries[0].buffers[0]), 256);
  EXPECT_NE(state().find("asio: frames 32"), std::string::npos);
  std::memset(entries[0].buffers[0], 0x00, 512);
  ASSERT_EQ(driver->start(), ASE_OK);
  ASSERT_TRUE(asioHost.waitForSwitches(4));
  ASSERT_EQ(driver->stop(), ASE_OK);
  ASIOSamples position{};
  ASIOTimeStamp stamp{};
  ASSERT_EQ(driver->getSamplePosition(&position, &stamp), ASE_OK);
  EXPECT_EQ(asioWordsToValue(position.hi, position.lo), uint64_t(asioHost.switches.load() - 1) * 2048);
  // start filled the buffer with DSD silence, the idle pattern; the host wrote nothing since.
  const auto* bytes = static_cast<const uint8_t*>(entries[0].buffers[0]);
  EXPECT_EQ(std::count(bytes, bytes + 512, 0x96), 512);
  ASSERT_EQ(driver->disposeBuffers(), ASE_OK);
}

}  // namespace

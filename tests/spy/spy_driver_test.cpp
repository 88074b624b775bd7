// The spy's connection against the simulated kernel driver in this process:
// trace mask requests, the statistics record (clearing and counts cut to the
// slots), the debug build check and the program-wide active connection.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "device-access/orvane_status.h"
#include "spy/list_item.h"
#include "spy/orvane_spy_driver.h"
#include "tests/support/simulated_driver.h"

namespace {

using sim_testing::SimulatedDriverTest;

class SpyDriverTest : public SimulatedDriverTest {
 protected:
  void configureRegistry(const platform::RegistryKey& key) override {
    key.setDword(u"DebugBuild", debugBuild ? 1 : 0);
    key.setDword(u"TraceMask", 0x00210001);
  }
  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(spy.openDriver(kSpyDeviceLinkName, false, false), 0u);
  }
  void TearDown() override {
    spy.closeDriver();
    SimulatedDriverTest::TearDown();
  }

  bool debugBuild = true;
  OrvaneSpyDriver spy;
};

class SpyDriverReleaseTest : public SpyDriverTest {
 protected:
  SpyDriverReleaseTest() { debugBuild = false; }
};

TEST_F(SpyDriverTest, TraceMaskSetGetAndSave) {
  uint32_t mask = 0;
  ASSERT_EQ(spy.getTraceMask(mask), 0u);
  EXPECT_EQ(mask, 0x00210001u);
  ASSERT_EQ(spy.setTraceMask(0x80000004), 0u);
  ASSERT_EQ(spy.getTraceMask(mask), 0u);
  EXPECT_EQ(mask, 0x80000004u);
  ASSERT_EQ(spy.saveTraceMask(), 0u);
  EXPECT_EQ(sim_testing::savedTraceMask(), 0x80000004u);
}

TEST_F(SpyDriverTest, AFailedTraceMaskReadGivesZero) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_TRACE_MASK, ORVANE_STATUS_NOT_POSSIBLE), 0u);
  uint32_t mask = 0xFFFFFFFF;
  EXPECT_EQ(spy.getTraceMask(mask), ORVANE_STATUS_NOT_POSSIBLE);
  EXPECT_EQ(mask, 0u);

  OrvaneSpyDriver closed;
  mask = 0xFFFFFFFF;
  EXPECT_EQ(closed.getTraceMask(mask), ORVANE_STATUS_NOT_OPENED);
  EXPECT_EQ(mask, 0u);
}

TEST_F(SpyDriverTest, StatisticsListTheDeviceAndClearing) {
  auto record = std::make_unique<ORVANE_STATISTICS>();
  ASSERT_EQ(spy.getStatistics(*record, false), 0u);
  ASSERT_EQ(record->deviceCount, 1u);
  EXPECT_EQ(std::u16string(boundedText(record->devices[0].name)), u"Quintor One");
  EXPECT_EQ(spy.getStatistics(*record, true), 0u);
}

TEST_F(SpyDriverTest, DebugBuildIsTheDriverInformationsFlag) { EXPECT_TRUE(spy.isDebugBuild()); }

TEST_F(SpyDriverReleaseTest, AReleaseBuildOrAFailedReadIsNoDebugBuild) {
  EXPECT_FALSE(spy.isDebugBuild());
  OrvaneSpyDriver closed;
  EXPECT_FALSE(closed.isDebugBuild());
}

TEST_F(SpyDriverTest, AFailedDriverInformationReadIsNoDebugBuild) {
  ASSERT_EQ(control.setFault(ORVANE_IOCTL_GET_DRIVER_INFO, ORVANE_STATUS_NOT_POSSIBLE), 0u);
  EXPECT_FALSE(spy.isDebugBuild());
}

TEST(ActiveConnectionTest, IsSetAndResetByTheProgram) {
  EXPECT_EQ(activeConnection(), nullptr);
  OrvaneSpyDriver connection;
  setActiveConnection(&connection);
  EXPECT_EQ(activeConnection(), &connection);
  setActiveConnection(nullptr);
  EXPECT_EQ(activeConnection(), nullptr);
}

}  // namespace

namespace {

TEST(LimitStatisticsCountsTest, CountsBeyondTheSlotsAreCutAndOthersKept) {
  auto record = std::make_unique<ORVANE_STATISTICS>();
  std::memset(record.get(), 0, sizeof(ORVANE_STATISTICS));
  struct Case {
    uint32_t ORVANE_STATISTICS::*count;
    uint32_t given;
    uint32_t kept;
  };
  const Case cases[] = {
      {&ORVANE_STATISTICS::deviceCount, 5, 4},
      {&ORVANE_STATISTICS::inputStreamCount, 0xFFFFFFFF, 4},
      {&ORVANE_STATISTICS::outputStreamCount, 4, 4},
      {&ORVANE_STATISTICS::spdifDeframerCount, 100, 4},
      {&ORVANE_STATISTICS::inputPortChannelCount, 65, 64},
      {&ORVANE_STATISTICS::outputPortChannelCount, 63, 63},
      {&ORVANE_STATISTICS::inputHwPortCount, 33, 32},
      {&ORVANE_STATISTICS::outputHwPortCount, 1000, 32},
      {&ORVANE_STATISTICS::inputAsioChannelCount, 65, 64},
      {&ORVANE_STATISTICS::outputAsioChannelCount, 0x80000000, 64},
      {&ORVANE_STATISTICS::recordingSoundDeviceCount, 49, 48},
      {&ORVANE_STATISTICS::playbackSoundDeviceCount, 2, 2},
      {&ORVANE_STATISTICS::inputMidiPortCount, 5, 4},
      {&ORVANE_STATISTICS::outputMidiPortCount, 9, 4},
      {&ORVANE_STATISTICS::inputMidiClientCount, 9, 8},
      {&ORVANE_STATISTICS::outputMidiClientCount, 0, 0},
      {&ORVANE_STATISTICS::asioHostCount, 5, 4},
  };
  for (const Case& c : cases) (*record).*c.count = c.given;
  record->generation = 0xFFFFFFFF;
  limitStatisticsCounts(*record);
  for (const Case& c : cases) EXPECT_EQ((*record).*c.count, c.kept) << c.given;
  EXPECT_EQ(record->generation, 0xFFFFFFFFu);
}

}  // namespace

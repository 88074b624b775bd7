// Records a faulty kernel driver could send: counts past their tables,
// names without a terminator, identifiers that appear twice or point at
// nothing. The frame reads nothing outside the record, never crashes or
// loops, and shows what the record does say. Built by hand, and end to end
// from the simulated driver with its replies patched.

#include <cstddef>

#include "device-access/orvane_ioctl.h"
#include "tests/spy/hand_built_record.h"
#include "tests/spy/spy_fixture.h"

namespace spy_testing {
namespace {

using MalformedRecordTest = SpyTest;

struct MalformedCase {
  const char* name;
  std::function<void(HandBuiltRecord&)> spoil;
  std::string expectedTree;
};

TEST_F(MalformedRecordTest, HandBuiltRecords) {
  const MalformedCase cases[] = {
      {"every count far past its table",
       [](HandBuiltRecord& r) {
         r->deviceCount = r->inputStreamCount = r->outputStreamCount = r->spdifDeframerCount = 0xFFFFFFFF;
         r->inputPortChannelCount = r->outputPortChannelCount = r->inputHwPortCount = r->outputHwPortCount = 1000;
         r->inputAsioChannelCount = r->outputAsioChannelCount = 0x80000000;
         r->recordingSoundDeviceCount = r->playbackSoundDeviceCount = 49;
         r->inputMidiPortCount = r->outputMidiPortCount = 5;
         r->inputMidiClientCount = r->outputMidiClientCount = 9;
         r->asioHostCount = 0xFFFFFFFF;
       },
       // Slots past the first entries are zero: devices with empty names and
       // identifier 0:0, which only the first of them enters in the map.
       ""},
      {"device name without a terminator",
       [](HandBuiltRecord& r) {
         r->deviceCount = 1;
         std::fill(std::begin(r->devices[0].name), std::end(r->devices[0].name), u'X');
         // The field after the name is not text: a non-zero firmware type.
         r->devices[0].firmwareType = 0x00410041;
       },
       std::string(20, 'X') + "\n  ASIO IN Channels\n  ASIO OUT Channels\n  Sound Devices IN\n  Sound Devices OUT\n"},
      {"channel and sound device names without a terminator",
       [](HandBuiltRecord& r) {
         r.device(1, u"A");
         ORVANE_STAT_ASIO_CHANNEL& channel = r.asioChannel(true, 1, u"", true);
         std::fill(std::begin(channel.name), std::end(channel.name), u'C');
         ORVANE_STAT_SOUND_DEVICE& sound = r.soundDevice(false, 1, u"", false);
         std::fill(std::begin(sound.name), std::end(sound.name), u'S');
         sound.buffersProcessed = 0x00420042;
       },
       "A\n  ASIO IN Channels\n    " + std::string(42, 'C') +
           "\n  ASIO OUT Channels\n  Sound Devices IN\n"
           "  Sound Devices OUT\n    " +
           std::string(46, 'S') + " (nc)\n"},
      {"two devices with one identifier: the first takes the children",
       [](HandBuiltRecord& r) {
         r.device(1, u"First");
         r.device(1, u"Second");
         r.stream(true, 1);
       },
       "First\n  IN Stream 0\n  ASIO IN Channels\n  ASIO OUT Channels\n  Sound Devices IN\n  Sound Devices OUT\n"
       "Second\n  ASIO IN Channels\n  ASIO OUT Channels\n  Sound Devices IN\n  Sound Devices OUT\n"},
      {"two ports with one identifier, channels and deframer under the first",
       [](HandBuiltRecord& r) {
         r.device(1, u"A");
         r.port(true, 1, 0x10, 1, 0);
         r.port(true, 1, 0x10, 10, 1);
         r.portChannel(true, 1, 0x10);
         r.deframer(1, 0x10);
       },
       "A\n  IN I2S 0\n    IN PortChannel 0\n    SPDIF Deframer\n  IN SPDIF 1\n  ASIO IN Channels\n"
       "  ASIO OUT Channels\n  Sound Devices IN\n  Sound Devices OUT\n"},
      {"identifiers that point at nothing or at an object of another kind",
       [](HandBuiltRecord& r) {
         r.device(1, u"A");
         r.port(true, 1, 0x10, 1, 0);
         r.midiPort(true, 1, 0x30, 0);
         // A port channel naming the MIDI port, a client naming the hardware
         // port, a deframer naming the device: none has such a parent.
         r.portChannel(true, 1, 0x30);
         r.midiClientIn(1, 0x10);
         r.deframer(0x2F1A0110, 1);
         r.asioChannel(false, 99, u"x", true);
       },
       "A\n  IN I2S 0\n  ASIO IN Channels\n  ASIO OUT Channels\n  Sound Devices IN\n  Sound Devices OUT\n"
       "  MIDI IN Port 0\n"},
  };
  MainFrame& window = openFrame();
  uint32_t generation = 10;
  for (const MalformedCase& malformed : cases) {
    HandBuiltRecord record;
    malformed.spoil(record);
    record->generation = ++generation;
    window.applyStatistics(*record);
    if (!malformed.expectedTree.empty()) {
      EXPECT_EQ(dump(), malformed.expectedTree) << malformed.name;
    }
  }
}

TEST_F(MalformedRecordTest, CountsPastTheirTablesShowEverySlotOnce) {
  MainFrame& window = openFrame();
  HandBuiltRecord record;
  record->deviceCount = 0xFFFFFFFF;
  for (uint32_t n = 0; n < ORVANE_STAT_MAX_DEVICES; ++n) {
    record->devices[n].deviceId = deviceNumber(n + 1);
    setName(record->devices[n].name, u"D");
  }
  record->asioHostCount = 1000;
  window.applyStatistics(*record);
  EXPECT_EQ(childTexts(tree()).size(), ORVANE_STAT_MAX_DEVICES + ORVANE_STAT_MAX_ASIO_HOSTS);
  EXPECT_EQ(window.asioHostPageCount(), ORVANE_STAT_MAX_ASIO_HOSTS);
  // Showing a host page reads its rows from inside the copy.
  ASSERT_TRUE(tree().selectItem(itemAt(tree(), {u"Asio Host 3"})));
  window.applyStatistics(*record);
}

// ---------------------------------------------------------------------------
// From the simulated driver

TEST_F(MalformedRecordTest, PatchedRecordsFromTheDriver) {
  MainFrame& window = openConnectedFrame({device("SP0001")});
  ASSERT_NE(itemAt(tree(), {u"Orvane SP0001"}), 0u) << dump();
  sim_testing::SimControl& control = machine.control();
  const uint32_t code = ORVANE_IOCTL_GET_STATISTICS;
  const uint32_t generation = window.statistics().generation;
  // Every count past its table, and a new generation so that all is rebuilt.
  const size_t counts[] = {offsetof(ORVANE_STATISTICS, deviceCount),
                           offsetof(ORVANE_STATISTICS, inputStreamCount),
                           offsetof(ORVANE_STATISTICS, outputStreamCount),
                           offsetof(ORVANE_STATISTICS, spdifDeframerCount),
                           offsetof(ORVANE_STATISTICS, inputPortChannelCount),
                           offsetof(ORVANE_STATISTICS, outputPortChannelCount),
                           offsetof(ORVANE_STATISTICS, inputHwPortCount),
                           offsetof(ORVANE_STATISTICS, outputHwPortCount),
                           offsetof(ORVANE_STATISTICS, inputAsioChannelCount),
                           offsetof(ORVANE_STATISTICS, outputAsioChannelCount),
                           offsetof(ORVANE_STATISTICS, recordingSoundDeviceCount),
                           offsetof(ORVANE_STATISTICS, playbackSoundDeviceCount),
                           offsetof(ORVANE_STATISTICS, inputMidiPortCount),
                           offsetof(ORVANE_STATISTICS, outputMidiPortCount),
                           offsetof(ORVANE_STATISTICS, inputMidiClientCount),
                           offsetof(ORVANE_STATISTICS, outputMidiClientCount),
                           offsetof(ORVANE_STATISTICS, asioHostCount)};
  for (size_t offset : counts) ASSERT_EQ(control.patchReplyU32(code, static_cast<uint32_t>(offset), 0xFFFFFFF0), 0u);
  ASSERT_EQ(control.patchReplyU32(code, 0, generation + 100), 0u);
  window.refreshStatistics();
  EXPECT_EQ(childTexts(tree()).size(), 2 + ORVANE_STAT_MAX_DEVICES + ORVANE_STAT_MAX_ASIO_HOSTS) << dump();

  // The device's name without a terminator, duplicated over the second slot.
  std::vector<uint8_t> name(ORVANE_STAT_DEVICE_NAME_CHARS * 2);
  for (size_t i = 0; i < name.size(); i += 2) name[i] = 'N';
  ASSERT_EQ(control.patchReply(code, offsetof(ORVANE_STATISTICS, devices) + offsetof(ORVANE_STAT_DEVICE, name), name),
            0u);
  ASSERT_EQ(control.patchReplyU32(code, 0, generation + 200), 0u);
  window.refreshStatistics();
  EXPECT_NE(itemAt(tree(), {std::u16string(ORVANE_STAT_DEVICE_NAME_CHARS, u'N')}), 0u) << dump();

  // A sound record again: the tree is the device's own.
  window.refreshStatistics();
  EXPECT_EQ(childTexts(tree()), (std::vector<std::u16string>{u"DriverInfo", u"Trace Mask", u"Orvane SP0001"}))
      << dump();
}

}  // namespace
}  // namespace spy_testing

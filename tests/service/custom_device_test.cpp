// The device controller's tables and conversions, without a kernel driver.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device-access/orvane_records.h"
#include "platform/text.h"
#include "service/custom_device.h"

namespace {

std::u16string nameOf(const char16_t* field, size_t capacity) {
  return std::u16string(field, platform::wideLength(field, capacity));
}

std::vector<std::u16string> names(const ORVANE_SOUND_DEVICE* entries, uint32_t count) {
  std::vector<std::u16string> result;
  for (uint32_t i = 0; i < count; ++i) result.push_back(nameOf(entries[i].name, ORVANE_SOUND_DEVICE_NAME_CHARS));
  return result;
}

TEST(CustomDeviceConversions, ToVolumeAndToGain) {
  struct VolumeCase {
    int16_t gain;
    int32_t volume;
  } volumes[] = {{600, 393216}, {-6000, -3932160}, {-1, -655}, {0, 0}, {100, 65536}, {-12800, -8388608}};
  for (const VolumeCase& c : volumes) EXPECT_EQ(CustomDevice::toVolume(c.gain), c.volume) << c.gain;

  struct GainCase {
    int32_t volume;
    int16_t gain;
  } gains[] = {
      {-6291456, -9000},        // -96 dB, limited
      {65536, 100},             // +1 dB
      {ORVANE_VOLUME_SILENCE, -9000},
      {-655, 0},                // truncated toward zero
      {-656, -1},
      {393216, 600},
      {19660800, 9000},         // +300 dB: limited
      {-19660800, -9000},
      {39321600, -5536},        // +600 dB: 60000 hundredths taken as 16 bits
      {589824000, -9000},       // 900000 hundredths taken as 16 bits (-17504), then limited
      {2147483647, -1},         // 3276799 hundredths taken as a 16-bit value, then limited
  };
  for (const GainCase& c : gains) EXPECT_EQ(CustomDevice::toGain(c.volume), c.gain) << c.volume;
}

TEST(CustomDeviceTables, PlaybackSevenAndRecordingFourDevicesForLayoutsFourAndTwo) {
  ORVANE_SOUND_DEVICE_TABLE table;
  CustomDevice::buildSoundDevices(4, 2, table);
  ASSERT_EQ(table.playbackCount, 7u);
  EXPECT_EQ(names(table.playback, 7),
            (std::vector<std::u16string>{u"QUINTOR Out 7.1", u"QUINTOR shadow L/R", u"QUINTOR shadow C/LFE",
                                         u"QUINTOR shadow RL/RR", u"QUINTOR shadow SL/SR", u"QUINTOR SPDIF Out L/R",
                                         u"QUINTOR MIDI Out"}));
  ASSERT_EQ(table.recordingCount, 4u);
  EXPECT_EQ(names(table.recording, 4),
            (std::vector<std::u16string>{u"QUINTOR In 8ch", u"QUINTOR SPDIF In L/R", u"QUINTOR Loopback 1 L/R",
                                         u"QUINTOR MIDI In"}));
  for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(table.playback[i].position, i);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(table.recording[i].position, i);

  const ORVANE_SOUND_DEVICE& multichannel = table.playback[0];
  EXPECT_EQ(multichannel.kind, ORVANE_SOUND_DEVICE_KIND_LINE);
  EXPECT_EQ(multichannel.pairCount, 4u);
  EXPECT_EQ(multichannel.pairs[3], 3u);
  EXPECT_EQ(multichannel.category, 0u);
  EXPECT_EQ(multichannel.lineAttribute, 3u);
  EXPECT_EQ(multichannel.volumeFloor, -8388608);
  const ORVANE_SOUND_DEVICE& shadow = table.playback[2];
  EXPECT_EQ(shadow.pairCount, 1u);
  EXPECT_EQ(shadow.pairs[0], 1u) << "C/LFE is pair 1";
  const ORVANE_SOUND_DEVICE& spdifOut = table.playback[5];
  EXPECT_EQ(spdifOut.kind, ORVANE_SOUND_DEVICE_KIND_SPDIF);
  EXPECT_EQ(spdifOut.category, 1u);
  EXPECT_EQ(spdifOut.lineAttribute, 0u);
  EXPECT_EQ(spdifOut.volumeFloor, 0);
  EXPECT_EQ(table.playback[6].kind, ORVANE_SOUND_DEVICE_KIND_MIDI);
  EXPECT_EQ(table.playback[6].category, 2u);
  EXPECT_EQ(table.playback[6].midiDirection, 1);
  EXPECT_EQ(table.recording[2].kind, ORVANE_SOUND_DEVICE_KIND_LOOPBACK);
  EXPECT_EQ(table.recording[3].midiDirection, -1);
  EXPECT_EQ(table.playback[7].kind, 0u) << "entries beyond the count stay zero";
}

TEST(CustomDeviceTables, EveryLayout) {
  struct Case {
    uint32_t playback;
    uint32_t recording;
    uint32_t playbackCount;
    uint32_t recordingCount;
    std::u16string firstPlayback;
    std::u16string firstRecording;
  } cases[] = {
      {0, 0, 10, 11, u"QUINTOR Out1 L/R", u"QUINTOR In1 L/R"},
      {1, 1, 3, 5, u"QUINTOR Out 5.1", u"QUINTOR In1 L/R"},
      {2, 2, 3, 4, u"QUINTOR Out 7.1", u"QUINTOR In 8ch"},
      {3, 0, 6, 11, u"QUINTOR Out 5.1", u"QUINTOR In1 L/R"},
      {5, 1, 4, 5, u"QUINTOR Out1 L/R", u"QUINTOR In1 L/R"},
      // Stored values outside the ranges: no line part.
      {6, 3, 2, 3, u"QUINTOR SPDIF Out L/R", u"QUINTOR SPDIF In L/R"},
  };
  for (const Case& c : cases) {
    ORVANE_SOUND_DEVICE_TABLE table;
    CustomDevice::buildSoundDevices(c.playback, c.recording, table);
    EXPECT_EQ(table.playbackCount, c.playbackCount) << c.playback;
    EXPECT_EQ(table.recordingCount, c.recordingCount) << c.recording;
    EXPECT_EQ(nameOf(table.playback[0].name, ORVANE_SOUND_DEVICE_NAME_CHARS), c.firstPlayback);
    EXPECT_EQ(nameOf(table.recording[0].name, ORVANE_SOUND_DEVICE_NAME_CHARS), c.firstRecording);
  }
  ORVANE_SOUND_DEVICE_TABLE full;
  CustomDevice::buildSoundDevices(0, 0, full);
  EXPECT_EQ(nameOf(full.playback[7].name, ORVANE_SOUND_DEVICE_NAME_CHARS), u"QUINTOR Out8 L/R");
  EXPECT_EQ(full.playback[7].pairs[0], 7u);
}

TEST(CustomDeviceTables, ChannelNamesWithAndWithoutDsd) {
  ORVANE_CHANNEL_NAME_TABLE plain;
  CustomDevice::buildChannelNames(false, false, plain);
  EXPECT_EQ(plain.outputCount, 18u);
  EXPECT_EQ(plain.inputCount, 20u);
  ORVANE_CHANNEL_NAME_TABLE dsd;
  CustomDevice::buildChannelNames(true, true, dsd);
  EXPECT_EQ(dsd.outputCount, 26u);
  EXPECT_EQ(dsd.inputCount, 28u);

  struct Entry {
    const ORVANE_CHANNEL_NAME& entry;
    uint32_t portType;
    uint32_t index;
    uint32_t side;
    std::u16string name;
  } entries[] = {
      {dsd.outputs[0], ORVANE_PORT_TYPE_DSD, 0, 0, u"QUINTOR DSD OUT 01"},
      {dsd.outputs[7], ORVANE_PORT_TYPE_DSD, 7, 0, u"QUINTOR DSD OUT 08"},
      {dsd.outputs[8], ORVANE_PORT_TYPE_I2S, 0, 0, u"QUINTOR OUT 01"},
      {dsd.outputs[23], ORVANE_PORT_TYPE_I2S, 7, 1, u"QUINTOR OUT 16"},
      {dsd.outputs[25], ORVANE_PORT_TYPE_SPDIF, 0, 1, u"QUINTOR SPDIF OUT R"},
      {dsd.inputs[0], ORVANE_PORT_TYPE_DSD, 0, 0, u"QUINTOR DSD IN 01"},
      {plain.inputs[0], ORVANE_PORT_TYPE_I2S, 0, 0, u"QUINTOR IN 01"},
      {plain.inputs[16], ORVANE_PORT_TYPE_SPDIF, 0, 0, u"QUINTOR SPDIF IN L"},
      {plain.inputs[18], ORVANE_PORT_TYPE_VIRTUAL, 0, 0, u"QUINTOR Loopback 01"},
      {plain.inputs[19], ORVANE_PORT_TYPE_VIRTUAL, 0, 1, u"QUINTOR Loopback 02"},
  };
  for (const Entry& e : entries) {
    const std::u16string name = nameOf(e.entry.name, ORVANE_CHANNEL_NAME_CHARS);
    EXPECT_EQ(name, e.name);
    EXPECT_EQ(e.entry.portType, e.portType) << platform::toUtf8(name);
    EXPECT_EQ(e.entry.index, e.index) << platform::toUtf8(name);
    EXPECT_EQ(e.entry.side, e.side) << platform::toUtf8(name);
  }
  EXPECT_EQ(plain.outputs[18].portType, 0u) << "entries beyond the count stay zero";
}

}  // namespace

// The device control service's per-device requests over the real transport:
// port configuration, channel names, sound device names, mixer strips, port
// state and parameter, and the service's whole attach sequence.

#include <memory>
#include <string>

#include "platform/text.h"
#include "tests/usb-audio-kernel-sim/feature_test_support.h"

using namespace feature_testing;

namespace {

std::u16string text(const char16_t* field, size_t capacity) {
  return std::u16string(field, std::find(field, field + capacity, u'\0'));
}

template <size_t N>
void setText(char16_t (&field)[N], const std::string& value) {
  const std::u16string wide = platform::toWide(value);
  std::fill(field, field + N, u'\0');
  std::copy(wide.begin(), wide.begin() + std::min(wide.size(), N - 1), field);
}

void addName(uint32_t& count, ORVANE_CHANNEL_NAME* entries, uint32_t portType, uint32_t index, uint32_t side,
             const std::string& name) {
  ORVANE_CHANNEL_NAME& entry = entries[count++];
  entry.portType = portType;
  entry.index = index;
  entry.side = side;
  setText(entry.name, name);
}

// The table the service sends: DSD names when the device has DSD, 16 line
// channels, S/PDIF, and two loopback inputs.
std::unique_ptr<ORVANE_CHANNEL_NAME_TABLE> serviceNames(bool dsd) {
  auto table = std::make_unique<ORVANE_CHANNEL_NAME_TABLE>();
  char name[64];
  for (const bool output : {true, false}) {
    uint32_t& count = output ? table->outputCount : table->inputCount;
    ORVANE_CHANNEL_NAME* entries = output ? table->outputs : table->inputs;
    const char* word = output ? "OUT" : "IN";
    for (uint32_t n = 0; dsd && n < 8; ++n) {
      std::snprintf(name, sizeof name, "QUINTOR DSD %s %02u", word, n + 1);
      addName(count, entries, ORVANE_PORT_TYPE_DSD, n, 0, name);
    }
    for (uint32_t n = 0; n < 16; ++n) {
      std::snprintf(name, sizeof name, "QUINTOR %s %02u", word, n + 1);
      addName(count, entries, ORVANE_PORT_TYPE_I2S, n / 2, n % 2, name);
    }
    for (uint32_t side = 0; side < 2; ++side) {
      std::snprintf(name, sizeof name, "QUINTOR SPDIF %s %s", word, side == 0 ? "L" : "R");
      addName(count, entries, ORVANE_PORT_TYPE_SPDIF, 0, side, name);
    }
    for (uint32_t side = 0; !output && side < 2; ++side) {
      std::snprintf(name, sizeof name, "QUINTOR Loopback %02u", side + 1);
      addName(count, entries, ORVANE_PORT_TYPE_VIRTUAL, 0, side, name);
    }
  }
  return table;
}

ORVANE_SOUND_DEVICE soundDevice(uint32_t kind, std::initializer_list<uint32_t> pairs, const std::string& name,
                                uint32_t position) {
  ORVANE_SOUND_DEVICE device{};
  device.kind = kind;
  for (uint32_t pair : pairs) device.pairs[device.pairCount++] = pair;
  setText(device.name, name);
  device.position = position;
  if (kind == ORVANE_SOUND_DEVICE_KIND_LINE) {
    device.lineAttribute = 3;
    device.volumeFloor = ORVANE_LINE_VOLUME_FLOOR;
  }
  return device;
}

// Playback configuration 2 and recording configuration 1 of the service.
std::unique_ptr<ORVANE_SOUND_DEVICE_TABLE> serviceSoundDevices() {
  auto table = std::make_unique<ORVANE_SOUND_DEVICE_TABLE>();
  auto& playback = table->playback;
  playback[0] = soundDevice(ORVANE_SOUND_DEVICE_KIND_LINE, {0, 1, 2, 3}, "QUINTOR Out 7.1", 0);
  playback[1] = soundDevice(ORVANE_SOUND_DEVICE_KIND_SPDIF, {0}, "QUINTOR SPDIF Out L/R", 1);
  playback[1].category = 1;
  playback[2] = soundDevice(ORVANE_SOUND_DEVICE_KIND_MIDI, {0}, "QUINTOR MIDI Out", 2);
  playback[2].category = 2;
  playback[2].midiDirection = 1;
  table->playbackCount = 3;
  auto& recording = table->recording;
  recording[0] = soundDevice(ORVANE_SOUND_DEVICE_KIND_LINE, {0}, "QUINTOR In1 L/R", 0);
  recording[1] = soundDevice(ORVANE_SOUND_DEVICE_KIND_LINE, {1}, "QUINTOR In2 L/R", 1);
  recording[2] = soundDevice(ORVANE_SOUND_DEVICE_KIND_SPDIF, {0}, "QUINTOR SPDIF In L/R", 2);
  recording[3] = soundDevice(ORVANE_SOUND_DEVICE_KIND_LOOPBACK, {0}, "QUINTOR Loopback 1 L/R", 3);
  recording[4] = soundDevice(ORVANE_SOUND_DEVICE_KIND_MIDI, {0}, "QUINTOR MIDI In", 4);
  recording[4].category = 2;
  recording[4].midiDirection = -1;
  table->recordingCount = 5;
  return table;
}

class Setup : public FeatureTest {
 protected:
  std::u16string channelName(SimFile& file, uint64_t id) {
    ORVANE_CHANNEL_INFO info{};
    EXPECT_EQ(file.query(ORVANE_IOCTL_GET_CHANNEL_INFO, id, &info), 0u);
    return text(info.name, ORVANE_CHANNEL_NAME_CHARS);
  }
  ORVANE_CHANNEL_LIST channels(SimFile& file, uint32_t code) {
    ORVANE_CHANNEL_LIST list{};
    EXPECT_EQ(file.get(code, &list), 0u);
    return list;
  }
};

// The service's test for DSD: any entry of any block with channel type 2.
bool supportsDsd(const ORVANE_PORT_CONFIG& config) {
  for (uint32_t b = 0; b < config.blockCount; ++b) {
    for (const auto& array : config.blocks[b].channels) {
      for (const ORVANE_PORT_CHANNEL& channel : array) {
        if (channel.channelType == ORVANE_PORT_CHANNEL_TYPE_DSD) return true;
      }
    }
  }
  return false;
}

TEST_F(Setup, PortConfigurationHasABlockPerPortWithDsdOnlyWhereThereIsDsd) {
  SimFile studio;
  SimFile mini;
  attach(studio, 0);
  attach(mini, 1);
  auto config = std::make_unique<ORVANE_PORT_CONFIG>();
  ASSERT_EQ(studio.get(ORVANE_IOCTL_GET_PORT_CONFIG, config.get()), 0u);
  ASSERT_EQ(config->blockCount, 4u);  // line, S/PDIF, DSD, virtual
  EXPECT_EQ(config->blocks[0].channels[0][15].channelType, ORVANE_PORT_TYPE_I2S);
  EXPECT_EQ(config->blocks[1].channels[1][1].channelType, ORVANE_PORT_TYPE_SPDIF);
  EXPECT_EQ(config->blocks[1].channels[1][2].channelType, 0u);
  EXPECT_EQ(config->blocks[2].channels[0][7].channelType, ORVANE_PORT_CHANNEL_TYPE_DSD);
  EXPECT_EQ(config->blocks[3].channels[0][1].channelType, ORVANE_PORT_TYPE_VIRTUAL);
  EXPECT_EQ(config->blocks[3].channels[1][0].channelType, 0u);  // no virtual outputs
  EXPECT_TRUE(supportsDsd(*config));

  ASSERT_EQ(mini.get(ORVANE_IOCTL_GET_PORT_CONFIG, config.get()), 0u);
  EXPECT_EQ(config->blockCount, 1u);
  EXPECT_FALSE(supportsDsd(*config));

  // 32 channels of every kind need eight blocks, within the record's ten.
  const std::string wide =
      "name = Wide\ni2s_inputs = 32\ni2s_outputs = 32\nspdif_inputs = 32\ndsd_outputs = 32\nvirtual_inputs = 32\n"
      "rates = 48000 2822400\n";
  ORVANE_DEVICE_ID wideId{};
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_PLUG_DESCRIPTION, wide.data(), static_cast<uint32_t>(wide.size()),
                           &wideId, sizeof wideId),
            0u);
  SimFile wideFile;
  ASSERT_EQ(wideFile.send(ORVANE_IOCTL_ATTACH_DEVICE, wideId), 0u);
  ASSERT_EQ(wideFile.get(ORVANE_IOCTL_GET_PORT_CONFIG, config.get()), 0u);
  EXPECT_EQ(config->blockCount, 8u);
  EXPECT_EQ(config->blocks[5].channels[1][15].channelType, ORVANE_PORT_CHANNEL_TYPE_DSD);

  uint8_t small[64] = {};
  EXPECT_EQ(studio.control(ORVANE_IOCTL_GET_PORT_CONFIG, nullptr, 0, small, sizeof small),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
}

TEST_F(Setup, ChannelNamesAreWhatTheChannelInformationShows) {
  SimFile studio;
  attach(studio, 0);
  const uint32_t generation = statistics().generation;
  const auto names = serviceNames(true);
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_CHANNEL_NAMES, *names), 0u);
  EXPECT_NE(statistics().generation, generation);  // the statistics show the names

  const ORVANE_CHANNEL_LIST inputs = channels(studio, ORVANE_IOCTL_GET_INPUT_CHANNELS);
  const ORVANE_CHANNEL_LIST outputs = channels(studio, ORVANE_IOCTL_GET_OUTPUT_CHANNELS);
  EXPECT_EQ(channelName(studio, channelAt(inputs, 0)), u"QUINTOR IN 01");
  EXPECT_EQ(channelName(studio, channelAt(inputs, 15)), u"QUINTOR IN 16");
  EXPECT_EQ(channelName(studio, channelAt(inputs, 17)), u"QUINTOR SPDIF IN R");
  EXPECT_EQ(channelName(studio, channelAt(inputs, 19)), u"QUINTOR Loopback 02");
  EXPECT_EQ(channelName(studio, channelAt(outputs, 16)), u"QUINTOR SPDIF OUT L");
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_SAMPLE_RATE, ORVANE_SAMPLE_RATE_DSD64), 0u);
  EXPECT_EQ(channelName(studio, channelAt(channels(studio, ORVANE_IOCTL_GET_OUTPUT_CHANNELS), 7)),
            u"QUINTOR DSD OUT 08");

  // A new table is the whole set: what it leaves out has its default name again.
  auto fewer = std::make_unique<ORVANE_CHANNEL_NAME_TABLE>();
  addName(fewer->inputCount, fewer->inputs, ORVANE_PORT_TYPE_I2S, 0, 1, "Guitar");
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_CHANNEL_NAMES, *fewer), 0u);
  EXPECT_EQ(channelName(studio, channelAt(inputs, 0)), u"IN 01");
  EXPECT_EQ(channelName(studio, channelAt(inputs, 1)), u"Guitar");
  EXPECT_EQ(channelName(studio, channelAt(outputs, 16)), u"SPDIF OUT 1L");

  // A device with fewer channels takes the same table; names of channels it
  // lacks are skipped.
  SimFile mini;
  attach(mini, 1);
  ASSERT_EQ(mini.send(ORVANE_IOCTL_SET_CHANNEL_NAMES, *serviceNames(false)), 0u);
  EXPECT_NE(state().find("QUINTOR IN 04"), std::string::npos);
}

TEST_F(Setup, BadChannelNameTablesAreRefusedWhole) {
  SimFile studio;
  attach(studio, 0);
  const uint64_t in01 = channelAt(channels(studio, ORVANE_IOCTL_GET_INPUT_CHANNELS), 0);
  struct Case {
    void (*spoil)(ORVANE_CHANNEL_NAME_TABLE&);
    const char* why;
  };
  const Case cases[] = {
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.inputCount = 33; }, "33 input names"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.outputCount = 0xFFFFFFFF; }, "huge output count"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { std::fill(std::begin(t.inputs[1].name), std::end(t.inputs[1].name), u'x'); },
       "unterminated name"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.inputs[1].portType = 3; }, "unknown port type"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.inputs[1].side = 2; }, "side 2"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.inputs[1].portType = ORVANE_PORT_TYPE_DSD; t.inputs[1].side = 1; },
       "right side of a DSD channel"},
      {[](ORVANE_CHANNEL_NAME_TABLE& t) { t.inputs[1].index = 0x80000000; }, "index beyond any port"},
  };
  for (const Case& c : cases) {
    auto table = std::make_unique<ORVANE_CHANNEL_NAME_TABLE>();
    addName(table->inputCount, table->inputs, ORVANE_PORT_TYPE_I2S, 0, 0, "Vocals");
    addName(table->inputCount, table->inputs, ORVANE_PORT_TYPE_I2S, 0, 1, "Bass");
    c.spoil(*table);
    EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_CHANNEL_NAMES, *table), ORVANE_STATUS_INVALID_PARAMETER) << c.why;
    EXPECT_EQ(channelName(studio, in01), u"IN 01") << c.why;
  }
  const auto table = serviceNames(true);
  EXPECT_EQ(studio.control(ORVANE_IOCTL_SET_CHANNEL_NAMES, table.get(), sizeof *table - 4, nullptr, 0),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
}

TEST_F(Setup, SoundDeviceNamesReplaceTheSoundDevicesAndShowInTheStatistics) {
  SimFile studio;
  attach(studio, 0);
  const uint32_t generation = statistics().generation;
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *serviceSoundDevices()), 0u);

  const ORVANE_STATISTICS record = statistics();
  EXPECT_NE(record.generation, generation);
  // The studio's playback devices without MIDI, then the mini's four defaults.
  ASSERT_EQ(record.playbackSoundDeviceCount, 2u + 2u);
  EXPECT_EQ(text(record.playbackSoundDevices[0].name, ORVANE_STAT_SOUND_DEVICE_NAME_CHARS), u"QUINTOR Out 7.1");
  EXPECT_EQ(text(record.playbackSoundDevices[1].name, ORVANE_STAT_SOUND_DEVICE_NAME_CHARS), u"QUINTOR SPDIF Out L/R");
  EXPECT_EQ(record.playbackSoundDevices[1].deviceId, deviceId(0));
  EXPECT_EQ(record.playbackSoundDevices[2].deviceId, deviceId(1));
  ASSERT_EQ(record.recordingSoundDeviceCount, 4u + 2u);
  EXPECT_EQ(text(record.recordingSoundDevices[3].name, ORVANE_STAT_SOUND_DEVICE_NAME_CHARS),
            u"QUINTOR Loopback 1 L/R");
  // The MIDI sound devices are the MIDI ports.
  ASSERT_EQ(record.inputMidiPortCount, 1u);
  ASSERT_EQ(record.outputMidiPortCount, 1u);
  EXPECT_EQ(record.outputMidiPorts[0].deviceId, deviceId(0));
  EXPECT_EQ(record.outputMidiPorts[0].index, 0u);

  EXPECT_EQ(record.inputMidiClientCount + record.outputMidiClientCount, 0u);

  // The same table again changes nothing.
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *serviceSoundDevices()), 0u);
  EXPECT_EQ(statistics().generation, record.generation);

  // An open MIDI sound device is a client of its port; the generation stays,
  // the client count tells.
  const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH openMidiOut{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 2, 1, 0};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, openMidiOut), 0u);
  const ORVANE_STATISTICS withClient = statistics();
  EXPECT_EQ(withClient.generation, record.generation);
  EXPECT_EQ(withClient.inputMidiClientCount, 0u);
  ASSERT_EQ(withClient.outputMidiClientCount, 1u);
  EXPECT_EQ(withClient.outputMidiClients[0].midiPortIdLow, withClient.outputMidiPorts[0].midiPortIdLow);
  EXPECT_EQ(withClient.outputMidiClients[0].midiPortIdHigh, withClient.outputMidiPorts[0].midiPortIdHigh);
  EXPECT_EQ(withClient.outputMidiPorts[0].usageCount, 1u);
  const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH closeMidiOut{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 2, 0, 0};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, closeMidiOut), 0u);
  EXPECT_EQ(statistics().outputMidiClientCount, 0u);

  // An open sound device keeps the table as it is.
  const usbaudio_sim::SIM_SOUND_DEVICE_SWITCH open{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 0, 1, 0};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SOUND_DEVICE, open), 0u);
  EXPECT_EQ(statistics().playbackSoundDevices[0].connected, 1u);
  auto other = serviceSoundDevices();
  other->playbackCount = 1;
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *other), ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  EXPECT_EQ(statistics().playbackSoundDeviceCount, 4u);
}

TEST_F(Setup, BadSoundDeviceTablesAreRefusedWhole) {
  SimFile studio;
  attach(studio, 0);
  struct Case {
    void (*spoil)(ORVANE_SOUND_DEVICE_TABLE&);
    const char* why;
  };
  const Case cases[] = {
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.playbackCount = 33; }, "33 playback devices"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.recording[1].kind = 7; }, "unknown kind"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.recording[1].pairCount = 0; }, "no pair"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.recording[1].pairCount = 9; }, "nine pairs"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.recording[1].pairs[0] = 16; }, "pair 16"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) { t.recording[1].position = 0; }, "position not its index"},
      {[](ORVANE_SOUND_DEVICE_TABLE& t) {
         std::fill(std::begin(t.playback[0].name), std::end(t.playback[0].name), u'x');
       },
       "unterminated name"},
  };
  for (const Case& c : cases) {
    auto table = serviceSoundDevices();
    c.spoil(*table);
    EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *table), ORVANE_STATUS_INVALID_PARAMETER) << c.why;
    EXPECT_EQ(statistics().playbackSoundDeviceCount, 9u + 2u) << c.why;  // the defaults stay
  }
}

TEST_F(Setup, MixerStripsAreTheSoundDeviceVolumes) {
  SimFile studio;
  attach(studio, 0);
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *serviceSoundDevices()), 0u);

  ORVANE_SOUND_DEVICE_VOLUME volume{};
  ASSERT_EQ(studio.query(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{ORVANE_SOUND_DEVICE_PLAYBACK, 0, {}, {}},
                         &volume),
            0u);
  EXPECT_EQ(volume.direction, ORVANE_SOUND_DEVICE_PLAYBACK);
  EXPECT_EQ(volume.volume[7], 0);  // 0 dB

  // The 7.1 device has eight channels; slots beyond them stay empty.
  ORVANE_SOUND_DEVICE_VOLUME set{ORVANE_SOUND_DEVICE_PLAYBACK, 0, {}, {}};
  set.volume[0] = -393216;               // -6 dB
  set.volume[1] = ORVANE_VOLUME_SILENCE;
  set.volume[2] = 100 * 65536;           // above +6 dB
  set.volume[3] = -200 * 65536;          // below -128 dB
  set.volume[8] = -65536;
  set.mute[1] = 0xFF;
  ASSERT_EQ(studio.send(ORVANE_IOCTL_SET_MIXER_STRIP, set), 0u);
  SimFile other;
  attach(other, 0);
  ASSERT_EQ(other.query(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{ORVANE_SOUND_DEVICE_PLAYBACK, 0, {}, {}},
                        &volume),
            0u);
  EXPECT_EQ(volume.volume[0], -393216);
  EXPECT_EQ(volume.volume[1], ORVANE_VOLUME_SILENCE);
  EXPECT_EQ(volume.volume[2], 6 * 65536);
  EXPECT_EQ(volume.volume[3], ORVANE_LINE_VOLUME_FLOOR);
  EXPECT_EQ(volume.volume[8], 0);
  EXPECT_EQ(volume.mute[1], ORVANE_VOLUME_MUTE);

  // A Windows volume change shows in the strip.
  const usbaudio_sim::SIM_VOLUME windows{{0, 0, {}}, ORVANE_SOUND_DEVICE_PLAYBACK, 1, 0, -655360, 0, 0};
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_SET_VOLUME, windows), 0u);
  ASSERT_EQ(studio.query(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{ORVANE_SOUND_DEVICE_PLAYBACK, 1, {}, {}},
                         &volume),
            0u);
  EXPECT_EQ(volume.volume[0], -655360);

  EXPECT_EQ(studio.query(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{ORVANE_SOUND_DEVICE_PLAYBACK, 3, {}, {}},
                         &volume),
            ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{0, 0, {}, {}}),
            ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(studio.query(ORVANE_IOCTL_GET_MIXER_STRIP, ORVANE_SOUND_DEVICE_VOLUME{3, 0, {}, {}}, &volume),
            ORVANE_STATUS_INVALID_PARAMETER);
}

TEST_F(Setup, PortStateAndParameter) {
  SimFile studio;
  attach(studio, 0);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_STATE, ORVANE_PORT_STATE{0, 1}), 0u);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_PARAMETER, ORVANE_PORT_PARAMETER{0, 4}), 0u);
  EXPECT_NE(state().find("port0: state 1, packets per frame 4"), std::string::npos);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_STATE, ORVANE_PORT_STATE{1, 0}), ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_STATE, ORVANE_PORT_STATE{0, 2}), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_PARAMETER, ORVANE_PORT_PARAMETER{2, 8}), ORVANE_STATUS_OBJECT_NOT_FOUND);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_PARAMETER, ORVANE_PORT_PARAMETER{0, 3}), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(studio.send(ORVANE_IOCTL_SET_PORT_PARAMETER, uint32_t{0}), ORVANE_STATUS_INVALID_INBUFFER_SIZE);
}

TEST_F(Setup, TheServicesAttachSequenceSucceedsOnADeviceWithLoopbackPins) {
  // The requests in the order the service sends them when it attaches.
  auto attachSequence = [](SimFile& file) -> uint32_t {
    if (uint32_t status = file.send(ORVANE_IOCTL_SET_DEVICE_SETUP,
                                    ORVANE_DEVICE_SETUP{ORVANE_DEVICE_SETUP_FIRST_WORD,
                                                        ORVANE_DEVICE_SETUP_SECOND_WORD, {}})) {
      return status;
    }
    std::vector<ORVANE_MIXER_CROSSPOINT> loopback{
        {pin(5, 0), pin(2, 0), 0, ORVANE_MIXER_CROSSPOINT_ON, 0},
        {pin(5, 1), pin(2, 1), 0, ORVANE_MIXER_CROSSPOINT_ON, 0}};
    if (uint32_t status = exchange(file, ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, loopback)) return status;
    auto config = std::make_unique<ORVANE_PORT_CONFIG>();
    if (uint32_t status = file.get(ORVANE_IOCTL_GET_PORT_CONFIG, config.get())) return status;
    if (uint32_t status = file.send(ORVANE_IOCTL_SET_CHANNEL_NAMES, *serviceNames(supportsDsd(*config)))) {
      return status;
    }
    if (uint32_t status = file.send(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, *serviceSoundDevices())) return status;
    if (uint32_t status = file.send(ORVANE_IOCTL_SET_PORT_STATE, ORVANE_PORT_STATE{0, 0})) return status;
    return file.send(ORVANE_IOCTL_SET_PORT_PARAMETER, ORVANE_PORT_PARAMETER{0, 8});
  };
  SimFile studio;
  attach(studio, 0);
  EXPECT_EQ(attachSequence(studio), 0u);
  // A device configured without mixer pins has no loopback outputs to route.
  SimFile mini;
  attach(mini, 1);
  EXPECT_EQ(attachSequence(mini), ORVANE_STATUS_OBJECT_NOT_FOUND);
}

}  // namespace

// The statistics record: the driver's objects with their counters, and the
// clear flag.
//
// Objects, each table cut to its slots:
// - devices: the plugged devices in plug order;
// - isochronous streams: per streaming device and direction with USB channels
//   (virtual channels stay inside the driver) while the engine is Prepared or
//   Running; figures follow from rate, buffer class and channel count, the
//   packet and buffer counts from the frames the pacing threads moved;
// - hardware ports and port channels: the listed channels, one port per
//   device, direction and port type;
// - S/PDIF deframers: one per listed S/PDIF input port, in the state of the
//   device's S/PDIF input;
// - ASIO channels: the listed channels, connected while a connection holds them;
// - sound devices: every plugged device's WDM sound devices except MIDI ones,
//   connected while open; MIDI sound devices are the MIDI ports, and an open
//   one is a client of its port;
// - ASIO hosts: the connections with ASIO buffers.
// Port identifiers are device first word << 32 | direction << 24 | port type
// << 16 | 0xFF00 | port number; MIDI port identifiers the same with port type
// 20 and the number without 0xFF00. Measurements the driver does not make read
// -1 ("n/a").
//
// Clear (input 1) resets every ASIO stream's counters and the five status
// counters before the record is built.

#include <algorithm>
#include <memory>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_statistics.h"
#include "device-access/orvane_status.h"
#include "platform/text.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

constexpr int32_t kNotMeasured = -1;
constexpr uint32_t kIsoBuffers = 8;           // buffers per isochronous stream
constexpr int32_t kPendingWhileRunning = 2;   // buffers queued at the host controller
constexpr uint32_t kDeframerFifoSamples = 512;
constexpr uint32_t kSpdifBlockSamples = 384;  // 192 frames of two subframes
constexpr int32_t kTimeCriticalPriority = 15;
constexpr uint32_t kFirmwareType = 1;
constexpr uint8_t kFirmwareProtocolVersion = 2;
constexpr uint32_t kFpgaDesignVersion = 0x23;
constexpr uint32_t kFpgaCustomerId = 0x01;

void putId(uint64_t id, uint32_t* low, uint32_t* high) {
  *low = static_cast<uint32_t>(id);
  *high = static_cast<uint32_t>(id >> 32);
}

uint64_t hwPortId(ORVANE_DEVICE_ID device, uint32_t direction, uint32_t portType) {
  return uint64_t{device.first} << 32 | uint64_t{direction & 0xFF} << 24 | uint64_t{portType & 0xFF} << 16 | 0xFF00;
}

uint64_t midiPortId(ORVANE_DEVICE_ID device, uint32_t direction, uint32_t number) {
  return uint64_t{device.first} << 32 | uint64_t{direction & 0xFF} << 24 |
         uint64_t{ORVANE_SOUND_DEVICE_KIND_MIDI} << 16 | (number & 0xFF);
}

template <size_t N>
void copyName(char16_t (&field)[N], const char16_t* text, size_t capacity) {
  copyToField(field, std::u16string_view(text, platform::wideLength(text, capacity)));
}

VirtualDevice* ownerOf(Driver& driver, const Channel& channel) {
  const auto first = static_cast<uint32_t>(channel.id >> 32);
  for (const auto& device : driver.devices()) {
    if (device->id().first == first) return device.get();
  }
  return nullptr;
}

// Frames the pacing threads moved since the counters were last cleared. The
// streams run in step with the engine, so the busiest one stands for all.
uint64_t movedFrames(Driver& driver, uint32_t* periods) {
  uint64_t frames = 0;
  *periods = 0;
  for (Connection* connection : driver.connections()) {
    if (!connection->asio) continue;
    const uint32_t events = connection->asio->counters().bufferSwitchEvents;
    frames = std::max(frames, uint64_t{events} * connection->asio->frames());
    *periods = std::max(*periods, events);
  }
  return frames;
}

// ---------------------------------------------------------------------------
// Devices and streams

void addDevices(Driver& driver, ORVANE_STATISTICS& record) {
  for (const auto& device : driver.devices()) {
    if (record.deviceCount == ORVANE_STAT_MAX_DEVICES) return;
    const DeviceDescription& description = device->description();
    ORVANE_STAT_DEVICE& entry = record.devices[record.deviceCount++];
    entry.deviceId = device->id();
    entry.vendorId = description.vendorId;
    entry.productId = description.productId;
    entry.revisionId = description.revision;
    entry.boardId = description.boardId;
    copyToField(entry.name, description.name);
    entry.firmwareType = kFirmwareType;
    std::copy(description.firmwareVersion.begin(), description.firmwareVersion.end(), entry.firmwareVersion);
    entry.firmwareProtocolVersion = kFirmwareProtocolVersion;
    entry.fpgaDesignVersion = kFpgaDesignVersion;
    entry.fpgaCustomerId = kFpgaCustomerId;
    entry.highSpeedPort = description.highSpeed ? 1 : 0;
  }
}

// Channels of a device that travel over USB at the current rate.
uint32_t usbChannels(VirtualDevice& device, uint32_t direction, bool dsd) {
  const std::vector<Channel>& channels = device.channels(direction);
  return static_cast<uint32_t>(std::count_if(channels.begin(), channels.end(), [&](const Channel& channel) {
    return channel.isDsd() == dsd && channel.portType != ORVANE_PORT_TYPE_VIRTUAL;
  }));
}

ORVANE_STAT_ISO_STREAM isoStream(Driver& driver, VirtualDevice& device, uint32_t words, uint64_t moved) {
  const StreamingEngine& engine = driver.engine();
  const uint32_t rate = engine.sampleRate.load();
  const uint32_t frameRate = std::max<uint32_t>(1, bufferFrameRate(rate));
  const bool running = engine.state.load() == ORVANE_STREAMING_STATE_RUNNING;
  const uint32_t packetsPerSecond = device.description().highSpeed ? 8000 : 1000;
  const uint32_t minBlocks = frameRate / packetsPerSecond;
  const uint32_t maxBlocks = (frameRate + packetsPerSecond - 1) / packetsPerSecond;
  const uint32_t blockBytes = words * 4;
  const uint32_t bufferSamples = streamingBufferSamples(engine.buffers.streamingBufferSizeClass, rate);
  const uint32_t framesPerBuffer = bufferSamples / std::max<uint32_t>(1, rate / frameRate);

  ORVANE_STAT_ISO_STREAM stream{};
  stream.deviceId = device.id();
  stream.samplingFrequency = rate;
  stream.dataPackets = static_cast<uint32_t>(moved * packetsPerSecond / frameRate);
  stream.buffersTransferred = framesPerBuffer == 0 ? 0 : static_cast<uint32_t>(moved / framesPerBuffer);
  stream.buffersPending = running ? kPendingWhileRunning : 0;
  stream.buffersTotal = kIsoBuffers;
  stream.framesPerBuffer = framesPerBuffer;
  stream.dataBlockSizeWords = words;
  stream.maxIsoPacketSize = (maxBlocks + 1) * blockBytes;
  stream.minPacketSize = static_cast<int32_t>(minBlocks * blockBytes);
  stream.maxPacketSize = static_cast<int32_t>(maxBlocks * blockBytes);
  stream.minDataBlocksPerPacket = static_cast<int32_t>(minBlocks);
  stream.maxDataBlocksPerPacket = static_cast<int32_t>(maxBlocks);
  const int32_t interval = running ? static_cast<int32_t>(samplesToMicroseconds(bufferSamples, rate)) : kNotMeasured;
  stream.minCallbackInterval = interval;
  stream.maxCallbackInterval = interval;
  stream.currentCallbackInterval = interval;
  stream.minRunTime = kNotMeasured;
  stream.maxRunTime = kNotMeasured;
  return stream;
}

void addIsoStreams(Driver& driver, ORVANE_STATISTICS& record, uint64_t moved) {
  const uint32_t state = driver.engine().state.load();
  if (!isStreaming(state)) return;
  const bool dsd = isDsdRate(driver.engine().sampleRate.load());
  for (VirtualDevice* device : driver.streamingDevices()) {
    const uint32_t inputs = usbChannels(*device, ORVANE_CHANNEL_DIRECTION_INPUT, dsd);
    if (inputs > 0 && record.inputStreamCount < ORVANE_STAT_MAX_ISO_STREAMS) {
      ORVANE_STAT_ISO_STREAM_IN& entry = record.inputStreams[record.inputStreamCount++];
      entry.stream = isoStream(driver, *device, inputs, moved);
      entry.receiverState = state == ORVANE_STREAMING_STATE_RUNNING ? 1 : 0;
    }
    const uint32_t outputs = usbChannels(*device, ORVANE_CHANNEL_DIRECTION_OUTPUT, dsd);
    if (outputs > 0 && record.outputStreamCount < ORVANE_STAT_MAX_ISO_STREAMS) {
      record.outputStreams[record.outputStreamCount++] = isoStream(driver, *device, outputs, moved);
    }
  }
}

// ---------------------------------------------------------------------------
// Ports, channels and the S/PDIF deframers

bool coveredByOpenSoundDevice(VirtualDevice& device, const Channel& channel) {
  const uint32_t list =
      channel.direction == ORVANE_CHANNEL_DIRECTION_INPUT ? ORVANE_SOUND_DEVICE_RECORDING : ORVANE_SOUND_DEVICE_PLAYBACK;
  for (const SoundDevice& soundDevice : device.soundDevices(list)) {
    if (!soundDevice.open) continue;
    const ORVANE_SOUND_DEVICE& sound = soundDevice.record;
    const uint32_t pairs = std::min<uint32_t>(sound.pairCount, ORVANE_SOUND_DEVICE_MAX_PAIRS);
    const uint32_t portType = sound.kind == ORVANE_SOUND_DEVICE_KIND_LINE    ? ORVANE_PORT_TYPE_I2S
                              : sound.kind == ORVANE_SOUND_DEVICE_KIND_SPDIF ? ORVANE_PORT_TYPE_SPDIF
                              : sound.kind == ORVANE_SOUND_DEVICE_KIND_LOOPBACK ? ORVANE_PORT_TYPE_VIRTUAL
                                                                                : 0;
    if (channel.portType != portType) continue;
    for (uint32_t pair = 0; pair < pairs; ++pair) {
      if (sound.pairs[pair] == channel.index / 2) return true;
    }
  }
  return false;
}

struct ChannelTables {
  uint32_t* portChannelCount;
  ORVANE_STAT_PORT_CHANNEL* portChannels;
  uint32_t* portCount;
  ORVANE_STAT_HW_PORT* ports;
  uint32_t* asioChannelCount;
  ORVANE_STAT_ASIO_CHANNEL* asioChannels;
};

ChannelTables tablesOf(ORVANE_STATISTICS& record, uint32_t direction) {
  if (direction == ORVANE_CHANNEL_DIRECTION_INPUT) {
    return {&record.inputPortChannelCount, record.inputPortChannels, &record.inputHwPortCount,
            record.inputHwPorts,           &record.inputAsioChannelCount, record.inputAsioChannels};
  }
  return {&record.outputPortChannelCount, record.outputPortChannels, &record.outputHwPortCount,
          record.outputHwPorts,           &record.outputAsioChannelCount, record.outputAsioChannels};
}

// The port of a channel, added when it is new; null when the table is full.
ORVANE_STAT_HW_PORT* portOf(ChannelTables& tables, VirtualDevice& device, const Channel& channel) {
  const uint64_t id = hwPortId(device.id(), channel.direction, channel.portType);
  for (uint32_t n = 0; n < *tables.portCount; ++n) {
    ORVANE_STAT_HW_PORT& port = tables.ports[n];
    if (port.hwPortIdLow == static_cast<uint32_t>(id) && port.hwPortIdHigh == static_cast<uint32_t>(id >> 32)) {
      return &port;
    }
  }
  if (*tables.portCount == ORVANE_STAT_MAX_HW_PORTS) return nullptr;
  ORVANE_STAT_HW_PORT& port = tables.ports[(*tables.portCount)++];
  putId(id, &port.hwPortIdLow, &port.hwPortIdHigh);
  port.deviceId = device.id();
  port.portType = channel.portType;
  port.portNumber = 0;
  return &port;
}

void addChannels(Driver& driver, ORVANE_STATISTICS& record, uint32_t direction) {
  ChannelTables tables = tablesOf(record, direction);
  std::vector<std::pair<uint32_t, uint32_t>> blockOffsets;  // device first word, next offset
  for (const Channel* channel : driver.listedChannels(direction)) {
    VirtualDevice* device = ownerOf(driver, *channel);
    if (device == nullptr) continue;
    auto offset = std::find_if(blockOffsets.begin(), blockOffsets.end(),
                               [&](const auto& entry) { return entry.first == device->id().first; });
    if (offset == blockOffsets.end()) offset = blockOffsets.insert(blockOffsets.end(), {device->id().first, 0});
    const uint32_t dataBlockOffset = offset->second++;

    ORVANE_STAT_HW_PORT* port = portOf(tables, *device, *channel);
    if (port != nullptr) ++port->channelCount;
    if (port != nullptr && *tables.portChannelCount < ORVANE_STAT_MAX_PORT_CHANNELS) {
      ORVANE_STAT_PORT_CHANNEL& entry = tables.portChannels[(*tables.portChannelCount)++];
      entry.hwPortIdLow = port->hwPortIdLow;
      entry.hwPortIdHigh = port->hwPortIdHigh;
      entry.dataBlockOffset = dataBlockOffset;
      entry.channelPosition = channel->index;
      entry.asioChannelConnected = channel->owner != 0 ? 1 : 0;
      entry.soundDeviceConnected = coveredByOpenSoundDevice(*device, *channel) ? 1 : 0;
    }
    if (*tables.asioChannelCount < ORVANE_STAT_MAX_ASIO_CHANNELS) {
      ORVANE_STAT_ASIO_CHANNEL& entry = tables.asioChannels[(*tables.asioChannelCount)++];
      entry.deviceId = device->id();
      entry.connected = channel->owner != 0 ? 1 : 0;
      copyToField(entry.name, channel->displayName());
    }
  }
}

uint32_t deframerState(const SpdifInputState& input) {
  if (input.inputState != ORVANE_SPDIF_INPUT_LOCKED) return ORVANE_DEFRAMER_TRY_SYNC;
  switch (input.signalFormat) {
    case ORVANE_SPDIF_FORMAT_PCM: return ORVANE_DEFRAMER_PCM_LOCKED;
    case ORVANE_SPDIF_FORMAT_NON_PCM: return ORVANE_DEFRAMER_NON_PCM;
    default: return ORVANE_DEFRAMER_IN_SYNC;
  }
}

void addDeframers(Driver& driver, ORVANE_STATISTICS& record, uint64_t moved, uint32_t periods) {
  for (uint32_t n = 0; n < record.inputHwPortCount; ++n) {
    const ORVANE_STAT_HW_PORT& port = record.inputHwPorts[n];
    if (port.portType != ORVANE_PORT_TYPE_SPDIF || record.spdifDeframerCount == ORVANE_STAT_MAX_SPDIF_DEFRAMERS) {
      continue;
    }
    VirtualDevice* device = driver.findDevice(port.deviceId);
    if (device == nullptr) continue;
    const SpdifInputState& input = device->spdifInput;
    ORVANE_STAT_SPDIF_DEFRAMER& entry = record.spdifDeframers[record.spdifDeframerCount++];
    entry.hwPortIdLow = port.hwPortIdLow;
    entry.hwPortIdHigh = port.hwPortIdHigh;
    entry.state = deframerState(input);
    entry.fifoSizeSamples = kDeframerFifoSamples;
    if (entry.state == ORVANE_DEFRAMER_TRY_SYNC) continue;
    entry.inputSamples = static_cast<uint32_t>(moved * 2);
    entry.blocksParsed = entry.inputSamples / kSpdifBlockSamples;
    entry.processingCalls = periods;
    if (entry.state != ORVANE_DEFRAMER_PCM_LOCKED) continue;
    entry.detectedSampleRate = input.sampleRate;
    entry.fifoFillSamples = kDeframerFifoSamples / 2;  // the converter keeps it half full
    entry.fifoFillSamplesMin = entry.fifoFillSamples - 16;
    entry.fifoFillSamplesMax = entry.fifoFillSamples + 16;
    entry.fifoFillPercent = entry.fifoFillSamples * 10000 / kDeframerFifoSamples;
    entry.fifoFillPercentMin = entry.fifoFillSamplesMin * 10000 / kDeframerFifoSamples;
    entry.fifoFillPercentMax = entry.fifoFillSamplesMax * 10000 / kDeframerFifoSamples;
  }
}

// ---------------------------------------------------------------------------
// Sound devices, MIDI ports and ASIO hosts

// An open MIDI sound device is one client of its port. No MIDI data moves
// through the simulated device, so the client's counters stay 0.
void addMidiClient(ORVANE_STATISTICS& record, bool input, const ORVANE_STAT_MIDI_PORT& port) {
  if (input) {
    if (record.inputMidiClientCount == ORVANE_STAT_MAX_MIDI_CLIENTS) return;
    ORVANE_STAT_MIDI_CLIENT_IN& client = record.inputMidiClients[record.inputMidiClientCount++];
    client.midiPortIdLow = port.midiPortIdLow;
    client.midiPortIdHigh = port.midiPortIdHigh;
  } else {
    if (record.outputMidiClientCount == ORVANE_STAT_MAX_MIDI_CLIENTS) return;
    ORVANE_STAT_MIDI_CLIENT_OUT& client = record.outputMidiClients[record.outputMidiClientCount++];
    client.midiPortIdLow = port.midiPortIdLow;
    client.midiPortIdHigh = port.midiPortIdHigh;
  }
}

void addSoundDevices(Driver& driver, ORVANE_STATISTICS& record) {
  for (const auto& device : driver.devices()) {
    for (const uint32_t direction : {ORVANE_SOUND_DEVICE_RECORDING, ORVANE_SOUND_DEVICE_PLAYBACK}) {
      const bool recording = direction == ORVANE_SOUND_DEVICE_RECORDING;
      uint32_t& soundCount = recording ? record.recordingSoundDeviceCount : record.playbackSoundDeviceCount;
      ORVANE_STAT_SOUND_DEVICE* sounds = recording ? record.recordingSoundDevices : record.playbackSoundDevices;
      uint32_t& midiCount = recording ? record.inputMidiPortCount : record.outputMidiPortCount;
      ORVANE_STAT_MIDI_PORT* midiPorts = recording ? record.inputMidiPorts : record.outputMidiPorts;
      uint32_t midiNumber = 0;
      for (const SoundDevice& soundDevice : device->soundDevices(direction)) {
        if (soundDevice.record.kind == ORVANE_SOUND_DEVICE_KIND_MIDI) {
          const uint32_t number = midiNumber++;
          if (midiCount == ORVANE_STAT_MAX_MIDI_PORTS) continue;
          ORVANE_STAT_MIDI_PORT& port = midiPorts[midiCount++];
          putId(midiPortId(device->id(), direction, number), &port.midiPortIdLow, &port.midiPortIdHigh);
          port.deviceId = device->id();
          port.index = number;
          port.usageCount = soundDevice.open ? 1 : 0;
          if (soundDevice.open) addMidiClient(record, recording, port);
          continue;
        }
        if (soundCount == ORVANE_STAT_MAX_SOUND_DEVICES) continue;
        ORVANE_STAT_SOUND_DEVICE& entry = sounds[soundCount++];
        entry.deviceId = device->id();
        entry.connected = soundDevice.open ? 1 : 0;
        copyName(entry.name, soundDevice.record.name, ORVANE_SOUND_DEVICE_NAME_CHARS);
      }
    }
  }
}

uint32_t acquired(const Connection& connection, uint32_t direction) {
  return static_cast<uint32_t>(std::count_if(connection.acquiredChannels.begin(), connection.acquiredChannels.end(),
                                             [&](uint64_t id) { return ((id >> 24) & 0xFF) == direction; }));
}

void addAsioHosts(Driver& driver, ORVANE_STATISTICS& record) {
  for (Connection* connection : driver.connections()) {
    if (!connection->asio || record.asioHostCount == ORVANE_STAT_MAX_ASIO_HOSTS) continue;
    const AsioStreamCounters counters = connection->asio->counters();
    const bool measured = counters.maxIntervalMicroseconds != 0;
    ORVANE_STAT_ASIO_HOST& host = record.asioHosts[record.asioHostCount++];
    host.inputChannelsAcquired = acquired(*connection, ORVANE_CHANNEL_DIRECTION_INPUT);
    host.outputChannelsAcquired = acquired(*connection, ORVANE_CHANNEL_DIRECTION_OUTPUT);
    host.channelsEnabled = counters.running ? 1 : 0;
    host.bufferSwitchEvents = counters.bufferSwitchEvents;
    host.switchIntervalSamples = counters.switchIntervalSamples;
    host.switchIntervalMicroseconds = counters.switchIntervalMicroseconds;
    host.workerThreadPriority = kTimeCriticalPriority;
    host.threadMissedEvents = counters.threadMissedEvents;
    host.eventsMissed = counters.eventsMissed;
    host.minSwitchIntervalMicroseconds = measured ? counters.minIntervalMicroseconds : kNotMeasured;
    host.maxSwitchIntervalMicroseconds = measured ? counters.maxIntervalMicroseconds : kNotMeasured;
    host.currentSwitchIntervalMicroseconds = measured ? counters.currentIntervalMicroseconds : kNotMeasured;
  }
}

void buildStatistics(Driver& driver, ORVANE_STATISTICS& record) {
  uint32_t periods = 0;
  const uint64_t moved = movedFrames(driver, &periods);
  record.generation = driver.statisticsGeneration();
  addDevices(driver, record);
  addIsoStreams(driver, record, moved);
  addChannels(driver, record, ORVANE_CHANNEL_DIRECTION_INPUT);
  addChannels(driver, record, ORVANE_CHANNEL_DIRECTION_OUTPUT);
  addDeframers(driver, record, moved, periods);
  addSoundDevices(driver, record);
  addAsioHosts(driver, record);
}

void clearCounters(Driver& driver) {
  for (Connection* connection : driver.connections()) {
    if (connection->asio) connection->asio->clearCounters();
  }
  DriverCounters& counters = driver.counters();
  counters.streamingErrors = 0;
  counters.fifoErrors = 0;
  counters.asioErrors = 0;
  counters.wdmAudioErrors = 0;
  counters.wdmMidiErrors = 0;
}

NtStatus getStatistics(RequestContext& context) {
  const auto flag = context.input<uint32_t>();
  if (flag != ORVANE_STATISTICS_READ && flag != ORVANE_STATISTICS_CLEAR) return ORVANE_STATUS_INVALID_PARAMETER;
  if (flag == ORVANE_STATISTICS_CLEAR) clearCounters(context.driver);
  const auto record = std::make_unique<ORVANE_STATISTICS>();
  buildStatistics(context.driver, *record);
  return context.replyBytes(record.get(), sizeof *record);
}

void registerStatisticsFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_STATISTICS, getStatistics);
}

const HandlerFamily statisticsFamily("statistics", registerStatisticsFamily);

}  // namespace
}  // namespace usbaudio_sim

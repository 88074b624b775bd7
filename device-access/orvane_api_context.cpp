#include "device-access/orvane_api_context.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/format.h"

namespace {

template <typename Count>
void limitCount(Count& count, size_t slots) {
  if (count > slots) count = static_cast<Count>(slots);
}

void limitChannelCount(ORVANE_CHANNEL_LIST& list) {
  // Packed record: the count is read and written by value.
  uint32_t count = list.count;
  limitCount(count, ORVANE_MAX_CHANNELS);
  list.count = count;
}

}  // namespace

size_t orvaneDevicePath(const char16_t* name, char16_t (&path)[ORVANE_DEVICE_PATH_CHARS]) {
  platform::formatText(path, ORVANE_DEVICE_PATH_CHARS, u"\\\\.\\%s", name);
  return std::char_traits<char16_t>::length(path);
}

OrvaneApiContext::OrvaneApiContext() = default;

OrvaneApiContext::~OrvaneApiContext() { close(); }

uint32_t OrvaneApiContext::open(const char16_t* name) {
  platform::CriticalSectionLock hold(lock_);
  if (isOpen()) return ORVANE_STATUS_REJECTED;
  if (requestEvent_.handle() == nullptr) {
    const uint32_t error = requestEvent_.create(true);
    if (error != 0) return error;
  }

  char16_t path[ORVANE_DEVICE_PATH_CHARS];
  orvaneDevicePath(name, path);
  const platform::Handle device = platform::openDevice(path);
  if (device == platform::kInvalidHandle) {
    const uint32_t error = platform::lastError();
    close();
    return error;
  }
  deviceHandle_.store(device);

  ORVANE_DRIVER_INFO info{};
  const uint32_t status = ioctlGetDriverInfo(info);
  if (status != 0) {
    close();
    return status;
  }
  if (info.interfaceVersionMajor != ORVANE_INTERFACE_VERSION_MAJOR) {
    close();
    return ORVANE_STATUS_VERSION_MISMATCH;
  }
  return 0;
}

void OrvaneApiContext::close() {
  platform::CriticalSectionLock hold(lock_);
  const platform::Handle device = deviceHandle_.exchange(nullptr);
  if (device != nullptr) platform::closeHandle(device);
  requestEvent_.closeHandle();
}

uint32_t OrvaneApiContext::ioControl(uint32_t code, const void* input, uint32_t inputSize, void* output,
                                     uint32_t outputSize, uint32_t* returned) {
  platform::CriticalSectionLock hold(lock_);
  const platform::Handle device = deviceHandle_.load();
  if (device == nullptr) return ORVANE_STATUS_NOT_OPENED;

  platform::Overlapped overlapped{};
  overlapped.event = requestEvent_.handle();
  uint32_t count = 0;
  uint32_t result = 0;
  if (!platform::deviceIoControl(device, code, input, inputSize, output, outputSize, &count, &overlapped)) {
    result = platform::lastError();
    if (result == platform::ERROR_IO_PENDING) {
      result = platform::getOverlappedResult(device, &overlapped, &count, true) ? 0 : platform::lastError();
    }
  }
  if (returned != nullptr) *returned = count;
  return result;
}

template <typename Entry>
uint32_t OrvaneApiContext::exchangeEntries(uint32_t code, Entry* entries, uint32_t count) {
  const uint64_t bytes = uint64_t{count} * sizeof(Entry);
  if (bytes > std::numeric_limits<uint32_t>::max()) return platform::ERROR_INVALID_PARAMETER;
  const auto size = static_cast<uint32_t>(bytes);
  return ioControl(code, entries, size, entries, size);
}

// --- Driver connection ---------------------------------------------------------

uint32_t OrvaneApiContext::ioctlGetDriverInfo(ORVANE_DRIVER_INFO& info) {
  return readRecord(ORVANE_IOCTL_GET_DRIVER_INFO, info);
}

uint32_t OrvaneApiContext::ioctlGetTraceMask(uint32_t& mask) { return readRecord(ORVANE_IOCTL_GET_TRACE_MASK, mask); }

uint32_t OrvaneApiContext::ioctlSetTraceMask(uint32_t mask) { return sendRecord(ORVANE_IOCTL_SET_TRACE_MASK, mask); }

uint32_t OrvaneApiContext::ioctlSaveTraceMask() { return ioControl(ORVANE_IOCTL_SAVE_TRACE_MASK, nullptr, 0, nullptr, 0); }

uint32_t OrvaneApiContext::ioctlSendMessage(const ORVANE_MESSAGE& message) {
  if (message.payloadLength > ORVANE_MESSAGE_MAX_PAYLOAD) return ORVANE_STATUS_INVALID_LENGTH;
  return ioControl(ORVANE_IOCTL_SEND_MESSAGE, &message, ORVANE_MESSAGE_HEADER_SIZE + message.payloadLength, nullptr,
                   0);
}

uint32_t OrvaneApiContext::ioctlReadMessage(ORVANE_MESSAGE& message) {
  return readRecord(ORVANE_IOCTL_READ_MESSAGE, message);
}

uint32_t OrvaneApiContext::ioctlReadNotification(ORVANE_MESSAGE& message) {
  message.kind = ORVANE_MSG_NONE;
  message.code = 0;
  return readRecord(ORVANE_IOCTL_READ_NOTIFICATION, message);
}

uint32_t OrvaneApiContext::ioctlSetEvents(const ORVANE_EVENT_HANDLES& events) {
  return sendRecord(ORVANE_IOCTL_SET_EVENTS, events);
}

uint32_t OrvaneApiContext::ioctlRegisterClient(uint32_t clientType) {
  return sendRecord(ORVANE_IOCTL_REGISTER_CLIENT, clientType);
}

uint32_t OrvaneApiContext::ioctlGetDeviceList(ORVANE_DEVICE_LIST& list) {
  const uint32_t status = readRecord(ORVANE_IOCTL_GET_DEVICE_LIST, list);
  if (status == 0) limitCount(list.count, ORVANE_MAX_DEVICES);
  return status;
}

uint32_t OrvaneApiContext::ioctlGetInputChannels(ORVANE_CHANNEL_LIST& list) {
  const uint32_t status = readRecord(ORVANE_IOCTL_GET_INPUT_CHANNELS, list);
  if (status == 0) limitChannelCount(list);
  return status;
}

uint32_t OrvaneApiContext::ioctlGetOutputChannels(ORVANE_CHANNEL_LIST& list) {
  const uint32_t status = readRecord(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, list);
  if (status == 0) limitChannelCount(list);
  return status;
}

uint32_t OrvaneApiContext::ioctlGetChannelInfo(uint64_t channelId, ORVANE_CHANNEL_INFO& info) {
  return ioControl(ORVANE_IOCTL_GET_CHANNEL_INFO, &channelId, sizeof channelId, &info, sizeof info);
}

uint32_t OrvaneApiContext::ioctlGetSampleRates(ORVANE_SAMPLE_RATES& rates) {
  rates = {};
  const uint32_t status = readRecord(ORVANE_IOCTL_GET_SAMPLE_RATES, rates);
  if (status == 0) limitCount(rates.rateCount, ORVANE_MAX_SAMPLE_RATES);
  return status;
}

uint32_t OrvaneApiContext::ioctlGetBufferSizes(ORVANE_BUFFER_SIZES& sizes) {
  sizes = {};
  return readRecord(ORVANE_IOCTL_GET_BUFFER_SIZES, sizes);
}

uint32_t OrvaneApiContext::ioctlGetStreamingStatus(ORVANE_STREAMING_STATUS& status) {
  return readRecord(ORVANE_IOCTL_GET_STREAMING_STATUS, status);
}

uint32_t OrvaneApiContext::ioctlGetStatusCounters(ORVANE_STATUS_COUNTERS& counters) {
  return readRecord(ORVANE_IOCTL_GET_STATUS_COUNTERS, counters);
}

uint32_t OrvaneApiContext::ioctlStreamingControl(uint32_t command) {
  return sendRecord(ORVANE_IOCTL_STREAMING_CONTROL, command);
}

uint32_t OrvaneApiContext::ioctlSetSampleRate(uint32_t rate) { return sendRecord(ORVANE_IOCTL_SET_SAMPLE_RATE, rate); }

uint32_t OrvaneApiContext::ioctlSetBufferSizes(const ORVANE_BUFFER_SETTINGS& settings) {
  return sendRecord(ORVANE_IOCTL_SET_BUFFER_SIZES, settings);
}

uint32_t OrvaneApiContext::ioctlPresetSampleRate(uint32_t rate) {
  return sendRecord(ORVANE_IOCTL_PRESET_SAMPLE_RATE, rate);
}

uint32_t OrvaneApiContext::ioctlSetStreamingDevice(const ORVANE_STREAMING_DEVICE_SELECTION& selection) {
  return sendRecord(ORVANE_IOCTL_SET_STREAMING_DEVICE, selection);
}

uint32_t OrvaneApiContext::ioctlGetStatistics(bool clear, ORVANE_STATISTICS& statistics) {
  const uint32_t clearFlag = clear ? ORVANE_STATISTICS_CLEAR : 0;
  return ioControl(ORVANE_IOCTL_GET_STATISTICS, &clearFlag, sizeof clearFlag, &statistics, sizeof statistics);
}

// --- Device connection ---------------------------------------------------------

uint32_t OrvaneApiContext::ioctlAttachDevice(const ORVANE_DEVICE_ID& device) {
  return sendRecord(ORVANE_IOCTL_ATTACH_DEVICE, device);
}

uint32_t OrvaneApiContext::ioctlGetPortConfig(ORVANE_PORT_CONFIG& config) {
  const uint32_t status = readRecord(ORVANE_IOCTL_GET_PORT_CONFIG, config);
  if (status == 0) limitCount(config.blockCount, ORVANE_MAX_PORT_BLOCKS);
  return status;
}

uint32_t OrvaneApiContext::ioctlSetDeviceSetup(const ORVANE_DEVICE_SETUP& setup) {
  return sendRecord(ORVANE_IOCTL_SET_DEVICE_SETUP, setup);
}

uint32_t OrvaneApiContext::ioctlSetChannelNames(const ORVANE_CHANNEL_NAME_TABLE& names) {
  return sendRecord(ORVANE_IOCTL_SET_CHANNEL_NAMES, names);
}

uint32_t OrvaneApiContext::ioctlSetSoundDeviceNames(const ORVANE_SOUND_DEVICE_TABLE& soundDevices) {
  return sendRecord(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES, soundDevices);
}

uint32_t OrvaneApiContext::ioctlGetSpdifInputStatus(ORVANE_SPDIF_INPUT_STATUS& status) {
  status.inputState = 0;
  status.signalFormat = 0;
  status.sampleRate = 0;
  return exchangeRecord(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, status);
}

uint32_t OrvaneApiContext::ioctlSetSpdifPassThrough(const ORVANE_SPDIF_PASS_THROUGH& passThrough) {
  return sendRecord(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, passThrough);
}

uint32_t OrvaneApiContext::ioctlGetSpdifPassThrough(ORVANE_SPDIF_PASS_THROUGH& passThrough) {
  passThrough.passThrough = 0;
  return exchangeRecord(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, passThrough);
}

uint32_t OrvaneApiContext::ioctlGetMixerInputLevels(ORVANE_MIXER_LEVEL* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS, entries, count);
}

uint32_t OrvaneApiContext::ioctlGetMixerOutputLevels(ORVANE_MIXER_LEVEL* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS, entries, count);
}

uint32_t OrvaneApiContext::ioctlGetMixerPins(uint32_t selector, ORVANE_MIXER_PIN* pins, uint32_t capacity,
                                             uint32_t& count) {
  count = 0;
  const uint64_t bytes = uint64_t{capacity} * sizeof(ORVANE_MIXER_PIN);
  if (bytes > std::numeric_limits<uint32_t>::max()) return platform::ERROR_INVALID_PARAMETER;
  uint32_t returned = 0;
  const uint32_t status = ioControl(ORVANE_IOCTL_GET_MIXER_PINS, &selector, sizeof selector, pins,
                                    static_cast<uint32_t>(bytes), &returned);
  if (status == 0) count = std::min<uint32_t>(returned / sizeof(ORVANE_MIXER_PIN), capacity);
  return status;
}

uint32_t OrvaneApiContext::ioctlGetMixerGains(ORVANE_MIXER_GAIN* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_GET_MIXER_GAINS, entries, count);
}

uint32_t OrvaneApiContext::ioctlGetMixerCrosspoints(ORVANE_MIXER_CROSSPOINT* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_GET_MIXER_CROSSPOINTS, entries, count);
}

uint32_t OrvaneApiContext::ioctlSetMixerGains(ORVANE_MIXER_GAIN* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_SET_MIXER_GAINS, entries, count);
}

uint32_t OrvaneApiContext::ioctlSetMixerCrosspoints(ORVANE_MIXER_CROSSPOINT* entries, uint32_t count) {
  return exchangeEntries(ORVANE_IOCTL_SET_MIXER_CROSSPOINTS, entries, count);
}

uint32_t OrvaneApiContext::ioctlSetBypassVolume(bool on) {
  const uint8_t value = on ? 1 : 0;
  return sendRecord(ORVANE_IOCTL_SET_BYPASS_VOLUME, value);
}

uint32_t OrvaneApiContext::ioctlGetBypassVolume(uint8_t& on) {
  on = 0;
  return readRecord(ORVANE_IOCTL_GET_BYPASS_VOLUME, on);
}

uint32_t OrvaneApiContext::ioctlSetBypassMute(bool on) {
  const uint8_t value = on ? 1 : 0;
  return sendRecord(ORVANE_IOCTL_SET_BYPASS_MUTE, value);
}

uint32_t OrvaneApiContext::ioctlGetBypassMute(uint8_t& on) {
  on = 0;
  return readRecord(ORVANE_IOCTL_GET_BYPASS_MUTE, on);
}

uint32_t OrvaneApiContext::ioctlGetMixerStrip(uint32_t direction, uint32_t soundDeviceIndex,
                                              ORVANE_SOUND_DEVICE_VOLUME& volume) {
  volume = {};
  volume.direction = direction;
  volume.soundDeviceIndex = soundDeviceIndex;
  return exchangeRecord(ORVANE_IOCTL_GET_MIXER_STRIP, volume);
}

uint32_t OrvaneApiContext::ioctlSetMixerStrip(const ORVANE_SOUND_DEVICE_VOLUME& volume) {
  return sendRecord(ORVANE_IOCTL_SET_MIXER_STRIP, volume);
}

uint32_t OrvaneApiContext::ioctlSetPluginParameters(const void* parameters, uint32_t size) {
  return ioControl(ORVANE_IOCTL_SET_PLUGIN_PARAMETERS, parameters, size, nullptr, 0);
}

uint32_t OrvaneApiContext::ioctlGetPluginParameters(void* parameters, uint32_t size) {
  return ioControl(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, parameters, size, parameters, size);
}

uint32_t OrvaneApiContext::ioctlSetPortParameter(const ORVANE_PORT_PARAMETER& parameter) {
  return sendRecord(ORVANE_IOCTL_SET_PORT_PARAMETER, parameter);
}

uint32_t OrvaneApiContext::ioctlSetPortState(const ORVANE_PORT_STATE& state) {
  return sendRecord(ORVANE_IOCTL_SET_PORT_STATE, state);
}

// --- ASIO ------------------------------------------------------------------------

uint32_t OrvaneApiContext::ioctlAsioGetSettings(ORVANE_ASIO_SETTINGS& settings) {
  const uint32_t status = readRecord(ORVANE_IOCTL_ASIO_GET_SETTINGS, settings);
  if (status == 0) limitCount(settings.sampleRates.rateCount, ORVANE_MAX_SAMPLE_RATES);
  return status;
}

uint32_t OrvaneApiContext::ioctlAsioGetChannels(ORVANE_CHANNEL_LIST_PAIR& channels) {
  const uint32_t status = readRecord(ORVANE_IOCTL_ASIO_GET_CHANNELS, channels);
  if (status == 0) {
    limitChannelCount(channels.inputs);
    limitChannelCount(channels.outputs);
  }
  return status;
}

uint32_t OrvaneApiContext::ioctlAsioGetChannelInfo(uint64_t channelId, ORVANE_CHANNEL_INFO& info) {
  return ioControl(ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO, &channelId, sizeof channelId, &info, sizeof info);
}

uint32_t OrvaneApiContext::ioctlAsioGetLatencies(ORVANE_ASIO_LATENCIES& latencies) {
  return readRecord(ORVANE_IOCTL_ASIO_GET_LATENCIES, latencies);
}

uint32_t OrvaneApiContext::ioctlAsioAcquireChannel(uint64_t channelId) {
  return sendRecord(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channelId);
}

uint32_t OrvaneApiContext::ioctlAsioReleaseChannel(uint64_t channelId) {
  return sendRecord(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, channelId);
}

uint32_t OrvaneApiContext::ioctlAsioCreateBuffers(const ORVANE_ASIO_CREATE_BUFFERS& buffers) {
  return sendRecord(ORVANE_IOCTL_ASIO_CREATE_BUFFERS, buffers);
}

uint32_t OrvaneApiContext::ioctlAsioDisposeBuffers() {
  return ioControl(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS, nullptr, 0, nullptr, 0);
}

uint32_t OrvaneApiContext::ioctlAsioSetChannelBuffers(const ORVANE_ASIO_CHANNEL_BUFFERS& buffers) {
  return sendRecord(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS, buffers);
}

uint32_t OrvaneApiContext::ioctlAsioStart() { return ioControl(ORVANE_IOCTL_ASIO_START, nullptr, 0, nullptr, 0); }

uint32_t OrvaneApiContext::ioctlAsioStop() { return ioControl(ORVANE_IOCTL_ASIO_STOP, nullptr, 0, nullptr, 0); }

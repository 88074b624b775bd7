#pragma once
// One connection to the USB audio kernel driver: a device handle opened on a
// device link name with the interface version check, a lock that serialises
// every request on it, and the manual-reset event of its overlapped requests.
//
// Every operation returns a status (0, a system error code or an
// ORVANE_STATUS_ value). The request wrappers, one per device request, are
// named after their request (ioctlGetDriverInfo for ORVANE_IOCTL_GET_DRIVER_INFO)
// so that the programs' own operations of the same meaning keep their names.
// Each passes its code and buffer sizes to ioControl; the few that prefill
// selectors or clear output fields say so. Wrappers of records that carry a
// count limit it to the record's slots after a successful read, so that a
// wrong count from the kernel driver never indexes past a record.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_statistics.h"
#include "device-access/wn_event.h"
#include "platform/critical_section.h"
#include "platform/handles.h"

// Room for "\\.\" and the link name, terminator included.
inline constexpr size_t ORVANE_DEVICE_PATH_CHARS = 300;

// Writes "\\.\<name>" into `path`, truncated to ORVANE_DEVICE_PATH_CHARS - 1
// characters. Returns the number of characters written.
size_t orvaneDevicePath(const char16_t* name, char16_t (&path)[ORVANE_DEVICE_PATH_CHARS]);

class OrvaneApiContext {
 public:
  OrvaneApiContext();
  virtual ~OrvaneApiContext();
  OrvaneApiContext(const OrvaneApiContext&) = delete;
  OrvaneApiContext& operator=(const OrvaneApiContext&) = delete;

  // Opens "\\.\<name>" and checks the kernel driver's interface version.
  // ORVANE_STATUS_REJECTED (nothing changed) when a handle is already held;
  // ORVANE_STATUS_VERSION_MISMATCH (closed) for another interface generation.
  uint32_t open(const char16_t* name);
  // Releases the handle and the request event.
  void close();
  bool isOpen() const { return deviceHandle_.load() != nullptr; }

  // One request, synchronous for the caller. ORVANE_STATUS_NOT_OPENED without
  // any system call (and `returned` untouched) when closed; otherwise
  // `returned`, when given, receives the byte count, also on failure.
  uint32_t ioControl(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                     uint32_t* returned = nullptr);

  // --- Driver connection: the kernel driver as a whole -----------------------
  uint32_t ioctlGetDriverInfo(ORVANE_DRIVER_INFO& info);
  uint32_t ioctlGetTraceMask(uint32_t& mask);
  uint32_t ioctlSetTraceMask(uint32_t mask);
  uint32_t ioctlSaveTraceMask();
  // Sends the header and payloadLength bytes of payload; a payload length
  // beyond ORVANE_MESSAGE_MAX_PAYLOAD fails with ORVANE_STATUS_INVALID_LENGTH
  // without a request.
  uint32_t ioctlSendMessage(const ORVANE_MESSAGE& message);
  uint32_t ioctlReadMessage(ORVANE_MESSAGE& message);
  // Clears kind and code first, so a failed read never looks like a message.
  uint32_t ioctlReadNotification(ORVANE_MESSAGE& message);
  uint32_t ioctlSetEvents(const ORVANE_EVENT_HANDLES& events);
  uint32_t ioctlRegisterClient(uint32_t clientType);
  uint32_t ioctlGetDeviceList(ORVANE_DEVICE_LIST& list);
  uint32_t ioctlGetInputChannels(ORVANE_CHANNEL_LIST& list);
  uint32_t ioctlGetOutputChannels(ORVANE_CHANNEL_LIST& list);
  uint32_t ioctlGetChannelInfo(uint64_t channelId, ORVANE_CHANNEL_INFO& info);
  // Zeroes the record first.
  uint32_t ioctlGetSampleRates(ORVANE_SAMPLE_RATES& rates);
  // Zeroes the record first.
  uint32_t ioctlGetBufferSizes(ORVANE_BUFFER_SIZES& sizes);
  uint32_t ioctlGetStreamingStatus(ORVANE_STREAMING_STATUS& status);
  uint32_t ioctlGetStatusCounters(ORVANE_STATUS_COUNTERS& counters);
  uint32_t ioctlStreamingControl(uint32_t command);
  uint32_t ioctlSetSampleRate(uint32_t rate);
  uint32_t ioctlSetBufferSizes(const ORVANE_BUFFER_SETTINGS& settings);
  uint32_t ioctlPresetSampleRate(uint32_t rate);
  uint32_t ioctlSetStreamingDevice(const ORVANE_STREAMING_DEVICE_SELECTION& selection);
  // `clear` asks the kernel driver to clear its counters (ORVANE_STATISTICS_CLEAR).
  uint32_t ioctlGetStatistics(bool clear, ORVANE_STATISTICS& statistics);

  // --- Device connection: the attached device ---------------------------------
  uint32_t ioctlAttachDevice(const ORVANE_DEVICE_ID& device);
  uint32_t ioctlGetPortConfig(ORVANE_PORT_CONFIG& config);
  uint32_t ioctlSetDeviceSetup(const ORVANE_DEVICE_SETUP& setup);
  uint32_t ioctlSetChannelNames(const ORVANE_CHANNEL_NAME_TABLE& names);
  uint32_t ioctlSetSoundDeviceNames(const ORVANE_SOUND_DEVICE_TABLE& soundDevices);
  // The selector is the caller's; the other three words are cleared first.
  uint32_t ioctlGetSpdifInputStatus(ORVANE_SPDIF_INPUT_STATUS& status);
  uint32_t ioctlSetSpdifPassThrough(const ORVANE_SPDIF_PASS_THROUGH& passThrough);
  // The selectors are the caller's; the pass-through word is sent as 0.
  uint32_t ioctlGetSpdifPassThrough(ORVANE_SPDIF_PASS_THROUGH& passThrough);
  uint32_t ioctlGetMixerInputLevels(ORVANE_MIXER_LEVEL* entries, uint32_t count);
  uint32_t ioctlGetMixerOutputLevels(ORVANE_MIXER_LEVEL* entries, uint32_t count);
  // Room for `capacity` pins; `count` receives how many were returned (the
  // byte count / 4), 0 on failure.
  uint32_t ioctlGetMixerPins(uint32_t selector, ORVANE_MIXER_PIN* pins, uint32_t capacity, uint32_t& count);
  uint32_t ioctlGetMixerGains(ORVANE_MIXER_GAIN* entries, uint32_t count);
  uint32_t ioctlGetMixerCrosspoints(ORVANE_MIXER_CROSSPOINT* entries, uint32_t count);
  uint32_t ioctlSetMixerGains(ORVANE_MIXER_GAIN* entries, uint32_t count);
  uint32_t ioctlSetMixerCrosspoints(ORVANE_MIXER_CROSSPOINT* entries, uint32_t count);
  uint32_t ioctlSetBypassVolume(bool on);
  // Presets the byte to 0.
  uint32_t ioctlGetBypassVolume(uint8_t& on);
  uint32_t ioctlSetBypassMute(bool on);
  // Presets the byte to 0.
  uint32_t ioctlGetBypassMute(uint8_t& on);
  // Clears the record and sets direction and index before the request.
  uint32_t ioctlGetMixerStrip(uint32_t direction, uint32_t soundDeviceIndex, ORVANE_SOUND_DEVICE_VOLUME& volume);
  uint32_t ioctlSetMixerStrip(const ORVANE_SOUND_DEVICE_VOLUME& volume);
  uint32_t ioctlSetPluginParameters(const void* parameters, uint32_t size);
  uint32_t ioctlGetPluginParameters(void* parameters, uint32_t size);
  uint32_t ioctlSetPortParameter(const ORVANE_PORT_PARAMETER& parameter);
  uint32_t ioctlSetPortState(const ORVANE_PORT_STATE& state);

  // --- ASIO (driver connection) -------------------------------------------------
  uint32_t ioctlAsioGetSettings(ORVANE_ASIO_SETTINGS& settings);
  uint32_t ioctlAsioGetChannels(ORVANE_CHANNEL_LIST_PAIR& channels);
  uint32_t ioctlAsioGetChannelInfo(uint64_t channelId, ORVANE_CHANNEL_INFO& info);
  uint32_t ioctlAsioGetLatencies(ORVANE_ASIO_LATENCIES& latencies);
  uint32_t ioctlAsioAcquireChannel(uint64_t channelId);
  uint32_t ioctlAsioReleaseChannel(uint64_t channelId);
  uint32_t ioctlAsioCreateBuffers(const ORVANE_ASIO_CREATE_BUFFERS& buffers);
  uint32_t ioctlAsioDisposeBuffers();
  uint32_t ioctlAsioSetChannelBuffers(const ORVANE_ASIO_CHANNEL_BUFFERS& buffers);
  uint32_t ioctlAsioStart();
  uint32_t ioctlAsioStop();

 protected:
  // Re-entrant: derived operations hold it across several requests.
  platform::CriticalSection lock_;

 private:
  template <typename Record>
  uint32_t readRecord(uint32_t code, Record& record) {
    return ioControl(code, nullptr, 0, &record, sizeof record);
  }
  template <typename Record>
  uint32_t sendRecord(uint32_t code, const Record& record) {
    return ioControl(code, &record, sizeof record, nullptr, 0);
  }
  template <typename Record>
  uint32_t exchangeRecord(uint32_t code, Record& record) {
    return ioControl(code, &record, sizeof record, &record, sizeof record);
  }
  template <typename Entry>
  uint32_t exchangeEntries(uint32_t code, Entry* entries, uint32_t count);

  // Null while closed. Atomic so that isOpen never waits behind a request.
  std::atomic<platform::Handle> deviceHandle_{nullptr};
  WnEvent requestEvent_;
};

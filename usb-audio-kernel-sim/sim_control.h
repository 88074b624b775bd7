#pragma once
// The control interface of the simulated USB audio kernel driver: a fourth
// device interface through which the `usbaudio-sim` tool and tests plug and
// unplug devices, change simulated conditions and inject faults. Header-only
// records, shared by the driver, the tool and the tests.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_records.h"

namespace usbaudio_sim {

// Opened as "\\.\UsbAudioSimControl".
inline constexpr char16_t kControlLinkName[] = u"UsbAudioSimControl";
// {6A2F0C1E-4B7D-4E58-9A31-5C8E2D7F0B14}
inline constexpr const char* kControlInterfaceClass = "{6A2F0C1E-4B7D-4E58-9A31-5C8E2D7F0B14}";

// Private request codes: device type 0x8089, buffered, function numbers below.
inline constexpr uint32_t SIM_CONTROL_DEVICE_TYPE = 0x8089;
constexpr uint32_t simControlCode(uint32_t function) { return (SIM_CONTROL_DEVICE_TYPE << 16) + 4 * function; }

// Input: nothing or a u32 format, SIM_STATE_TEXT or SIM_STATE_JSON. Output:
// the state as UTF-8 text or JSON (as much as fits; STATUS_BUFFER_OVERFLOW
// when it was cut).
inline constexpr uint32_t SIM_CONTROL_GET_STATE = simControlCode(0x001);
inline constexpr uint32_t SIM_STATE_TEXT = 0;
inline constexpr uint32_t SIM_STATE_JSON = 1;
// Input: u32 index of a device in the configuration file. Output: ORVANE_DEVICE_ID.
inline constexpr uint32_t SIM_CONTROL_PLUG_CONFIGURED = simControlCode(0x010);
// Input: a device description in the configuration file's syntax (the lines
// of one [device] section, UTF-8). Output: ORVANE_DEVICE_ID.
inline constexpr uint32_t SIM_CONTROL_PLUG_DESCRIPTION = simControlCode(0x011);
// Input: SIM_DEVICE_SELECTOR.
inline constexpr uint32_t SIM_CONTROL_UNPLUG = simControlCode(0x012);
// Input: SIM_SPDIF_INPUT. Posts notification 3040 for the device.
inline constexpr uint32_t SIM_CONTROL_SET_SPDIF_INPUT = simControlCode(0x020);
// Input: SIM_SOUND_DEVICE_SWITCH. Opening or closing posts 3015 or 3016.
inline constexpr uint32_t SIM_CONTROL_SOUND_DEVICE = simControlCode(0x021);
// Input: SIM_VOLUME. Posts notification 3060.
inline constexpr uint32_t SIM_CONTROL_SET_VOLUME = simControlCode(0x022);
// Input: SIM_SETTINGS. A change made outside the service: posts 3001.
inline constexpr uint32_t SIM_CONTROL_CHANGE_SETTINGS = simControlCode(0x023);
// No data: the streaming engine falls into the Error state.
inline constexpr uint32_t SIM_CONTROL_STREAMING_ERROR = simControlCode(0x024);
// Input: SIM_FAULT.
inline constexpr uint32_t SIM_CONTROL_SET_FAULT = simControlCode(0x030);
// No data: removes every fault.
inline constexpr uint32_t SIM_CONTROL_CLEAR_FAULTS = simControlCode(0x031);
// Input: u32 notification code, then 0 to 512 payload bytes: queued for every
// registered connection as the driver's own notification.
inline constexpr uint32_t SIM_CONTROL_NOTIFY = simControlCode(0x032);
// Input: SIM_REPLY_PATCH followed by `length` bytes. The next `count` replies
// (count 0 counts as 1) that complete requests with `code` successfully get
// those bytes written over their output at `offset`; bytes past the end of
// the output are dropped. Patches for one code add up and are applied in the
// order they were set. SIM_CONTROL_CLEAR_FAULTS removes them too.
inline constexpr uint32_t SIM_CONTROL_PATCH_REPLY = simControlCode(0x033);
// Output: SIM_SIGNAL_TIMES: when the pacing thread of the first connection
// with ASIO buffers signalled its buffer event, for measuring the host's wake.
inline constexpr uint32_t SIM_CONTROL_GET_SIGNAL_TIMES = simControlCode(0x040);

// Names a plugged device: by its position in the device list, or, with
// position SIM_SELECT_BY_ID, by its identifier.
inline constexpr uint32_t SIM_SELECT_BY_ID = 0xFFFFFFFF;

struct SIM_DEVICE_SELECTOR {
  uint32_t position;
  uint32_t reserved;
  ORVANE_DEVICE_ID deviceId;
};
static_assert(sizeof(SIM_DEVICE_SELECTOR) == 16);

struct SIM_SPDIF_INPUT {
  SIM_DEVICE_SELECTOR device;
  uint32_t inputState;    // ORVANE_SPDIF_INPUT_...
  uint32_t signalFormat;  // ORVANE_SPDIF_FORMAT_...
  uint32_t sampleRate;    // Hz
  uint32_t reserved;
};
static_assert(sizeof(SIM_SPDIF_INPUT) == 32);

struct SIM_SOUND_DEVICE_SWITCH {
  SIM_DEVICE_SELECTOR device;
  uint32_t direction;  // ORVANE_SOUND_DEVICE_RECORDING or _PLAYBACK
  uint32_t index;      // position in its list
  uint32_t open;       // 1 open, 0 close
  uint32_t reserved;
};
static_assert(sizeof(SIM_SOUND_DEVICE_SWITCH) == 32);

struct SIM_VOLUME {
  SIM_DEVICE_SELECTOR device;
  uint32_t direction;  // ORVANE_SOUND_DEVICE_RECORDING or _PLAYBACK
  uint32_t index;      // sound device position
  uint32_t channel;    // 0 to 15
  int32_t volume;      // 1/65536 dB, or ORVANE_VOLUME_SILENCE
  uint32_t mute;       // ORVANE_VOLUME_MUTE
  uint32_t reserved;
};
static_assert(sizeof(SIM_VOLUME) == 40);

// A field holding SIM_KEEP is left as it is.
inline constexpr uint32_t SIM_KEEP = 0xFFFFFFFF;

struct SIM_SETTINGS {
  uint32_t sampleRate;                // Hz, one the streaming device offers
  uint32_t streamingBufferSizeClass;  // ORVANE_STREAMING_BUFFER_...
  uint32_t asioBufferSizeClass;       // ORVANE_ASIO_BUFFER_...
  uint32_t reserved;
};
static_assert(sizeof(SIM_SETTINGS) == 16);

// A fault on one request code of the device links: after the next `after`
// requests with that code, which pass untouched, the next `count` requests
// (every one with count 0) fail with `status` without being handled, or, with
// status 0, are handled and answered `delayMilliseconds` later. A new fault
// for a code replaces the old one; status 0 with delay 0 removes it.
struct SIM_FAULT {
  uint32_t code;
  uint32_t status;
  uint32_t delayMilliseconds;
  uint32_t count;
  uint32_t after = 0;
};
static_assert(sizeof(SIM_FAULT) == 20);

// The header of SIM_CONTROL_PATCH_REPLY's input; the bytes follow it.
inline constexpr uint32_t SIM_MAX_PATCH_BYTES = 4096;
struct SIM_REPLY_PATCH {
  uint32_t code;
  uint32_t offset;
  uint32_t length;  // at most 4096
  uint32_t count;
};
static_assert(sizeof(SIM_REPLY_PATCH) == 16);

// The latest buffer event signals of a stream, oldest first: CLOCK_MONOTONIC
// nanoseconds taken just before each signal. 0 entries without a stream.
inline constexpr uint32_t SIM_MAX_SIGNAL_TIMES = 30000;  // 40 s at 64 frames and 48 kHz
struct SIM_SIGNAL_TIMES {
  uint32_t count;
  uint32_t reserved;
  int64_t nanoseconds[SIM_MAX_SIGNAL_TIMES];
};
static_assert(sizeof(SIM_SIGNAL_TIMES) == 8 + 8 * SIM_MAX_SIGNAL_TIMES);

inline constexpr uint32_t SIM_MAX_STATE_TEXT = 192 * 1024;  // a reply holds at most 256 KiB

}  // namespace usbaudio_sim

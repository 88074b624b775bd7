#pragma once
// Records of the control panel's requests: S/PDIF input status and
// pass-through, bypass, buffer sizes, status counters, mixer pins and levels,
// and the echo plug-in's parameters. The mixer pin, gain and crosspoint
// entries are in orvane_records.h.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_records.h"

// ---------------------------------------------------------------------------
// S/PDIF (device connection).

inline constexpr uint32_t ORVANE_SPDIF_INPUT_NOT_STREAMING = 0;
inline constexpr uint32_t ORVANE_SPDIF_INPUT_NO_SIGNAL = 1;
inline constexpr uint32_t ORVANE_SPDIF_INPUT_SYNCHRONIZING = 2;
inline constexpr uint32_t ORVANE_SPDIF_INPUT_LOCKED = 3;

inline constexpr uint32_t ORVANE_SPDIF_FORMAT_UNKNOWN = 0;
inline constexpr uint32_t ORVANE_SPDIF_FORMAT_PCM = 1;
inline constexpr uint32_t ORVANE_SPDIF_FORMAT_NON_PCM = 2;

// Input and output of ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS; the caller fills the
// selector and clears the other three words.
struct ORVANE_SPDIF_INPUT_STATUS {
  uint32_t selector;
  uint32_t inputState;    // ORVANE_SPDIF_INPUT_...
  uint32_t signalFormat;  // ORVANE_SPDIF_FORMAT_..., while locked
  uint32_t sampleRate;    // Hz, of a locked PCM signal
};
static_assert(isOrvaneRecord<ORVANE_SPDIF_INPUT_STATUS>);
static_assert(sizeof(ORVANE_SPDIF_INPUT_STATUS) == 16);
static_assert(offsetof(ORVANE_SPDIF_INPUT_STATUS, selector) == 0);
static_assert(offsetof(ORVANE_SPDIF_INPUT_STATUS, inputState) == 4);
static_assert(offsetof(ORVANE_SPDIF_INPUT_STATUS, signalFormat) == 8);
static_assert(offsetof(ORVANE_SPDIF_INPUT_STATUS, sampleRate) == 12);
static_assert(sizeof(ORVANE_SPDIF_INPUT_STATUS) == ORVANE_REQUEST_GET_SPDIF_INPUT_STATUS.input.bytes);

// Input of ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH; input and output of
// ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, which the caller sends with passThrough 0.
struct ORVANE_SPDIF_PASS_THROUGH {
  uint32_t firstSelector;
  uint32_t secondSelector;
  uint32_t passThrough;  // set: 1 on, 0 off; get: non-zero means on
};
static_assert(isOrvaneRecord<ORVANE_SPDIF_PASS_THROUGH>);
static_assert(sizeof(ORVANE_SPDIF_PASS_THROUGH) == 12);
static_assert(offsetof(ORVANE_SPDIF_PASS_THROUGH, firstSelector) == 0);
static_assert(offsetof(ORVANE_SPDIF_PASS_THROUGH, secondSelector) == 4);
static_assert(offsetof(ORVANE_SPDIF_PASS_THROUGH, passThrough) == 8);
static_assert(sizeof(ORVANE_SPDIF_PASS_THROUGH) == ORVANE_REQUEST_SET_SPDIF_PASS_THROUGH.input.bytes);
static_assert(sizeof(ORVANE_SPDIF_PASS_THROUGH) == ORVANE_REQUEST_GET_SPDIF_PASS_THROUGH.input.bytes);

// ---------------------------------------------------------------------------
// Bypass volume and mute: one byte, 1 on and 0 off. Input of the set requests,
// output of the get requests (the caller presets it to 0).

struct ORVANE_BYPASS_SWITCH {
  uint8_t on;
};
static_assert(isOrvaneRecord<ORVANE_BYPASS_SWITCH>);
static_assert(sizeof(ORVANE_BYPASS_SWITCH) == 1);
static_assert(sizeof(ORVANE_BYPASS_SWITCH) == ORVANE_REQUEST_SET_BYPASS_VOLUME.input.bytes);
static_assert(sizeof(ORVANE_BYPASS_SWITCH) == ORVANE_REQUEST_GET_BYPASS_VOLUME.output.bytes);
static_assert(sizeof(ORVANE_BYPASS_SWITCH) == ORVANE_REQUEST_SET_BYPASS_MUTE.input.bytes);
static_assert(sizeof(ORVANE_BYPASS_SWITCH) == ORVANE_REQUEST_GET_BYPASS_MUTE.output.bytes);

// ---------------------------------------------------------------------------
// Buffer sizes (output of ORVANE_IOCTL_GET_BUFFER_SIZES; the caller zeroes it
// first). The first three words are the ORVANE_BUFFER_SETTINGS of request 1002.

struct ORVANE_BUFFER_SIZES {
  uint32_t streamingBufferSizeClass;  // ORVANE_STREAMING_BUFFER_...
  uint32_t asioBufferSizeClass;       // ORVANE_ASIO_BUFFER_...
  uint32_t thirdSetting;              // not shown; sent back unchanged
  uint32_t streamingBufferMicroseconds;
  uint32_t asioBufferMicroseconds;
  uint32_t asioBufferSamples;
  uint32_t unused[2];
};
static_assert(isOrvaneRecord<ORVANE_BUFFER_SIZES>);
static_assert(sizeof(ORVANE_BUFFER_SIZES) == 32);
static_assert(offsetof(ORVANE_BUFFER_SIZES, streamingBufferSizeClass) == 0);
static_assert(offsetof(ORVANE_BUFFER_SIZES, asioBufferSizeClass) == 4);
static_assert(offsetof(ORVANE_BUFFER_SIZES, thirdSetting) == 8);
static_assert(offsetof(ORVANE_BUFFER_SIZES, streamingBufferMicroseconds) == 12);
static_assert(offsetof(ORVANE_BUFFER_SIZES, asioBufferMicroseconds) == 16);
static_assert(offsetof(ORVANE_BUFFER_SIZES, asioBufferSamples) == 20);
static_assert(offsetof(ORVANE_BUFFER_SIZES, unused) == 24);
static_assert(sizeof(ORVANE_BUFFER_SIZES) == ORVANE_REQUEST_GET_BUFFER_SIZES.output.bytes);

// ---------------------------------------------------------------------------
// Status counters (output of ORVANE_IOCTL_GET_STATUS_COUNTERS).

struct ORVANE_STATUS_COUNTERS {
  uint32_t streamingErrors;
  uint32_t fifoErrors;
  uint32_t asioErrors;
  uint32_t wdmAudioErrors;
  uint32_t wdmMidiErrors;
};
static_assert(isOrvaneRecord<ORVANE_STATUS_COUNTERS>);
static_assert(sizeof(ORVANE_STATUS_COUNTERS) == 20);
static_assert(offsetof(ORVANE_STATUS_COUNTERS, streamingErrors) == 0);
static_assert(offsetof(ORVANE_STATUS_COUNTERS, fifoErrors) == 4);
static_assert(offsetof(ORVANE_STATUS_COUNTERS, asioErrors) == 8);
static_assert(offsetof(ORVANE_STATUS_COUNTERS, wdmAudioErrors) == 12);
static_assert(offsetof(ORVANE_STATUS_COUNTERS, wdmMidiErrors) == 16);
static_assert(sizeof(ORVANE_STATUS_COUNTERS) == ORVANE_REQUEST_GET_STATUS_COUNTERS.output.bytes);

// ---------------------------------------------------------------------------
// Mixer pins and levels (device connection). ORVANE_IOCTL_GET_MIXER_PINS takes
// a u32 selector and returns ORVANE_MIXER_PIN entries; their number is the
// returned byte count / 4.

inline constexpr uint32_t ORVANE_MIXER_PINS_OUTPUTS = 0;
inline constexpr uint32_t ORVANE_MIXER_PINS_MONITOR_INPUTS = 1;   // hardware inputs
inline constexpr uint32_t ORVANE_MIXER_PINS_PLAYBACK_INPUTS = 2;  // ASIO and WDM playback channels

inline constexpr size_t ORVANE_MIXER_MAX_OUTPUT_PINS = 26;
inline constexpr size_t ORVANE_MIXER_MAX_INPUT_PINS = 18;

// Port types of mixer pins that have a name; the names of types 2 and 3
// depend on the side of the mixer.
inline constexpr uint8_t ORVANE_MIXER_PORT_I2S = 0;
inline constexpr uint8_t ORVANE_MIXER_PORT_SPDIF = 1;
inline constexpr uint8_t ORVANE_MIXER_PORT_VIRTUAL = 5;

static_assert(sizeof(uint32_t) == ORVANE_REQUEST_GET_MIXER_PINS.input.bytes);

// Entry of ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS and _OUTPUT_LEVELS: the caller
// fills the pin, the kernel driver the level.
struct ORVANE_MIXER_LEVEL {
  ORVANE_MIXER_PIN pin;
  int16_t level;  // hundredths of a dB
  uint8_t unused[2];
};
static_assert(isOrvaneRecord<ORVANE_MIXER_LEVEL>);
static_assert(sizeof(ORVANE_MIXER_LEVEL) == 8);
static_assert(offsetof(ORVANE_MIXER_LEVEL, pin) == 0);
static_assert(offsetof(ORVANE_MIXER_LEVEL, level) == 4);
static_assert(offsetof(ORVANE_MIXER_LEVEL, unused) == 6);
static_assert(sizeof(ORVANE_MIXER_LEVEL) == ORVANE_REQUEST_GET_MIXER_INPUT_LEVELS.input.bytes);
static_assert(sizeof(ORVANE_MIXER_LEVEL) == ORVANE_REQUEST_GET_MIXER_OUTPUT_LEVELS.input.bytes);

// ---------------------------------------------------------------------------
// Echo plug-in parameters: input and output of ORVANE_IOCTL_GET_PLUGIN_PARAMETERS,
// input of ORVANE_IOCTL_SET_PLUGIN_PARAMETERS (n-byte requests that carry this
// whole record). Delay in milliseconds, amplification in thousandths (0 to 1000).

inline constexpr uint32_t ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT = 0;
inline constexpr uint32_t ORVANE_PLUGIN_MAXIMUM_DELAY = 1;
inline constexpr uint32_t ORVANE_PLUGIN_DELAY = 2;
inline constexpr uint32_t ORVANE_PLUGIN_AMPLIFICATION = 3;

inline constexpr size_t ORVANE_PLUGIN_MAX_PAIRS = 2;

struct ORVANE_PLUGIN_CHANNEL_VALUE {
  uint32_t channel;  // 0-based
  uint32_t value;    // filled by the kernel driver when reading
};
static_assert(isOrvaneRecord<ORVANE_PLUGIN_CHANNEL_VALUE>);
static_assert(sizeof(ORVANE_PLUGIN_CHANNEL_VALUE) == 8);
static_assert(offsetof(ORVANE_PLUGIN_CHANNEL_VALUE, channel) == 0);
static_assert(offsetof(ORVANE_PLUGIN_CHANNEL_VALUE, value) == 4);

struct ORVANE_PLUGIN_PARAMETERS {
  uint32_t selector;  // ORVANE_PLUGIN_...
  // Output channel count and maximum delay: the answer, filled by the kernel
  // driver. Delay and amplification: the number of pairs that follow (1 to
  // read, 2 to write).
  uint32_t answerOrPairCount;
  ORVANE_PLUGIN_CHANNEL_VALUE pairs[ORVANE_PLUGIN_MAX_PAIRS];
  uint32_t zero[124];
};
static_assert(isOrvaneRecord<ORVANE_PLUGIN_PARAMETERS>);
static_assert(sizeof(ORVANE_PLUGIN_PARAMETERS) == 520);
static_assert(offsetof(ORVANE_PLUGIN_PARAMETERS, selector) == 0);
static_assert(offsetof(ORVANE_PLUGIN_PARAMETERS, answerOrPairCount) == 4);
static_assert(offsetof(ORVANE_PLUGIN_PARAMETERS, pairs) == 8);
static_assert(offsetof(ORVANE_PLUGIN_PARAMETERS, zero) == 24);

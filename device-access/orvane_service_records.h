#pragma once
// Records of the device control service's requests: streaming engine control,
// and per device the port configuration, device setup, channel and sound
// device names, sound device volumes and the port state and parameter.
// The buffer settings and streaming device selection records are in
// orvane_records.h.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_records.h"

// ---------------------------------------------------------------------------
// Streaming engine (driver connection). ORVANE_IOCTL_STREAMING_CONTROL takes
// one u32 command, ORVANE_IOCTL_SET_SAMPLE_RATE and _PRESET_SAMPLE_RATE one
// u32 rate in Hz; the states are ORVANE_STREAMING_STATE_....

inline constexpr uint32_t ORVANE_STREAMING_COMMAND_RECOVER = 1;   // in Error or Unsupported; the state is read again
inline constexpr uint32_t ORVANE_STREAMING_COMMAND_INITIALIZE = 2; // Down -> Ready
inline constexpr uint32_t ORVANE_STREAMING_COMMAND_SHUTDOWN = 3;   // Ready -> Down
inline constexpr uint32_t ORVANE_STREAMING_COMMAND_PREPARE = 4;    // Ready -> Prepared
inline constexpr uint32_t ORVANE_STREAMING_COMMAND_START = 5;      // Prepared -> Running
inline constexpr uint32_t ORVANE_STREAMING_COMMAND_STOP = 6;       // Prepared or Running -> Ready

static_assert(sizeof(uint32_t) == ORVANE_REQUEST_STREAMING_CONTROL.input.bytes);
static_assert(sizeof(uint32_t) == ORVANE_REQUEST_SET_SAMPLE_RATE.input.bytes);
static_assert(sizeof(uint32_t) == ORVANE_REQUEST_PRESET_SAMPLE_RATE.input.bytes);

// ---------------------------------------------------------------------------
// Port types of channel names and hardware ports.

inline constexpr uint32_t ORVANE_PORT_TYPE_I2S = 1;
inline constexpr uint32_t ORVANE_PORT_TYPE_DSD = 2;
inline constexpr uint32_t ORVANE_PORT_TYPE_SPDIF = 10;
inline constexpr uint32_t ORVANE_PORT_TYPE_VIRTUAL = 40;

// ---------------------------------------------------------------------------
// Port configuration (output of ORVANE_IOCTL_GET_PORT_CONFIG). Only the channel
// types are interpreted. The record holds room for ORVANE_MAX_PORT_BLOCKS
// blocks; a larger block count from the kernel driver must be limited to it.

inline constexpr size_t ORVANE_PORT_BLOCK_CHANNEL_ARRAYS = 2;
inline constexpr size_t ORVANE_PORT_BLOCK_CHANNELS = 16;  // per array
inline constexpr uint32_t ORVANE_PORT_CHANNEL_TYPE_DSD = 2;

struct ORVANE_PORT_CHANNEL {
  uint32_t channelType;  // ORVANE_PORT_CHANNEL_TYPE_DSD for a DSD channel
  uint32_t unused;
};
static_assert(isOrvaneRecord<ORVANE_PORT_CHANNEL>);
static_assert(sizeof(ORVANE_PORT_CHANNEL) == 8);
static_assert(offsetof(ORVANE_PORT_CHANNEL, channelType) == 0);

struct ORVANE_PORT_BLOCK {
  ORVANE_PORT_CHANNEL channels[ORVANE_PORT_BLOCK_CHANNEL_ARRAYS][ORVANE_PORT_BLOCK_CHANNELS];
  uint8_t unused[136];
};
static_assert(isOrvaneRecord<ORVANE_PORT_BLOCK>);
static_assert(sizeof(ORVANE_PORT_BLOCK) == 392);
static_assert(offsetof(ORVANE_PORT_BLOCK, channels) == 0);
static_assert(offsetof(ORVANE_PORT_BLOCK, channels[1]) == 128);

inline constexpr size_t ORVANE_MAX_PORT_BLOCKS = 10;

struct ORVANE_PORT_CONFIG {
  uint32_t blockCount;  // valid blocks; at most ORVANE_MAX_PORT_BLOCKS fit
  uint32_t unused;
  ORVANE_PORT_BLOCK blocks[ORVANE_MAX_PORT_BLOCKS];
  uint8_t tail[128];  // what remains of the 4056 bytes after ten whole blocks
};
static_assert(isOrvaneRecord<ORVANE_PORT_CONFIG>);
static_assert(sizeof(ORVANE_PORT_CONFIG) == 4056);
static_assert(offsetof(ORVANE_PORT_CONFIG, blockCount) == 0);
static_assert(offsetof(ORVANE_PORT_CONFIG, blocks) == 8);
static_assert(sizeof(ORVANE_PORT_CONFIG) == ORVANE_REQUEST_GET_PORT_CONFIG.output.bytes);

// ---------------------------------------------------------------------------
// Device setup (input of ORVANE_IOCTL_SET_DEVICE_SETUP). The kernel driver's
// meaning of the words is its own; the service always sends these values.

inline constexpr uint32_t ORVANE_DEVICE_SETUP_FIRST_WORD = 1;
inline constexpr uint32_t ORVANE_DEVICE_SETUP_SECOND_WORD = 40;

struct ORVANE_DEVICE_SETUP {
  uint32_t firstWord;   // ORVANE_DEVICE_SETUP_FIRST_WORD
  uint32_t secondWord;  // ORVANE_DEVICE_SETUP_SECOND_WORD
  uint8_t zero[128];
};
static_assert(isOrvaneRecord<ORVANE_DEVICE_SETUP>);
static_assert(sizeof(ORVANE_DEVICE_SETUP) == 136);
static_assert(offsetof(ORVANE_DEVICE_SETUP, firstWord) == 0);
static_assert(offsetof(ORVANE_DEVICE_SETUP, secondWord) == 4);
static_assert(offsetof(ORVANE_DEVICE_SETUP, zero) == 8);
static_assert(sizeof(ORVANE_DEVICE_SETUP) == ORVANE_REQUEST_SET_DEVICE_SETUP.input.bytes);

// ---------------------------------------------------------------------------
// Channel names (input of ORVANE_IOCTL_SET_CHANNEL_NAMES).

inline constexpr uint32_t ORVANE_CHANNEL_SIDE_LEFT = 0;   // also for DSD channels
inline constexpr uint32_t ORVANE_CHANNEL_SIDE_RIGHT = 1;

struct ORVANE_CHANNEL_NAME {
  uint32_t portType;  // ORVANE_PORT_TYPE_...
  uint32_t index;     // pair number (I2S, S/PDIF, virtual) or channel number (DSD)
  uint32_t side;      // ORVANE_CHANNEL_SIDE_...
  char16_t name[ORVANE_CHANNEL_NAME_CHARS];  // at most 41 characters
};
static_assert(isOrvaneRecord<ORVANE_CHANNEL_NAME>);
static_assert(sizeof(ORVANE_CHANNEL_NAME) == 96);
static_assert(offsetof(ORVANE_CHANNEL_NAME, portType) == 0);
static_assert(offsetof(ORVANE_CHANNEL_NAME, index) == 4);
static_assert(offsetof(ORVANE_CHANNEL_NAME, side) == 8);
static_assert(offsetof(ORVANE_CHANNEL_NAME, name) == 12);

inline constexpr size_t ORVANE_MAX_CHANNEL_NAMES = 32;  // per direction

// Entries beyond each count are zero.
struct ORVANE_CHANNEL_NAME_TABLE {
  uint32_t inputCount;
  ORVANE_CHANNEL_NAME inputs[ORVANE_MAX_CHANNEL_NAMES];
  uint32_t outputCount;
  ORVANE_CHANNEL_NAME outputs[ORVANE_MAX_CHANNEL_NAMES];
};
static_assert(isOrvaneRecord<ORVANE_CHANNEL_NAME_TABLE>);
static_assert(sizeof(ORVANE_CHANNEL_NAME_TABLE) == 6152);
static_assert(offsetof(ORVANE_CHANNEL_NAME_TABLE, inputCount) == 0);
static_assert(offsetof(ORVANE_CHANNEL_NAME_TABLE, inputs) == 4);
static_assert(offsetof(ORVANE_CHANNEL_NAME_TABLE, outputCount) == 3076);
static_assert(offsetof(ORVANE_CHANNEL_NAME_TABLE, outputs) == 3080);
static_assert(sizeof(ORVANE_CHANNEL_NAME_TABLE) == ORVANE_REQUEST_SET_CHANNEL_NAMES.input.bytes);

// ---------------------------------------------------------------------------
// WDM sound devices (input of ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES). The kernel
// driver's meaning of the words at offsets 40, 44, 140 and 144 is its own; the
// comments give the values the service sends.

inline constexpr uint32_t ORVANE_SOUND_DEVICE_KIND_LINE = 1;  // I2S channel pairs
inline constexpr uint32_t ORVANE_SOUND_DEVICE_KIND_SPDIF = 10;
inline constexpr uint32_t ORVANE_SOUND_DEVICE_KIND_MIDI = 20;
inline constexpr uint32_t ORVANE_SOUND_DEVICE_KIND_LOOPBACK = 40;

inline constexpr size_t ORVANE_SOUND_DEVICE_MAX_PAIRS = 8;
inline constexpr size_t ORVANE_SOUND_DEVICE_NAME_CHARS = 42;  // including the terminator
inline constexpr int32_t ORVANE_LINE_VOLUME_FLOOR = -8388608;  // -128 dB in 1/65536 dB

struct ORVANE_SOUND_DEVICE {
  uint32_t kind;       // ORVANE_SOUND_DEVICE_KIND_...
  uint32_t pairCount;  // 1 to ORVANE_SOUND_DEVICE_MAX_PAIRS
  uint32_t pairs[ORVANE_SOUND_DEVICE_MAX_PAIRS];  // the first pairCount are used; 0 for S/PDIF, MIDI, loopback
  uint32_t category;       // 0 line, S/PDIF input, loopback; 1 S/PDIF output; 2 MIDI
  uint32_t lineAttribute;  // 3 for line devices, 0 for all others
  char16_t name[ORVANE_SOUND_DEVICE_NAME_CHARS];  // at most 41 characters
  int32_t midiDirection;   // 1 MIDI output, -1 MIDI input, 0 all others
  uint32_t position;       // 0-based position in its list; the sound device index of the volume records
  int32_t volumeFloor;     // ORVANE_LINE_VOLUME_FLOOR for line devices, 0 for all others
  int32_t reserved;        // 0
};
static_assert(isOrvaneRecord<ORVANE_SOUND_DEVICE>);
static_assert(sizeof(ORVANE_SOUND_DEVICE) == 148);
static_assert(offsetof(ORVANE_SOUND_DEVICE, kind) == 0);
static_assert(offsetof(ORVANE_SOUND_DEVICE, pairCount) == 4);
static_assert(offsetof(ORVANE_SOUND_DEVICE, pairs) == 8);
static_assert(offsetof(ORVANE_SOUND_DEVICE, category) == 40);
static_assert(offsetof(ORVANE_SOUND_DEVICE, lineAttribute) == 44);
static_assert(offsetof(ORVANE_SOUND_DEVICE, name) == 48);
static_assert(offsetof(ORVANE_SOUND_DEVICE, midiDirection) == 132);
static_assert(offsetof(ORVANE_SOUND_DEVICE, position) == 136);
static_assert(offsetof(ORVANE_SOUND_DEVICE, volumeFloor) == 140);
static_assert(offsetof(ORVANE_SOUND_DEVICE, reserved) == 144);

inline constexpr size_t ORVANE_MAX_SOUND_DEVICES = 32;  // per direction

// Entries beyond each count are zero.
struct ORVANE_SOUND_DEVICE_TABLE {
  uint32_t recordingCount;
  ORVANE_SOUND_DEVICE recording[ORVANE_MAX_SOUND_DEVICES];
  uint32_t playbackCount;
  ORVANE_SOUND_DEVICE playback[ORVANE_MAX_SOUND_DEVICES];
};
static_assert(isOrvaneRecord<ORVANE_SOUND_DEVICE_TABLE>);
static_assert(sizeof(ORVANE_SOUND_DEVICE_TABLE) == 9480);
static_assert(offsetof(ORVANE_SOUND_DEVICE_TABLE, recordingCount) == 0);
static_assert(offsetof(ORVANE_SOUND_DEVICE_TABLE, recording) == 4);
static_assert(offsetof(ORVANE_SOUND_DEVICE_TABLE, playbackCount) == 4740);
static_assert(offsetof(ORVANE_SOUND_DEVICE_TABLE, playback) == 4744);
static_assert(sizeof(ORVANE_SOUND_DEVICE_TABLE) == ORVANE_REQUEST_SET_SOUND_DEVICE_NAMES.input.bytes);

// ---------------------------------------------------------------------------
// Sound device volume, the "mixer strip": output of ORVANE_IOCTL_GET_MIXER_STRIP
// (direction and index are its input), input of ORVANE_IOCTL_SET_MIXER_STRIP.

inline constexpr size_t ORVANE_SOUND_DEVICE_MAX_CHANNELS = 16;
inline constexpr int32_t ORVANE_VOLUME_SILENCE = INT32_MIN;  // 0x80000000
inline constexpr uint32_t ORVANE_VOLUME_MUTE = 0x01;

struct ORVANE_SOUND_DEVICE_VOLUME {
  uint32_t direction;         // ORVANE_SOUND_DEVICE_PLAYBACK (the only one in use) or _RECORDING
  uint32_t soundDeviceIndex;  // the position of its ORVANE_SOUND_DEVICE
  int32_t volume[ORVANE_SOUND_DEVICE_MAX_CHANNELS];  // 1/65536 dB, or ORVANE_VOLUME_SILENCE
  uint32_t mute[ORVANE_SOUND_DEVICE_MAX_CHANNELS];   // ORVANE_VOLUME_MUTE
};
static_assert(isOrvaneRecord<ORVANE_SOUND_DEVICE_VOLUME>);
static_assert(sizeof(ORVANE_SOUND_DEVICE_VOLUME) == 136);
static_assert(offsetof(ORVANE_SOUND_DEVICE_VOLUME, direction) == 0);
static_assert(offsetof(ORVANE_SOUND_DEVICE_VOLUME, soundDeviceIndex) == 4);
static_assert(offsetof(ORVANE_SOUND_DEVICE_VOLUME, volume) == 8);
static_assert(offsetof(ORVANE_SOUND_DEVICE_VOLUME, mute) == 72);
static_assert(sizeof(ORVANE_SOUND_DEVICE_VOLUME) == ORVANE_REQUEST_GET_MIXER_STRIP.output.bytes);
static_assert(sizeof(ORVANE_SOUND_DEVICE_VOLUME) == ORVANE_REQUEST_SET_MIXER_STRIP.input.bytes);

// ---------------------------------------------------------------------------
// Port state and port parameter (inputs of ORVANE_IOCTL_SET_PORT_STATE and
// ORVANE_IOCTL_SET_PORT_PARAMETER): two words each. The service sends the
// state (0, 0) on attach and before going from Prepared or Running to Ready,
// (0, 1) before Running, and the parameter (0, 8) on attach.

struct ORVANE_PORT_STATE {
  uint32_t port;
  uint32_t state;
};
static_assert(isOrvaneRecord<ORVANE_PORT_STATE>);
static_assert(sizeof(ORVANE_PORT_STATE) == 8);
static_assert(offsetof(ORVANE_PORT_STATE, port) == 0);
static_assert(offsetof(ORVANE_PORT_STATE, state) == 4);
static_assert(sizeof(ORVANE_PORT_STATE) == ORVANE_REQUEST_SET_PORT_STATE.input.bytes);

struct ORVANE_PORT_PARAMETER {
  uint32_t port;
  uint32_t value;
};
static_assert(isOrvaneRecord<ORVANE_PORT_PARAMETER>);
static_assert(sizeof(ORVANE_PORT_PARAMETER) == 8);
static_assert(offsetof(ORVANE_PORT_PARAMETER, port) == 0);
static_assert(offsetof(ORVANE_PORT_PARAMETER, value) == 4);
static_assert(sizeof(ORVANE_PORT_PARAMETER) == ORVANE_REQUEST_SET_PORT_PARAMETER.input.bytes);

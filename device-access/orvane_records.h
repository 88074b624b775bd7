#pragma once
// Records that the programs exchange with the USB audio kernel driver and with
// one another through it: driver and device information, streaming status,
// sample rates, channels, event handles, mixer entries and messages.
//
// Every record is a fixed-size little-endian layout that is copied to and from
// raw request buffers as it is. Handles and addresses occupy 64-bit slots;
// texts are zero-terminated 16-bit strings of fixed capacity.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "device-access/orvane_ioctl.h"

// A record must be copyable as raw bytes and laid out as declared.
template <typename Record>
inline constexpr bool isOrvaneRecord = std::is_trivially_copyable_v<Record> && std::is_standard_layout_v<Record>;

// ---------------------------------------------------------------------------
// Device identifier: names a connected device to the kernel driver and to the
// service. Input of ORVANE_IOCTL_ATTACH_DEVICE and payload of the device
// notifications.

struct ORVANE_DEVICE_ID {
  uint32_t first;
  uint32_t second;

  bool operator==(const ORVANE_DEVICE_ID&) const = default;
};
static_assert(isOrvaneRecord<ORVANE_DEVICE_ID>);
static_assert(sizeof(ORVANE_DEVICE_ID) == 8);
static_assert(offsetof(ORVANE_DEVICE_ID, first) == 0);
static_assert(offsetof(ORVANE_DEVICE_ID, second) == 4);
static_assert(sizeof(ORVANE_DEVICE_ID) == ORVANE_REQUEST_ATTACH_DEVICE.input.bytes);

// ---------------------------------------------------------------------------
// Driver information (output of ORVANE_IOCTL_GET_DRIVER_INFO).

inline constexpr uint32_t ORVANE_INTERFACE_VERSION_MAJOR = 2;  // the only one the library accepts
inline constexpr uint8_t ORVANE_DRIVER_FLAG_DEBUG_BUILD = 0x01;

struct ORVANE_DRIVER_INFO {
  uint32_t interfaceVersionMajor;
  uint32_t interfaceVersionMinor;
  uint32_t driverVersionMajor;
  uint32_t driverVersionMinor;
  uint32_t driverVersionBuild;
  uint8_t flags;  // ORVANE_DRIVER_FLAG_...; other bits reserved
  uint8_t reserved[3];
};
static_assert(isOrvaneRecord<ORVANE_DRIVER_INFO>);
static_assert(sizeof(ORVANE_DRIVER_INFO) == 24);
static_assert(offsetof(ORVANE_DRIVER_INFO, interfaceVersionMajor) == 0);
static_assert(offsetof(ORVANE_DRIVER_INFO, interfaceVersionMinor) == 4);
static_assert(offsetof(ORVANE_DRIVER_INFO, driverVersionMajor) == 8);
static_assert(offsetof(ORVANE_DRIVER_INFO, driverVersionMinor) == 12);
static_assert(offsetof(ORVANE_DRIVER_INFO, driverVersionBuild) == 16);
static_assert(offsetof(ORVANE_DRIVER_INFO, flags) == 20);
static_assert(offsetof(ORVANE_DRIVER_INFO, reserved) == 21);
static_assert(sizeof(ORVANE_DRIVER_INFO) == ORVANE_REQUEST_GET_DRIVER_INFO.output.bytes);

// ---------------------------------------------------------------------------
// Device description and the device list (output of ORVANE_IOCTL_GET_DEVICE_LIST).

inline constexpr size_t ORVANE_SERIAL_NUMBER_CHARS = 20;  // including the terminator
inline constexpr size_t ORVANE_DEVICE_NAME_CHARS = 42;    // including the terminator

// Bit 0 of the three flag bytes of ORVANE_DEVICE_INFO.
inline constexpr uint8_t ORVANE_DEVICE_HIGH_SPEED_PORT = 0x01;  // without it the device cannot stream
inline constexpr uint8_t ORVANE_DEVICE_ECHO_PLUGIN = 0x01;
inline constexpr uint8_t ORVANE_DEVICE_STREAMING_SELECTED = 0x01;

struct ORVANE_DEVICE_INFO {
  ORVANE_DEVICE_ID deviceId;
  uint16_t vendorId;   // USB vendor ID
  uint16_t productId;  // USB product ID
  char16_t serialNumber[ORVANE_SERIAL_NUMBER_CHARS];
  char16_t deviceName[ORVANE_DEVICE_NAME_CHARS];  // shown in channel lists
  uint8_t highSpeedPort;                           // ORVANE_DEVICE_HIGH_SPEED_PORT
  uint8_t echoPlugin;                              // ORVANE_DEVICE_ECHO_PLUGIN
  uint8_t streamingSelected;                       // ORVANE_DEVICE_STREAMING_SELECTED
  uint8_t reserved;
};
static_assert(isOrvaneRecord<ORVANE_DEVICE_INFO>);
static_assert(sizeof(ORVANE_DEVICE_INFO) == 140);
static_assert(offsetof(ORVANE_DEVICE_INFO, deviceId) == 0);
static_assert(offsetof(ORVANE_DEVICE_INFO, vendorId) == 8);
static_assert(offsetof(ORVANE_DEVICE_INFO, productId) == 10);
static_assert(offsetof(ORVANE_DEVICE_INFO, serialNumber) == 12);
static_assert(offsetof(ORVANE_DEVICE_INFO, deviceName) == 52);
static_assert(offsetof(ORVANE_DEVICE_INFO, highSpeedPort) == 136);
static_assert(offsetof(ORVANE_DEVICE_INFO, echoPlugin) == 137);
static_assert(offsetof(ORVANE_DEVICE_INFO, streamingSelected) == 138);
static_assert(offsetof(ORVANE_DEVICE_INFO, reserved) == 139);

inline constexpr size_t ORVANE_MAX_DEVICES = 8;

struct ORVANE_DEVICE_LIST {
  uint32_t count;  // 0 to ORVANE_MAX_DEVICES; the first count entries are valid
  ORVANE_DEVICE_INFO devices[ORVANE_MAX_DEVICES];
};
static_assert(isOrvaneRecord<ORVANE_DEVICE_LIST>);
static_assert(sizeof(ORVANE_DEVICE_LIST) == 1124);
static_assert(offsetof(ORVANE_DEVICE_LIST, count) == 0);
static_assert(offsetof(ORVANE_DEVICE_LIST, devices) == 4);
static_assert(sizeof(ORVANE_DEVICE_LIST) == ORVANE_REQUEST_GET_DEVICE_LIST.output.bytes);

// ---------------------------------------------------------------------------
// Streaming status (output of ORVANE_IOCTL_GET_STREAMING_STATUS).

inline constexpr uint32_t ORVANE_STREAMING_STATE_UNDEFINED = 0;
inline constexpr uint32_t ORVANE_STREAMING_STATE_DOWN = 1;
inline constexpr uint32_t ORVANE_STREAMING_STATE_READY = 2;
inline constexpr uint32_t ORVANE_STREAMING_STATE_PREPARED = 3;
inline constexpr uint32_t ORVANE_STREAMING_STATE_RUNNING = 4;
inline constexpr uint32_t ORVANE_STREAMING_STATE_ERROR = 5;
inline constexpr uint32_t ORVANE_STREAMING_STATE_UNSUPPORTED = 6;  // the device is not on a high-speed port

inline constexpr uint32_t ORVANE_STREAMING_MODE_SINGLE_DEVICE = 0;  // the selected device streams
inline constexpr uint32_t ORVANE_STREAMING_MODE_ALL_DEVICES = 1;    // their sample clocks must be synchronised

struct ORVANE_STREAMING_STATUS {
  uint32_t state;       // ORVANE_STREAMING_STATE_...
  uint32_t mode;        // ORVANE_STREAMING_MODE_...
  uint32_t sampleRate;  // current rate in Hz
  uint32_t reserved1;
  // Either count non-zero means the streams are in use.
  uint32_t firstUsageCount;
  uint32_t secondUsageCount;
  uint32_t reserved2[3];
};
static_assert(isOrvaneRecord<ORVANE_STREAMING_STATUS>);
static_assert(sizeof(ORVANE_STREAMING_STATUS) == 36);
static_assert(offsetof(ORVANE_STREAMING_STATUS, state) == 0);
static_assert(offsetof(ORVANE_STREAMING_STATUS, mode) == 4);
static_assert(offsetof(ORVANE_STREAMING_STATUS, sampleRate) == 8);
static_assert(offsetof(ORVANE_STREAMING_STATUS, reserved1) == 12);
static_assert(offsetof(ORVANE_STREAMING_STATUS, firstUsageCount) == 16);
static_assert(offsetof(ORVANE_STREAMING_STATUS, secondUsageCount) == 20);
static_assert(offsetof(ORVANE_STREAMING_STATUS, reserved2) == 24);
static_assert(sizeof(ORVANE_STREAMING_STATUS) == ORVANE_REQUEST_GET_STREAMING_STATUS.output.bytes);

// ---------------------------------------------------------------------------
// Sample rates (output of ORVANE_IOCTL_GET_SAMPLE_RATES; also the start of the
// ASIO settings record).

inline constexpr size_t ORVANE_MAX_SAMPLE_RATES = 10;
inline constexpr uint32_t ORVANE_SAMPLE_RATE_DSD64 = 2822400;   // DSD rates as they appear in the list
inline constexpr uint32_t ORVANE_SAMPLE_RATE_DSD128 = 5644800;

struct ORVANE_SAMPLE_RATES {
  uint32_t currentRate;  // Hz
  uint32_t rateCount;    // 0 to ORVANE_MAX_SAMPLE_RATES
  uint32_t rates[ORVANE_MAX_SAMPLE_RATES];  // Hz, ascending; the first rateCount are valid
};
static_assert(isOrvaneRecord<ORVANE_SAMPLE_RATES>);
static_assert(sizeof(ORVANE_SAMPLE_RATES) == 48);
static_assert(offsetof(ORVANE_SAMPLE_RATES, currentRate) == 0);
static_assert(offsetof(ORVANE_SAMPLE_RATES, rateCount) == 4);
static_assert(offsetof(ORVANE_SAMPLE_RATES, rates) == 8);
static_assert(sizeof(ORVANE_SAMPLE_RATES) == ORVANE_REQUEST_GET_SAMPLE_RATES.output.bytes);

// ---------------------------------------------------------------------------
// Channels. A channel is named to the kernel driver by a 64-bit identifier
// (input of ORVANE_IOCTL_GET_CHANNEL_INFO and the ASIO channel requests).

inline constexpr size_t ORVANE_MAX_CHANNELS = 96;

// Output of ORVANE_IOCTL_GET_INPUT_CHANNELS and ORVANE_IOCTL_GET_OUTPUT_CHANNELS.
// The identifiers are stored unaligned: read them by value, never through a
// pointer or reference to an element.
#pragma pack(push, 1)
struct ORVANE_CHANNEL_LIST {
  uint32_t count;  // 0 to ORVANE_MAX_CHANNELS; the first count identifiers are valid
  uint64_t channelIds[ORVANE_MAX_CHANNELS];
};
#pragma pack(pop)
static_assert(isOrvaneRecord<ORVANE_CHANNEL_LIST>);
static_assert(sizeof(ORVANE_CHANNEL_LIST) == 772);
static_assert(offsetof(ORVANE_CHANNEL_LIST, count) == 0);
static_assert(offsetof(ORVANE_CHANNEL_LIST, channelIds) == 4);
static_assert(sizeof(ORVANE_CHANNEL_LIST) == ORVANE_REQUEST_GET_INPUT_CHANNELS.output.bytes);
static_assert(sizeof(ORVANE_CHANNEL_LIST) == ORVANE_REQUEST_GET_OUTPUT_CHANNELS.output.bytes);

// Output of ORVANE_IOCTL_ASIO_GET_CHANNELS: both lists back to back.
struct ORVANE_CHANNEL_LIST_PAIR {
  ORVANE_CHANNEL_LIST inputs;
  ORVANE_CHANNEL_LIST outputs;
};
static_assert(isOrvaneRecord<ORVANE_CHANNEL_LIST_PAIR>);
static_assert(sizeof(ORVANE_CHANNEL_LIST_PAIR) == 1544);
static_assert(offsetof(ORVANE_CHANNEL_LIST_PAIR, inputs) == 0);
static_assert(offsetof(ORVANE_CHANNEL_LIST_PAIR, outputs) == 772);
static_assert(sizeof(ORVANE_CHANNEL_LIST_PAIR) == ORVANE_REQUEST_ASIO_GET_CHANNELS.output.bytes);

inline constexpr uint32_t ORVANE_CHANNEL_DIRECTION_INPUT = 1;
inline constexpr uint32_t ORVANE_CHANNEL_DIRECTION_OUTPUT = 2;
inline constexpr uint32_t ORVANE_SAMPLE_FORMAT_DSD = 2;  // any other value is PCM

inline constexpr size_t ORVANE_CHANNEL_NAME_CHARS = 42;  // including the terminator

// Output of ORVANE_IOCTL_GET_CHANNEL_INFO and ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO.
// 108 bytes is not a multiple of 8: packed to 4 so that the 64-bit identifier
// does not pad the record.
#pragma pack(push, 4)
struct ORVANE_CHANNEL_INFO {
  uint64_t channelId;
  ORVANE_DEVICE_ID deviceId;  // the device that owns the channel
  uint32_t direction;         // ORVANE_CHANNEL_DIRECTION_...
  uint32_t sampleFormat;      // ORVANE_SAMPLE_FORMAT_DSD, anything else PCM
  char16_t name[ORVANE_CHANNEL_NAME_CHARS];
};
#pragma pack(pop)
static_assert(isOrvaneRecord<ORVANE_CHANNEL_INFO>);
static_assert(sizeof(ORVANE_CHANNEL_INFO) == 108);
static_assert(offsetof(ORVANE_CHANNEL_INFO, channelId) == 0);
static_assert(offsetof(ORVANE_CHANNEL_INFO, deviceId) == 8);
static_assert(offsetof(ORVANE_CHANNEL_INFO, direction) == 16);
static_assert(offsetof(ORVANE_CHANNEL_INFO, sampleFormat) == 20);
static_assert(offsetof(ORVANE_CHANNEL_INFO, name) == 24);
static_assert(sizeof(ORVANE_CHANNEL_INFO) == ORVANE_REQUEST_GET_CHANNEL_INFO.output.bytes);
static_assert(sizeof(ORVANE_CHANNEL_INFO) == ORVANE_REQUEST_ASIO_GET_CHANNEL_INFO.output.bytes);
static_assert(sizeof(uint64_t) == ORVANE_REQUEST_GET_CHANNEL_INFO.input.bytes);

// ---------------------------------------------------------------------------
// Event handles (input of ORVANE_IOCTL_SET_EVENTS). Each slot holds a handle
// zero-extended to 64 bits, or 0; two zero slots withdraw both events.

struct ORVANE_EVENT_HANDLES {
  uint64_t messageEvent;
  uint64_t notificationEvent;
};
static_assert(isOrvaneRecord<ORVANE_EVENT_HANDLES>);
static_assert(sizeof(ORVANE_EVENT_HANDLES) == 16);
static_assert(offsetof(ORVANE_EVENT_HANDLES, messageEvent) == 0);
static_assert(offsetof(ORVANE_EVENT_HANDLES, notificationEvent) == 8);
static_assert(sizeof(ORVANE_EVENT_HANDLES) == ORVANE_REQUEST_SET_EVENTS.input.bytes);

// ---------------------------------------------------------------------------
// Mixer entries. The pin identifier is an entry of ORVANE_IOCTL_GET_MIXER_PINS;
// the gain and crosspoint entries travel n at a time in one buffer that is both
// input (the caller's pin identifiers) and output.

struct ORVANE_MIXER_PIN {
  uint8_t portType;
  uint8_t channel;
  uint8_t reserved[2];

  bool operator==(const ORVANE_MIXER_PIN&) const = default;
};
static_assert(isOrvaneRecord<ORVANE_MIXER_PIN>);
static_assert(sizeof(ORVANE_MIXER_PIN) == 4);
static_assert(offsetof(ORVANE_MIXER_PIN, portType) == 0);
static_assert(offsetof(ORVANE_MIXER_PIN, channel) == 1);
static_assert(offsetof(ORVANE_MIXER_PIN, reserved) == 2);
static_assert(sizeof(ORVANE_MIXER_PIN) == ORVANE_REQUEST_GET_MIXER_PINS.output.bytes);

inline constexpr uint8_t ORVANE_MIXER_GAIN_MUTE = 0x01;

struct ORVANE_MIXER_GAIN {
  ORVANE_MIXER_PIN pin;  // selector, filled by the caller
  uint8_t zero;          // 0 in every entry the programs build
  uint8_t flags;         // ORVANE_MIXER_GAIN_MUTE
  int16_t gain;          // hundredths of a dB
};
static_assert(isOrvaneRecord<ORVANE_MIXER_GAIN>);
static_assert(sizeof(ORVANE_MIXER_GAIN) == 8);
static_assert(offsetof(ORVANE_MIXER_GAIN, pin) == 0);
static_assert(offsetof(ORVANE_MIXER_GAIN, zero) == 4);
static_assert(offsetof(ORVANE_MIXER_GAIN, flags) == 5);
static_assert(offsetof(ORVANE_MIXER_GAIN, gain) == 6);
static_assert(sizeof(ORVANE_MIXER_GAIN) == ORVANE_REQUEST_GET_MIXER_GAINS.input.bytes);
static_assert(sizeof(ORVANE_MIXER_GAIN) == ORVANE_REQUEST_SET_MIXER_GAINS.input.bytes);

inline constexpr uint8_t ORVANE_MIXER_CROSSPOINT_ON = 0x01;

struct ORVANE_MIXER_CROSSPOINT {
  ORVANE_MIXER_PIN outputPin;  // one of the mixer's outputs (pin selector 0)
  ORVANE_MIXER_PIN inputPin;   // one of the mixer's inputs (pin selector 1 or 2)
  int16_t gain;                // hundredths of a dB
  uint8_t flags;               // ORVANE_MIXER_CROSSPOINT_ON
  uint8_t reserved;
};
static_assert(isOrvaneRecord<ORVANE_MIXER_CROSSPOINT>);
static_assert(sizeof(ORVANE_MIXER_CROSSPOINT) == 12);
static_assert(offsetof(ORVANE_MIXER_CROSSPOINT, outputPin) == 0);
static_assert(offsetof(ORVANE_MIXER_CROSSPOINT, inputPin) == 4);
static_assert(offsetof(ORVANE_MIXER_CROSSPOINT, gain) == 8);
static_assert(offsetof(ORVANE_MIXER_CROSSPOINT, flags) == 10);
static_assert(offsetof(ORVANE_MIXER_CROSSPOINT, reserved) == 11);
static_assert(sizeof(ORVANE_MIXER_CROSSPOINT) == ORVANE_REQUEST_GET_MIXER_CROSSPOINTS.input.bytes);
static_assert(sizeof(ORVANE_MIXER_CROSSPOINT) == ORVANE_REQUEST_SET_MIXER_CROSSPOINTS.input.bytes);

// ---------------------------------------------------------------------------
// Client registration (input of ORVANE_IOCTL_REGISTER_CLIENT, one u32).

inline constexpr uint32_t ORVANE_CLIENT_TYPE_SERVER = 0;
inline constexpr uint32_t ORVANE_CLIENT_TYPE_ASIO = 1;
inline constexpr uint32_t ORVANE_CLIENT_TYPE_PANEL = 2;
inline constexpr uint32_t ORVANE_CLIENT_TYPE_VIEW = 3;        // carries no traffic
inline constexpr uint32_t ORVANE_CLIENT_TYPE_MIXER_VIEW = 4;  // carries no traffic
static_assert(sizeof(uint32_t) == ORVANE_REQUEST_REGISTER_CLIENT.input.bytes);

// ---------------------------------------------------------------------------
// Messages between the programs and the service, carried by the kernel driver.

inline constexpr uint32_t ORVANE_MSG_NONE = 0;  // a cleared record
inline constexpr uint32_t ORVANE_MSG_REQUEST = 1;
inline constexpr uint32_t ORVANE_MSG_RESPONSE = 2;
inline constexpr uint32_t ORVANE_MSG_NOTIFICATION = 3;

// Requests to the service.
inline constexpr uint32_t ORVANE_MSG_CODE_SET_SAMPLE_RATE = 1001;                  // u32 rate in Hz
inline constexpr uint32_t ORVANE_MSG_CODE_SET_BUFFER_SIZES = 1002;                 // ORVANE_BUFFER_SETTINGS
inline constexpr uint32_t ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE = 1003;          // ORVANE_STREAMING_DEVICE_SELECTION
inline constexpr uint32_t ORVANE_MSG_CODE_SET_DSD_MODE = 1004;                     // u8 ORVANE_DSD_MODE_...
inline constexpr uint32_t ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION = 11001;  // ORVANE_SOUND_DEVICE_CONFIGURATION
inline constexpr uint32_t ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION = 11002;  // ORVANE_SOUND_DEVICE_CONFIGURATION
// Responses from the service.
inline constexpr uint32_t ORVANE_MSG_CODE_RESULT = 2001;  // no payload; the result field carries the outcome
inline constexpr uint32_t ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION = 12001;  // answer to 11002
// Notifications of the kernel driver.
inline constexpr uint32_t ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED = 3001;
inline constexpr uint32_t ORVANE_MSG_CODE_STREAMING_WANTED = 3003;          // the service brings streaming up
inline constexpr uint32_t ORVANE_MSG_CODE_STREAMING_NOT_WANTED = 3004;      // the service stops it if unused
inline constexpr uint32_t ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED = 3005;
inline constexpr uint32_t ORVANE_MSG_CODE_STREAMING_WANTED_AGAIN = 3006;    // handled as 3003
inline constexpr uint32_t ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED = 3015;      // ORVANE_DEVICE_ID; as 3003
inline constexpr uint32_t ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED = 3016;  // ORVANE_DEVICE_ID; as 3004
inline constexpr uint32_t ORVANE_MSG_CODE_DEVICE_LIST_QUERY = 3020;         // answered by the service with 3030
inline constexpr uint32_t ORVANE_MSG_CODE_IGNORED = 3021;                   // the service ignores it
inline constexpr uint32_t ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED = 3040;   // ORVANE_DEVICE_ID
inline constexpr uint32_t ORVANE_MSG_CODE_MIXER_LAYOUT_CHANGED = 3050;      // ORVANE_DEVICE_ID
inline constexpr uint32_t ORVANE_MSG_CODE_MIXER_GAINS_CHANGED = 3051;       // ORVANE_DEVICE_ID
inline constexpr uint32_t ORVANE_MSG_CODE_MIXER_CROSSPOINTS_CHANGED = 3052; // ORVANE_DEVICE_ID
inline constexpr uint32_t ORVANE_MSG_CODE_VOLUME_CHANGED = 3060;            // ORVANE_VOLUME_CHANGE
// Notifications of the service to every registered connection.
inline constexpr uint32_t ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED = 3010;
inline constexpr uint32_t ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED = 3011;  // sent after 3010
inline constexpr uint32_t ORVANE_MSG_CODE_DEVICE_LIST_CHANGED = 3030;

inline constexpr uint32_t ORVANE_MESSAGE_HEADER_SIZE = 32;
inline constexpr uint32_t ORVANE_MESSAGE_MAX_PAYLOAD = 512;

struct ORVANE_MESSAGE {
  uint32_t headerSize;     // always ORVANE_MESSAGE_HEADER_SIZE
  uint32_t payloadLength;  // 0 to ORVANE_MESSAGE_MAX_PAYLOAD
  uint32_t kind;           // ORVANE_MSG_NONE, _REQUEST, _RESPONSE or _NOTIFICATION
  uint32_t code;           // ORVANE_MSG_CODE_...
  uint32_t sequence;       // set by the requesting client, copied into the response; 0 in notifications
  // 0 when a client builds a request; copied unchanged from the request into the response.
  uint32_t routingFirst;
  uint32_t routingSecond;
  uint32_t result;  // status of a response
  uint8_t payload[ORVANE_MESSAGE_MAX_PAYLOAD];
};
static_assert(isOrvaneRecord<ORVANE_MESSAGE>);
static_assert(sizeof(ORVANE_MESSAGE) == 544);
static_assert(offsetof(ORVANE_MESSAGE, headerSize) == 0);
static_assert(offsetof(ORVANE_MESSAGE, payloadLength) == 4);
static_assert(offsetof(ORVANE_MESSAGE, kind) == 8);
static_assert(offsetof(ORVANE_MESSAGE, code) == 12);
static_assert(offsetof(ORVANE_MESSAGE, sequence) == 16);
static_assert(offsetof(ORVANE_MESSAGE, routingFirst) == 20);
static_assert(offsetof(ORVANE_MESSAGE, routingSecond) == 24);
static_assert(offsetof(ORVANE_MESSAGE, result) == 28);
static_assert(offsetof(ORVANE_MESSAGE, payload) == ORVANE_MESSAGE_HEADER_SIZE);
static_assert(ORVANE_MESSAGE_HEADER_SIZE == ORVANE_REQUEST_SEND_MESSAGE.input.bytes);
static_assert(ORVANE_MESSAGE_MAX_PAYLOAD == ORVANE_REQUEST_MAX_PAYLOAD);
static_assert(sizeof(ORVANE_MESSAGE) == ORVANE_REQUEST_READ_MESSAGE.output.bytes);
static_assert(sizeof(ORVANE_MESSAGE) == ORVANE_REQUEST_READ_NOTIFICATION.output.bytes);

// ---------------------------------------------------------------------------
// Message payloads.

// Request 1002, passed on unchanged to ORVANE_IOCTL_SET_BUFFER_SIZES.
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_MINIMUM = 0;
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_EXTRA_SMALL = 1;
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_SMALL = 2;
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_LARGE = 3;
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_EXTRA_LARGE = 4;
inline constexpr uint32_t ORVANE_STREAMING_BUFFER_SAFE = 5;

inline constexpr uint32_t ORVANE_ASIO_BUFFER_MINIMUM = 0;
inline constexpr uint32_t ORVANE_ASIO_BUFFER_SMALL = 1;
inline constexpr uint32_t ORVANE_ASIO_BUFFER_LARGE = 2;
inline constexpr uint32_t ORVANE_ASIO_BUFFER_MAXIMUM = 3;

struct ORVANE_BUFFER_SETTINGS {
  uint32_t streamingBufferSizeClass;  // ORVANE_STREAMING_BUFFER_...
  uint32_t asioBufferSizeClass;       // ORVANE_ASIO_BUFFER_...
  uint32_t thirdSetting;              // sent back as it was read
};
static_assert(isOrvaneRecord<ORVANE_BUFFER_SETTINGS>);
static_assert(sizeof(ORVANE_BUFFER_SETTINGS) == 12);
static_assert(offsetof(ORVANE_BUFFER_SETTINGS, streamingBufferSizeClass) == 0);
static_assert(offsetof(ORVANE_BUFFER_SETTINGS, asioBufferSizeClass) == 4);
static_assert(offsetof(ORVANE_BUFFER_SETTINGS, thirdSetting) == 8);
static_assert(sizeof(ORVANE_BUFFER_SETTINGS) == ORVANE_REQUEST_SET_BUFFER_SIZES.input.bytes);

// Request 1003, passed on unchanged to ORVANE_IOCTL_SET_STREAMING_DEVICE.
struct ORVANE_STREAMING_DEVICE_SELECTION {
  ORVANE_DEVICE_ID deviceId;  // 0, 0 with ORVANE_STREAMING_MODE_ALL_DEVICES
  uint32_t mode;              // ORVANE_STREAMING_MODE_...
};
static_assert(isOrvaneRecord<ORVANE_STREAMING_DEVICE_SELECTION>);
static_assert(sizeof(ORVANE_STREAMING_DEVICE_SELECTION) == 12);
static_assert(offsetof(ORVANE_STREAMING_DEVICE_SELECTION, deviceId) == 0);
static_assert(offsetof(ORVANE_STREAMING_DEVICE_SELECTION, mode) == 8);
static_assert(sizeof(ORVANE_STREAMING_DEVICE_SELECTION) == ORVANE_REQUEST_SET_STREAMING_DEVICE.input.bytes);

// Request 1004: one byte.
inline constexpr uint8_t ORVANE_DSD_MODE_PCM = 0;
inline constexpr uint8_t ORVANE_DSD_MODE_DSD = 1;

// Requests 11001 and 11002 and response 12001. In 11002 the two configuration
// words are sent as 0.
inline constexpr uint32_t ORVANE_MAX_PLAYBACK_CONFIGURATION = 5;
inline constexpr uint32_t ORVANE_MAX_RECORDING_CONFIGURATION = 2;

struct ORVANE_SOUND_DEVICE_CONFIGURATION {
  ORVANE_DEVICE_ID deviceId;
  uint32_t playbackConfiguration;   // 0 to ORVANE_MAX_PLAYBACK_CONFIGURATION
  uint32_t recordingConfiguration;  // 0 to ORVANE_MAX_RECORDING_CONFIGURATION
};
static_assert(isOrvaneRecord<ORVANE_SOUND_DEVICE_CONFIGURATION>);
static_assert(sizeof(ORVANE_SOUND_DEVICE_CONFIGURATION) == 16);
static_assert(offsetof(ORVANE_SOUND_DEVICE_CONFIGURATION, deviceId) == 0);
static_assert(offsetof(ORVANE_SOUND_DEVICE_CONFIGURATION, playbackConfiguration) == 8);
static_assert(offsetof(ORVANE_SOUND_DEVICE_CONFIGURATION, recordingConfiguration) == 12);

// Notification 3060: a Windows volume setting of one of a device's sound
// devices changed.
inline constexpr uint32_t ORVANE_SOUND_DEVICE_RECORDING = 1;
inline constexpr uint32_t ORVANE_SOUND_DEVICE_PLAYBACK = 2;

struct ORVANE_VOLUME_CHANGE {
  ORVANE_DEVICE_ID deviceId;
  uint32_t direction;         // ORVANE_SOUND_DEVICE_RECORDING or _PLAYBACK
  uint32_t soundDeviceIndex;  // position of the sound device in its list
};
static_assert(isOrvaneRecord<ORVANE_VOLUME_CHANGE>);
static_assert(sizeof(ORVANE_VOLUME_CHANGE) == 16);
static_assert(offsetof(ORVANE_VOLUME_CHANGE, deviceId) == 0);
static_assert(offsetof(ORVANE_VOLUME_CHANGE, direction) == 8);
static_assert(offsetof(ORVANE_VOLUME_CHANGE, soundDeviceIndex) == 12);

#pragma once
// Device request codes of the USB audio kernel driver and the buffer sizes of
// each request. Every code is buffered, unrestricted and of device type 0x8088:
// the device type shifted left by 16 plus 4 × the function number.

#include <cstddef>
#include <cstdint>
#include <iterator>

inline constexpr uint32_t ORVANE_DEVICE_TYPE = 0x8088;

constexpr uint32_t orvaneIoctlCode(uint32_t function) { return (ORVANE_DEVICE_TYPE << 16) + 4 * function; }

inline constexpr uint32_t ORVANE_IOCTL_GET_DRIVER_INFO = orvaneIoctlCode(0x801);
inline constexpr uint32_t ORVANE_IOCTL_GET_TRACE_MASK = orvaneIoctlCode(0x802);
inline constexpr uint32_t ORVANE_IOCTL_SET_TRACE_MASK = orvaneIoctlCode(0x803);
inline constexpr uint32_t ORVANE_IOCTL_SAVE_TRACE_MASK = orvaneIoctlCode(0x804);
inline constexpr uint32_t ORVANE_IOCTL_SEND_MESSAGE = orvaneIoctlCode(0x810);
inline constexpr uint32_t ORVANE_IOCTL_READ_MESSAGE = orvaneIoctlCode(0x811);
inline constexpr uint32_t ORVANE_IOCTL_READ_NOTIFICATION = orvaneIoctlCode(0x812);
inline constexpr uint32_t ORVANE_IOCTL_SET_EVENTS = orvaneIoctlCode(0x816);
inline constexpr uint32_t ORVANE_IOCTL_REGISTER_CLIENT = orvaneIoctlCode(0x819);
inline constexpr uint32_t ORVANE_IOCTL_GET_DEVICE_LIST = orvaneIoctlCode(0x820);
inline constexpr uint32_t ORVANE_IOCTL_ATTACH_DEVICE = orvaneIoctlCode(0x821);
inline constexpr uint32_t ORVANE_IOCTL_GET_INPUT_CHANNELS = orvaneIoctlCode(0x824);
inline constexpr uint32_t ORVANE_IOCTL_GET_OUTPUT_CHANNELS = orvaneIoctlCode(0x825);
inline constexpr uint32_t ORVANE_IOCTL_GET_CHANNEL_INFO = orvaneIoctlCode(0x826);
inline constexpr uint32_t ORVANE_IOCTL_GET_SAMPLE_RATES = orvaneIoctlCode(0x830);
inline constexpr uint32_t ORVANE_IOCTL_GET_BUFFER_SIZES = orvaneIoctlCode(0x831);
inline constexpr uint32_t ORVANE_IOCTL_GET_STREAMING_STATUS = orvaneIoctlCode(0x834);
inline constexpr uint32_t ORVANE_IOCTL_GET_STATUS_COUNTERS = orvaneIoctlCode(0x835);
inline constexpr uint32_t ORVANE_IOCTL_STREAMING_CONTROL = orvaneIoctlCode(0x840);
inline constexpr uint32_t ORVANE_IOCTL_SET_SAMPLE_RATE = orvaneIoctlCode(0x900);
inline constexpr uint32_t ORVANE_IOCTL_SET_BUFFER_SIZES = orvaneIoctlCode(0x901);
inline constexpr uint32_t ORVANE_IOCTL_PRESET_SAMPLE_RATE = orvaneIoctlCode(0x902);
inline constexpr uint32_t ORVANE_IOCTL_SET_STREAMING_DEVICE = orvaneIoctlCode(0x910);
inline constexpr uint32_t ORVANE_IOCTL_GET_STATISTICS = orvaneIoctlCode(0xA00);
inline constexpr uint32_t ORVANE_IOCTL_GET_PORT_CONFIG = orvaneIoctlCode(0xB00);
inline constexpr uint32_t ORVANE_IOCTL_SET_DEVICE_SETUP = orvaneIoctlCode(0xB08);
inline constexpr uint32_t ORVANE_IOCTL_SET_CHANNEL_NAMES = orvaneIoctlCode(0xB10);
inline constexpr uint32_t ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES = orvaneIoctlCode(0xB11);
inline constexpr uint32_t ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS = orvaneIoctlCode(0xB20);
inline constexpr uint32_t ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH = orvaneIoctlCode(0xB21);
inline constexpr uint32_t ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH = orvaneIoctlCode(0xB22);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS = orvaneIoctlCode(0xB30);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS = orvaneIoctlCode(0xB31);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_PINS = orvaneIoctlCode(0xB38);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_GAINS = orvaneIoctlCode(0xB40);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_CROSSPOINTS = orvaneIoctlCode(0xB41);
inline constexpr uint32_t ORVANE_IOCTL_SET_MIXER_GAINS = orvaneIoctlCode(0xB44);
inline constexpr uint32_t ORVANE_IOCTL_SET_MIXER_CROSSPOINTS = orvaneIoctlCode(0xB45);
inline constexpr uint32_t ORVANE_IOCTL_SET_BYPASS_VOLUME = orvaneIoctlCode(0xB46);
inline constexpr uint32_t ORVANE_IOCTL_GET_BYPASS_VOLUME = orvaneIoctlCode(0xB47);
inline constexpr uint32_t ORVANE_IOCTL_SET_BYPASS_MUTE = orvaneIoctlCode(0xB48);
inline constexpr uint32_t ORVANE_IOCTL_GET_BYPASS_MUTE = orvaneIoctlCode(0xB49);
inline constexpr uint32_t ORVANE_IOCTL_GET_MIXER_STRIP = orvaneIoctlCode(0xB70);
inline constexpr uint32_t ORVANE_IOCTL_SET_MIXER_STRIP = orvaneIoctlCode(0xB71);
inline constexpr uint32_t ORVANE_IOCTL_SET_PLUGIN_PARAMETERS = orvaneIoctlCode(0xB90);
inline constexpr uint32_t ORVANE_IOCTL_GET_PLUGIN_PARAMETERS = orvaneIoctlCode(0xB91);
inline constexpr uint32_t ORVANE_IOCTL_SET_PORT_PARAMETER = orvaneIoctlCode(0xC20);
inline constexpr uint32_t ORVANE_IOCTL_SET_PORT_STATE = orvaneIoctlCode(0xC22);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_GET_SETTINGS = orvaneIoctlCode(0xF02);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_GET_CHANNELS = orvaneIoctlCode(0xF03);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO = orvaneIoctlCode(0xF04);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_GET_LATENCIES = orvaneIoctlCode(0xF05);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL = orvaneIoctlCode(0xF10);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_RELEASE_CHANNEL = orvaneIoctlCode(0xF11);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_CREATE_BUFFERS = orvaneIoctlCode(0xF20);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS = orvaneIoctlCode(0xF21);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS = orvaneIoctlCode(0xF28);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_START = orvaneIoctlCode(0xF30);
inline constexpr uint32_t ORVANE_IOCTL_ASIO_STOP = orvaneIoctlCode(0xF31);

static_assert(ORVANE_IOCTL_GET_DRIVER_INFO == 0x80882004);
static_assert(ORVANE_IOCTL_GET_TRACE_MASK == 0x80882008);
static_assert(ORVANE_IOCTL_SET_TRACE_MASK == 0x8088200C);
static_assert(ORVANE_IOCTL_SAVE_TRACE_MASK == 0x80882010);
static_assert(ORVANE_IOCTL_SEND_MESSAGE == 0x80882040);
static_assert(ORVANE_IOCTL_READ_MESSAGE == 0x80882044);
static_assert(ORVANE_IOCTL_READ_NOTIFICATION == 0x80882048);
static_assert(ORVANE_IOCTL_SET_EVENTS == 0x80882058);
static_assert(ORVANE_IOCTL_REGISTER_CLIENT == 0x80882064);
static_assert(ORVANE_IOCTL_GET_DEVICE_LIST == 0x80882080);
static_assert(ORVANE_IOCTL_ATTACH_DEVICE == 0x80882084);
static_assert(ORVANE_IOCTL_GET_INPUT_CHANNELS == 0x80882090);
static_assert(ORVANE_IOCTL_GET_OUTPUT_CHANNELS == 0x80882094);
static_assert(ORVANE_IOCTL_GET_CHANNEL_INFO == 0x80882098);
static_assert(ORVANE_IOCTL_GET_SAMPLE_RATES == 0x808820C0);
static_assert(ORVANE_IOCTL_GET_BUFFER_SIZES == 0x808820C4);
static_assert(ORVANE_IOCTL_GET_STREAMING_STATUS == 0x808820D0);
static_assert(ORVANE_IOCTL_GET_STATUS_COUNTERS == 0x808820D4);
static_assert(ORVANE_IOCTL_STREAMING_CONTROL == 0x80882100);
static_assert(ORVANE_IOCTL_SET_SAMPLE_RATE == 0x80882400);
static_assert(ORVANE_IOCTL_SET_BUFFER_SIZES == 0x80882404);
static_assert(ORVANE_IOCTL_PRESET_SAMPLE_RATE == 0x80882408);
static_assert(ORVANE_IOCTL_SET_STREAMING_DEVICE == 0x80882440);
static_assert(ORVANE_IOCTL_GET_STATISTICS == 0x80882800);
static_assert(ORVANE_IOCTL_GET_PORT_CONFIG == 0x80882C00);
static_assert(ORVANE_IOCTL_SET_DEVICE_SETUP == 0x80882C20);
static_assert(ORVANE_IOCTL_SET_CHANNEL_NAMES == 0x80882C40);
static_assert(ORVANE_IOCTL_SET_SOUND_DEVICE_NAMES == 0x80882C44);
static_assert(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS == 0x80882C80);
static_assert(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH == 0x80882C84);
static_assert(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH == 0x80882C88);
static_assert(ORVANE_IOCTL_GET_MIXER_INPUT_LEVELS == 0x80882CC0);
static_assert(ORVANE_IOCTL_GET_MIXER_OUTPUT_LEVELS == 0x80882CC4);
static_assert(ORVANE_IOCTL_GET_MIXER_PINS == 0x80882CE0);
static_assert(ORVANE_IOCTL_GET_MIXER_GAINS == 0x80882D00);
static_assert(ORVANE_IOCTL_GET_MIXER_CROSSPOINTS == 0x80882D04);
static_assert(ORVANE_IOCTL_SET_MIXER_GAINS == 0x80882D10);
static_assert(ORVANE_IOCTL_SET_MIXER_CROSSPOINTS == 0x80882D14);
static_assert(ORVANE_IOCTL_SET_BYPASS_VOLUME == 0x80882D18);
static_assert(ORVANE_IOCTL_GET_BYPASS_VOLUME == 0x80882D1C);
static_assert(ORVANE_IOCTL_SET_BYPASS_MUTE == 0x80882D20);
static_assert(ORVANE_IOCTL_GET_BYPASS_MUTE == 0x80882D24);
static_assert(ORVANE_IOCTL_GET_MIXER_STRIP == 0x80882DC0);
static_assert(ORVANE_IOCTL_SET_MIXER_STRIP == 0x80882DC4);
static_assert(ORVANE_IOCTL_SET_PLUGIN_PARAMETERS == 0x80882E40);
static_assert(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS == 0x80882E44);
static_assert(ORVANE_IOCTL_SET_PORT_PARAMETER == 0x80883080);
static_assert(ORVANE_IOCTL_SET_PORT_STATE == 0x80883088);
static_assert(ORVANE_IOCTL_ASIO_GET_SETTINGS == 0x80883C08);
static_assert(ORVANE_IOCTL_ASIO_GET_CHANNELS == 0x80883C0C);
static_assert(ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO == 0x80883C10);
static_assert(ORVANE_IOCTL_ASIO_GET_LATENCIES == 0x80883C14);
static_assert(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL == 0x80883C40);
static_assert(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL == 0x80883C44);
static_assert(ORVANE_IOCTL_ASIO_CREATE_BUFFERS == 0x80883C80);
static_assert(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS == 0x80883C84);
static_assert(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS == 0x80883CA0);
static_assert(ORVANE_IOCTL_ASIO_START == 0x80883CC0);
static_assert(ORVANE_IOCTL_ASIO_STOP == 0x80883CC4);

// How one buffer of a request is sized.
enum class OrvaneBufferRule : uint8_t {
  none,               // no buffer
  fixed,              // exactly `bytes`
  entries,            // n entries of `bytes` each, n chosen by the caller
  headerPlusPayload,  // `bytes` of header followed by 0 to ORVANE_REQUEST_MAX_PAYLOAD bytes
};

inline constexpr uint32_t ORVANE_REQUEST_MAX_PAYLOAD = 512;

struct OrvaneBufferSize {
  OrvaneBufferRule rule;
  uint32_t bytes;

  // Size of the buffer with n entries (entries rule) or with a payload of n
  // bytes (header-plus-payload rule); the fixed size otherwise.
  constexpr uint32_t forCount(uint32_t n) const {
    switch (rule) {
      case OrvaneBufferRule::none: return 0;
      case OrvaneBufferRule::fixed: return bytes;
      case OrvaneBufferRule::entries: return n * bytes;
      case OrvaneBufferRule::headerPlusPayload: return bytes + n;
    }
    return 0;
  }

  // Whether a buffer of `size` bytes has a shape this rule allows. Any whole
  // number of entries fits the entries rule, none included.
  constexpr bool fits(uint32_t size) const {
    switch (rule) {
      case OrvaneBufferRule::none: return size == 0;
      case OrvaneBufferRule::fixed: return size == bytes;
      case OrvaneBufferRule::entries: return size % bytes == 0;
      case OrvaneBufferRule::headerPlusPayload: return size >= bytes && size - bytes <= ORVANE_REQUEST_MAX_PAYLOAD;
    }
    return false;
  }
};

// The connection a request is issued on.
enum class OrvaneConnectionKind : uint8_t {
  driver,  // a driver connection
  device,  // a device connection attached to one device
};

struct OrvaneRequest {
  uint32_t code;
  const char* name;
  OrvaneBufferSize input;
  OrvaneBufferSize output;
  bool inOut;  // one buffer is passed as both input and output
  OrvaneConnectionKind issuedOn;
};

namespace orvane_request_shapes {
inline constexpr OrvaneBufferSize noBuffer{OrvaneBufferRule::none, 0};
constexpr OrvaneBufferSize fixedSize(uint32_t bytes) { return {OrvaneBufferRule::fixed, bytes}; }
constexpr OrvaneBufferSize entrySize(uint32_t bytes) { return {OrvaneBufferRule::entries, bytes}; }
constexpr OrvaneBufferSize headerPlusPayload(uint32_t headerBytes) {
  return {OrvaneBufferRule::headerPlusPayload, headerBytes};
}
inline constexpr bool separate = false;
inline constexpr bool inOut = true;
inline constexpr OrvaneConnectionKind onDriver = OrvaneConnectionKind::driver;
inline constexpr OrvaneConnectionKind onDevice = OrvaneConnectionKind::device;
}  // namespace orvane_request_shapes

// clang-format off
#define ORVANE_REQUEST_ROW(row, input, output, both, on) \
  inline constexpr OrvaneRequest ORVANE_REQUEST_##row{ORVANE_IOCTL_##row, "ORVANE_IOCTL_" #row, \
      orvane_request_shapes::input, orvane_request_shapes::output, orvane_request_shapes::both, \
      orvane_request_shapes::on}

ORVANE_REQUEST_ROW(GET_DRIVER_INFO,          noBuffer,               fixedSize(24),    separate, onDriver);
ORVANE_REQUEST_ROW(GET_TRACE_MASK,           noBuffer,               fixedSize(4),     separate, onDriver);
ORVANE_REQUEST_ROW(SET_TRACE_MASK,           fixedSize(4),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(SAVE_TRACE_MASK,          noBuffer,               noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(SEND_MESSAGE,             headerPlusPayload(32),  noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(READ_MESSAGE,             noBuffer,               fixedSize(544),   separate, onDriver);
ORVANE_REQUEST_ROW(READ_NOTIFICATION,        noBuffer,               fixedSize(544),   separate, onDriver);
ORVANE_REQUEST_ROW(SET_EVENTS,               fixedSize(16),          noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(REGISTER_CLIENT,          fixedSize(4),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(GET_DEVICE_LIST,          noBuffer,               fixedSize(1124),  separate, onDriver);
ORVANE_REQUEST_ROW(ATTACH_DEVICE,            fixedSize(8),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_INPUT_CHANNELS,       noBuffer,               fixedSize(772),   separate, onDriver);
ORVANE_REQUEST_ROW(GET_OUTPUT_CHANNELS,      noBuffer,               fixedSize(772),   separate, onDriver);
ORVANE_REQUEST_ROW(GET_CHANNEL_INFO,         fixedSize(8),           fixedSize(108),   separate, onDriver);
ORVANE_REQUEST_ROW(GET_SAMPLE_RATES,         noBuffer,               fixedSize(48),    separate, onDriver);
ORVANE_REQUEST_ROW(GET_BUFFER_SIZES,         noBuffer,               fixedSize(32),    separate, onDriver);
ORVANE_REQUEST_ROW(GET_STREAMING_STATUS,     noBuffer,               fixedSize(36),    separate, onDriver);
ORVANE_REQUEST_ROW(GET_STATUS_COUNTERS,      noBuffer,               fixedSize(20),    separate, onDriver);
ORVANE_REQUEST_ROW(STREAMING_CONTROL,        fixedSize(4),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(SET_SAMPLE_RATE,          fixedSize(4),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(SET_BUFFER_SIZES,         fixedSize(12),          noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(PRESET_SAMPLE_RATE,       fixedSize(4),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(SET_STREAMING_DEVICE,     fixedSize(12),          noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(GET_STATISTICS,           fixedSize(4),           fixedSize(36620), separate, onDriver);
ORVANE_REQUEST_ROW(GET_PORT_CONFIG,          noBuffer,               fixedSize(4056),  separate, onDevice);
ORVANE_REQUEST_ROW(SET_DEVICE_SETUP,         fixedSize(136),         noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(SET_CHANNEL_NAMES,        fixedSize(6152),        noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(SET_SOUND_DEVICE_NAMES,   fixedSize(9480),        noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_SPDIF_INPUT_STATUS,   fixedSize(16),          fixedSize(16),    inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_SPDIF_PASS_THROUGH,   fixedSize(12),          noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_SPDIF_PASS_THROUGH,   fixedSize(12),          fixedSize(12),    inOut,    onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_INPUT_LEVELS,   entrySize(8),           entrySize(8),     inOut,    onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_OUTPUT_LEVELS,  entrySize(8),           entrySize(8),     inOut,    onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_PINS,           fixedSize(4),           entrySize(4),     separate, onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_GAINS,          entrySize(8),           entrySize(8),     inOut,    onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_CROSSPOINTS,    entrySize(12),          entrySize(12),    inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_MIXER_GAINS,          entrySize(8),           entrySize(8),     inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_MIXER_CROSSPOINTS,    entrySize(12),          entrySize(12),    inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_BYPASS_VOLUME,        fixedSize(1),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_BYPASS_VOLUME,        noBuffer,               fixedSize(1),     separate, onDevice);
ORVANE_REQUEST_ROW(SET_BYPASS_MUTE,          fixedSize(1),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_BYPASS_MUTE,          noBuffer,               fixedSize(1),     separate, onDevice);
ORVANE_REQUEST_ROW(GET_MIXER_STRIP,          fixedSize(136),         fixedSize(136),   inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_MIXER_STRIP,          fixedSize(136),         noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(SET_PLUGIN_PARAMETERS,    entrySize(1),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(GET_PLUGIN_PARAMETERS,    entrySize(1),           entrySize(1),     inOut,    onDevice);
ORVANE_REQUEST_ROW(SET_PORT_PARAMETER,       fixedSize(8),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(SET_PORT_STATE,           fixedSize(8),           noBuffer,         separate, onDevice);
ORVANE_REQUEST_ROW(ASIO_GET_SETTINGS,        noBuffer,               fixedSize(52),    separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_GET_CHANNELS,        noBuffer,               fixedSize(1544),  separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_GET_CHANNEL_INFO,    fixedSize(8),           fixedSize(108),   separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_GET_LATENCIES,       noBuffer,               fixedSize(8),     separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_ACQUIRE_CHANNEL,     fixedSize(8),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_RELEASE_CHANNEL,     fixedSize(8),           noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_CREATE_BUFFERS,      fixedSize(20),          noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_DISPOSE_BUFFERS,     noBuffer,               noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_SET_CHANNEL_BUFFERS, fixedSize(24),          noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_START,               noBuffer,               noBuffer,         separate, onDriver);
ORVANE_REQUEST_ROW(ASIO_STOP,                noBuffer,               noBuffer,         separate, onDriver);

#undef ORVANE_REQUEST_ROW
// clang-format on

// Every row of the request table, in code order.
inline constexpr OrvaneRequest ORVANE_REQUESTS[] = {
    ORVANE_REQUEST_GET_DRIVER_INFO,          ORVANE_REQUEST_GET_TRACE_MASK,
    ORVANE_REQUEST_SET_TRACE_MASK,           ORVANE_REQUEST_SAVE_TRACE_MASK,
    ORVANE_REQUEST_SEND_MESSAGE,             ORVANE_REQUEST_READ_MESSAGE,
    ORVANE_REQUEST_READ_NOTIFICATION,        ORVANE_REQUEST_SET_EVENTS,
    ORVANE_REQUEST_REGISTER_CLIENT,          ORVANE_REQUEST_GET_DEVICE_LIST,
    ORVANE_REQUEST_ATTACH_DEVICE,            ORVANE_REQUEST_GET_INPUT_CHANNELS,
    ORVANE_REQUEST_GET_OUTPUT_CHANNELS,      ORVANE_REQUEST_GET_CHANNEL_INFO,
    ORVANE_REQUEST_GET_SAMPLE_RATES,         ORVANE_REQUEST_GET_BUFFER_SIZES,
    ORVANE_REQUEST_GET_STREAMING_STATUS,     ORVANE_REQUEST_GET_STATUS_COUNTERS,
    ORVANE_REQUEST_STREAMING_CONTROL,        ORVANE_REQUEST_SET_SAMPLE_RATE,
    ORVANE_REQUEST_SET_BUFFER_SIZES,         ORVANE_REQUEST_PRESET_SAMPLE_RATE,
    ORVANE_REQUEST_SET_STREAMING_DEVICE,     ORVANE_REQUEST_GET_STATISTICS,
    ORVANE_REQUEST_GET_PORT_CONFIG,          ORVANE_REQUEST_SET_DEVICE_SETUP,
    ORVANE_REQUEST_SET_CHANNEL_NAMES,        ORVANE_REQUEST_SET_SOUND_DEVICE_NAMES,
    ORVANE_REQUEST_GET_SPDIF_INPUT_STATUS,   ORVANE_REQUEST_SET_SPDIF_PASS_THROUGH,
    ORVANE_REQUEST_GET_SPDIF_PASS_THROUGH,   ORVANE_REQUEST_GET_MIXER_INPUT_LEVELS,
    ORVANE_REQUEST_GET_MIXER_OUTPUT_LEVELS,  ORVANE_REQUEST_GET_MIXER_PINS,
    ORVANE_REQUEST_GET_MIXER_GAINS,          ORVANE_REQUEST_GET_MIXER_CROSSPOINTS,
    ORVANE_REQUEST_SET_MIXER_GAINS,          ORVANE_REQUEST_SET_MIXER_CROSSPOINTS,
    ORVANE_REQUEST_SET_BYPASS_VOLUME,        ORVANE_REQUEST_GET_BYPASS_VOLUME,
    ORVANE_REQUEST_SET_BYPASS_MUTE,          ORVANE_REQUEST_GET_BYPASS_MUTE,
    ORVANE_REQUEST_GET_MIXER_STRIP,          ORVANE_REQUEST_SET_MIXER_STRIP,
    ORVANE_REQUEST_SET_PLUGIN_PARAMETERS,    ORVANE_REQUEST_GET_PLUGIN_PARAMETERS,
    ORVANE_REQUEST_SET_PORT_PARAMETER,       ORVANE_REQUEST_SET_PORT_STATE,
    ORVANE_REQUEST_ASIO_GET_SETTINGS,        ORVANE_REQUEST_ASIO_GET_CHANNELS,
    ORVANE_REQUEST_ASIO_GET_CHANNEL_INFO,    ORVANE_REQUEST_ASIO_GET_LATENCIES,
    ORVANE_REQUEST_ASIO_ACQUIRE_CHANNEL,     ORVANE_REQUEST_ASIO_RELEASE_CHANNEL,
    ORVANE_REQUEST_ASIO_CREATE_BUFFERS,      ORVANE_REQUEST_ASIO_DISPOSE_BUFFERS,
    ORVANE_REQUEST_ASIO_SET_CHANNEL_BUFFERS, ORVANE_REQUEST_ASIO_START,
    ORVANE_REQUEST_ASIO_STOP,
};

// The row of a request code, or null for a code that is not in the table.
constexpr const OrvaneRequest* findOrvaneRequest(uint32_t code) {
  for (const OrvaneRequest& request : ORVANE_REQUESTS) {
    if (request.code == code) return &request;
  }
  return nullptr;
}

namespace orvane_request_checks {
constexpr bool codesAscend() {
  for (size_t i = 1; i < std::size(ORVANE_REQUESTS); ++i) {
    if (ORVANE_REQUESTS[i - 1].code >= ORVANE_REQUESTS[i].code) return false;
  }
  return true;
}
}  // namespace orvane_request_checks

static_assert(std::size(ORVANE_REQUESTS) == 59);
static_assert(orvane_request_checks::codesAscend(), "request codes are unique and listed in order");

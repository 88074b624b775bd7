#pragma once
// Status values of every device operation: 0 for success, a system error code
// as the system reported it, or one of the ORVANE_STATUS_ values below, which
// the kernel driver fails a request with and the library produces itself.

#include <cstdint>

inline constexpr uint32_t ORVANE_STATUS_SUCCESS = 0;

inline constexpr uint32_t ORVANE_STATUS_FAILED = 0xE0000001;
inline constexpr uint32_t ORVANE_STATUS_INTERNAL_ERROR = 0xE0000002;
inline constexpr uint32_t ORVANE_STATUS_NO_MEMORY = 0xE0000003;
inline constexpr uint32_t ORVANE_STATUS_NO_RESOURCES = 0xE0000004;
inline constexpr uint32_t ORVANE_STATUS_TIMEOUT = 0xE0000005;
inline constexpr uint32_t ORVANE_STATUS_ABORTED = 0xE0000006;
inline constexpr uint32_t ORVANE_STATUS_NO_MORE_ITEMS = 0xE0000007;
inline constexpr uint32_t ORVANE_STATUS_NEW_ENUM_EXPECTED = 0xE0000008;
inline constexpr uint32_t ORVANE_STATUS_NO_FIRMWARE = 0xE0000009;

inline constexpr uint32_t ORVANE_STATUS_NOT_SUPPORTED = 0xE0000010;
inline constexpr uint32_t ORVANE_STATUS_NOT_POSSIBLE = 0xE0000011;
inline constexpr uint32_t ORVANE_STATUS_NOT_ALLOWED = 0xE0000012;
inline constexpr uint32_t ORVANE_STATUS_NOT_OPENED = 0xE0000013;
inline constexpr uint32_t ORVANE_STATUS_VERSION_MISMATCH = 0xE0000014;
inline constexpr uint32_t ORVANE_STATUS_LENGTH_MISMATCH = 0xE0000015;
inline constexpr uint32_t ORVANE_STATUS_MAGIC_MISMATCH = 0xE0000016;
inline constexpr uint32_t ORVANE_STATUS_CRC_MISMATCH = 0xE0000017;
inline constexpr uint32_t ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE = 0xE0000018;

inline constexpr uint32_t ORVANE_STATUS_REJECTED = 0xE0000020;
inline constexpr uint32_t ORVANE_STATUS_ALREADY_DONE = 0xE0000021;
inline constexpr uint32_t ORVANE_STATUS_WRONG_DIRECTION = 0xE0000022;
inline constexpr uint32_t ORVANE_STATUS_REGISTRY_ACCESS_FAILED = 0xE0000023;
inline constexpr uint32_t ORVANE_STATUS_IN_ERROR_STATE = 0xE0000024;
inline constexpr uint32_t ORVANE_STATUS_NO_SERVER = 0xE0000025;
inline constexpr uint32_t ORVANE_STATUS_INITIATOR_NOT_FOUND = 0xE0000026;
inline constexpr uint32_t ORVANE_STATUS_NO_DEVICES = 0xE0000027;
inline constexpr uint32_t ORVANE_STATUS_NO_STREAMING_DEVICE = 0xE0000028;

inline constexpr uint32_t ORVANE_STATUS_INVALID_PARAMETER = 0xE0000030;
inline constexpr uint32_t ORVANE_STATUS_INVALID_BUFFER_SIZE = 0xE0000031;
inline constexpr uint32_t ORVANE_STATUS_INVALID_SAMPLE_SIZE = 0xE0000032;
inline constexpr uint32_t ORVANE_STATUS_INVALID_TYPE = 0xE0000033;
inline constexpr uint32_t ORVANE_STATUS_INVALID_SAMPLE_RATE = 0xE0000034;
inline constexpr uint32_t ORVANE_STATUS_INVALID_IOCTL = 0xE0000035;
inline constexpr uint32_t ORVANE_STATUS_INVALID_INBUFFER_SIZE = 0xE0000036;
inline constexpr uint32_t ORVANE_STATUS_INVALID_OUTBUFFER_SIZE = 0xE0000037;
inline constexpr uint32_t ORVANE_STATUS_INVALID_LENGTH = 0xE0000038;
inline constexpr uint32_t ORVANE_STATUS_INVALID_COMMAND = 0xE0000039;
inline constexpr uint32_t ORVANE_STATUS_INVALID_STATE = 0xE000003A;

inline constexpr uint32_t ORVANE_STATUS_OBJECT_NOT_FOUND = 0xE0000040;
inline constexpr uint32_t ORVANE_STATUS_IN_USE = 0xE0000041;
inline constexpr uint32_t ORVANE_STATUS_NO_SUCH_IF = 0xE0000042;
inline constexpr uint32_t ORVANE_STATUS_NO_SUCH_EP = 0xE0000043;
inline constexpr uint32_t ORVANE_STATUS_CHANNEL_CONFIG_CHANGED = 0xE0000044;

inline constexpr uint32_t ORVANE_STATUS_INVALID_MSG_TYPE = 0xE0000050;
inline constexpr uint32_t ORVANE_STATUS_UNEXPECTED_MSG_CODE = 0xE0000051;
inline constexpr uint32_t ORVANE_STATUS_INVALID_MSG_SIZE = 0xE0000052;
inline constexpr uint32_t ORVANE_STATUS_INVALID_HD_SIZE = 0xE0000053;

inline constexpr uint32_t ORVANE_STATUS_DEVICE_REMOVED = 0xE0000060;
inline constexpr uint32_t ORVANE_STATUS_NO_DEVICE = 0xE0000061;

inline constexpr uint32_t ORVANE_STATUS_ALLOC_BUFFER_FAILED = 0xE0000070;
inline constexpr uint32_t ORVANE_STATUS_ALLOC_IRPRES_FAILED = 0xE0000071;
inline constexpr uint32_t ORVANE_STATUS_SUBMIT_BUFFER_FAILED = 0xE0000072;
inline constexpr uint32_t ORVANE_STATUS_START_CHANNEL_FAILED = 0xE0000073;
inline constexpr uint32_t ORVANE_STATUS_STREAMS_STARTUP_FAILED = 0xE0000074;

inline constexpr uint32_t ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE = 0xE0000080;
inline constexpr uint32_t ORVANE_STATUS_SOUND_DEVICE_IN_USE = 0xE0000090;
inline constexpr uint32_t ORVANE_STATUS_PENDING = 0xE0000100;

// The constant's name as narrow text; "???" for any other value, system error
// codes included. Never fails; the text is static.
const char* orvaneStatusName(uint32_t status);

#pragma once
// Records of the ASIO driver's requests: settings, latencies, buffer creation
// and channel buffers, and the block of shared memory through which the kernel
// driver paces the buffer switches. Channel lists and channel information are
// in orvane_records.h.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_records.h"

// Output of ORVANE_IOCTL_ASIO_GET_SETTINGS.
struct ORVANE_ASIO_SETTINGS {
  ORVANE_SAMPLE_RATES sampleRates;
  uint32_t deviceBufferFrames;  // device buffer size in frames
};
static_assert(isOrvaneRecord<ORVANE_ASIO_SETTINGS>);
static_assert(sizeof(ORVANE_ASIO_SETTINGS) == 52);
static_assert(offsetof(ORVANE_ASIO_SETTINGS, sampleRates) == 0);
static_assert(offsetof(ORVANE_ASIO_SETTINGS, deviceBufferFrames) == 48);
static_assert(sizeof(ORVANE_ASIO_SETTINGS) == ORVANE_REQUEST_ASIO_GET_SETTINGS.output.bytes);

// Output of ORVANE_IOCTL_ASIO_GET_LATENCIES; each in addition to the buffer size.
struct ORVANE_ASIO_LATENCIES {
  uint32_t inputLatencyFrames;
  uint32_t outputLatencyFrames;
};
static_assert(isOrvaneRecord<ORVANE_ASIO_LATENCIES>);
static_assert(sizeof(ORVANE_ASIO_LATENCIES) == 8);
static_assert(offsetof(ORVANE_ASIO_LATENCIES, inputLatencyFrames) == 0);
static_assert(offsetof(ORVANE_ASIO_LATENCIES, outputLatencyFrames) == 4);
static_assert(sizeof(ORVANE_ASIO_LATENCIES) == ORVANE_REQUEST_ASIO_GET_LATENCIES.output.bytes);

// ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL and _RELEASE_CHANNEL take the 64-bit channel identifier.
static_assert(sizeof(uint64_t) == ORVANE_REQUEST_ASIO_ACQUIRE_CHANNEL.input.bytes);
static_assert(sizeof(uint64_t) == ORVANE_REQUEST_ASIO_RELEASE_CHANNEL.input.bytes);

// The shared block: 8 bytes of committed memory that both sides reach.
struct ORVANE_ASIO_SHARED_BLOCK {
  uint32_t bufferIndex;          // the half the host is to process, written by the kernel driver
  uint32_t acknowledgeCounter;   // incremented by the ASIO driver after each processed half
};
static_assert(isOrvaneRecord<ORVANE_ASIO_SHARED_BLOCK>);
static_assert(sizeof(ORVANE_ASIO_SHARED_BLOCK) == 8);
static_assert(offsetof(ORVANE_ASIO_SHARED_BLOCK, bufferIndex) == 0);
static_assert(offsetof(ORVANE_ASIO_SHARED_BLOCK, acknowledgeCounter) == 4);

// Input of ORVANE_IOCTL_ASIO_CREATE_BUFFERS. 20 bytes is not a multiple of 8:
// packed to 4 so that the 64-bit slots do not pad the record.
#pragma pack(push, 4)
struct ORVANE_ASIO_CREATE_BUFFERS {
  uint64_t sharedBlockAddress;  // address of the ORVANE_ASIO_SHARED_BLOCK
  uint64_t bufferEvent;         // handle of the buffer event, zero-extended
  uint32_t bufferFrames;        // buffer size in frames
};
#pragma pack(pop)
static_assert(isOrvaneRecord<ORVANE_ASIO_CREATE_BUFFERS>);
static_assert(sizeof(ORVANE_ASIO_CREATE_BUFFERS) == 20);
static_assert(offsetof(ORVANE_ASIO_CREATE_BUFFERS, sharedBlockAddress) == 0);
static_assert(offsetof(ORVANE_ASIO_CREATE_BUFFERS, bufferEvent) == 8);
static_assert(offsetof(ORVANE_ASIO_CREATE_BUFFERS, bufferFrames) == 16);
static_assert(sizeof(ORVANE_ASIO_CREATE_BUFFERS) == ORVANE_REQUEST_ASIO_CREATE_BUFFERS.input.bytes);

inline constexpr uint32_t ORVANE_ASIO_CHANNEL_BUFFER_WORD = 4;  // the only value of the word at offset 12

// Input of ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS. The second half of the
// buffer follows the first directly.
struct ORVANE_ASIO_CHANNEL_BUFFERS {
  uint64_t channelId;
  uint32_t halfSizeBytes;     // size of one buffer half
  uint32_t bufferWord;        // always ORVANE_ASIO_CHANNEL_BUFFER_WORD
  uint64_t firstHalfAddress;
};
static_assert(isOrvaneRecord<ORVANE_ASIO_CHANNEL_BUFFERS>);
static_assert(sizeof(ORVANE_ASIO_CHANNEL_BUFFERS) == 24);
static_assert(offsetof(ORVANE_ASIO_CHANNEL_BUFFERS, channelId) == 0);
static_assert(offsetof(ORVANE_ASIO_CHANNEL_BUFFERS, halfSizeBytes) == 8);
static_assert(offsetof(ORVANE_ASIO_CHANNEL_BUFFERS, bufferWord) == 12);
static_assert(offsetof(ORVANE_ASIO_CHANNEL_BUFFERS, firstHalfAddress) == 16);
static_assert(sizeof(ORVANE_ASIO_CHANNEL_BUFFERS) == ORVANE_REQUEST_ASIO_SET_CHANNEL_BUFFERS.input.bytes);

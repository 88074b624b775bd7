#pragma once
// The kernel driver's statistics record (output of ORVANE_IOCTL_GET_STATISTICS)
// with its entry records, and the trace mask.
//
// Identifiers other than device identifiers are 64-bit values stored as two
// u32 words, low word first. Fields named unused are not interpreted.

#include <cstddef>
#include <cstdint>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_records.h"

// Input of ORVANE_IOCTL_GET_STATISTICS.
inline constexpr uint32_t ORVANE_STATISTICS_READ = 0;
inline constexpr uint32_t ORVANE_STATISTICS_CLEAR = 1;  // clears the counters
static_assert(sizeof(uint32_t) == ORVANE_REQUEST_GET_STATISTICS.input.bytes);

// ---------------------------------------------------------------------------

inline constexpr size_t ORVANE_STAT_DEVICE_NAME_CHARS = 20;  // including the terminator

struct ORVANE_STAT_DEVICE {
  ORVANE_DEVICE_ID deviceId;  // key of the device map
  uint32_t vendorId;
  uint32_t productId;
  uint32_t revisionId;
  uint32_t boardId;
  char16_t name[ORVANE_STAT_DEVICE_NAME_CHARS];
  uint32_t firmwareType;
  uint8_t firmwareVersion[3];  // major, minor, build
  uint8_t firmwareProtocolVersion;
  uint32_t fpgaDesignVersion;  // FPGA design and version ID
  uint32_t fpgaCustomerId;
  uint32_t highSpeedPort;  // non-zero when connected to a USB high-speed port
  uint32_t midiInputBytesDiscarded;
};
static_assert(isOrvaneRecord<ORVANE_STAT_DEVICE>);
static_assert(sizeof(ORVANE_STAT_DEVICE) == 88);
static_assert(offsetof(ORVANE_STAT_DEVICE, deviceId) == 0);
static_assert(offsetof(ORVANE_STAT_DEVICE, vendorId) == 8);
static_assert(offsetof(ORVANE_STAT_DEVICE, productId) == 12);
static_assert(offsetof(ORVANE_STAT_DEVICE, revisionId) == 16);
static_assert(offsetof(ORVANE_STAT_DEVICE, boardId) == 20);
static_assert(offsetof(ORVANE_STAT_DEVICE, name) == 24);
static_assert(offsetof(ORVANE_STAT_DEVICE, firmwareType) == 64);
static_assert(offsetof(ORVANE_STAT_DEVICE, firmwareVersion) == 68);
static_assert(offsetof(ORVANE_STAT_DEVICE, firmwareProtocolVersion) == 71);
static_assert(offsetof(ORVANE_STAT_DEVICE, fpgaDesignVersion) == 72);
static_assert(offsetof(ORVANE_STAT_DEVICE, fpgaCustomerId) == 76);
static_assert(offsetof(ORVANE_STAT_DEVICE, highSpeedPort) == 80);
static_assert(offsetof(ORVANE_STAT_DEVICE, midiInputBytesDiscarded) == 84);

// ---------------------------------------------------------------------------
// Isochronous streams. Times in microseconds, sizes in bytes.

struct ORVANE_STAT_ISO_STREAM {
  ORVANE_DEVICE_ID deviceId;  // the owning device
  uint32_t samplingFrequency;  // Hz
  uint32_t dataPackets;
  uint32_t emptyPackets;
  uint32_t buffersTransferred;
  int32_t buffersPending;
  uint32_t buffersTotal;
  uint32_t framesPerBuffer;
  uint32_t dataBlockSizeWords;  // in 32-bit words
  uint32_t maxIsoPacketSize;
  uint32_t isoRequestsFailed;
  uint32_t lastIrpStatus;
  uint32_t lastUrbStatus;
  uint32_t lastUrbPacketStatus;
  int32_t minPacketSize;
  int32_t maxPacketSize;
  int32_t minDataBlocksPerPacket;
  int32_t maxDataBlocksPerPacket;
  int32_t minCallbackInterval;
  int32_t maxCallbackInterval;
  int32_t currentCallbackInterval;
  int32_t minRunTime;
  int32_t maxRunTime;
};
static_assert(isOrvaneRecord<ORVANE_STAT_ISO_STREAM>);
static_assert(sizeof(ORVANE_STAT_ISO_STREAM) == 96);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, deviceId) == 0);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, samplingFrequency) == 8);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, dataPackets) == 12);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, emptyPackets) == 16);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, buffersTransferred) == 20);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, buffersPending) == 24);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, buffersTotal) == 28);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, framesPerBuffer) == 32);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, dataBlockSizeWords) == 36);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, maxIsoPacketSize) == 40);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, isoRequestsFailed) == 44);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, lastIrpStatus) == 48);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, lastUrbStatus) == 52);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, lastUrbPacketStatus) == 56);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, minPacketSize) == 60);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, maxPacketSize) == 64);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, minDataBlocksPerPacket) == 68);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, maxDataBlocksPerPacket) == 72);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, minCallbackInterval) == 76);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, maxCallbackInterval) == 80);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, currentCallbackInterval) == 84);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, minRunTime) == 88);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM, maxRunTime) == 92);

// An input stream entry: the stream record followed by the receiver's counters.
struct ORVANE_STAT_ISO_STREAM_IN {
  ORVANE_STAT_ISO_STREAM stream;
  uint32_t receiverState;
  uint32_t packetsMissing;
  uint32_t dataBlockSequenceErrors;
  uint32_t invalidPacketHeaders;
  uint32_t hwOutputFifoOverruns;
  uint32_t hwOutputFifoUnderruns;
  uint32_t hwOutputFifoEmpty;
  uint32_t hwSpdifInputOverruns;
  uint32_t hwInputFifoFull;
};
static_assert(isOrvaneRecord<ORVANE_STAT_ISO_STREAM_IN>);
static_assert(sizeof(ORVANE_STAT_ISO_STREAM_IN) == 132);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, stream) == 0);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, receiverState) == 96);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, packetsMissing) == 100);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, dataBlockSequenceErrors) == 104);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, invalidPacketHeaders) == 108);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, hwOutputFifoOverruns) == 112);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, hwOutputFifoUnderruns) == 116);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, hwOutputFifoEmpty) == 120);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, hwSpdifInputOverruns) == 124);
static_assert(offsetof(ORVANE_STAT_ISO_STREAM_IN, hwInputFifoFull) == 128);

// ---------------------------------------------------------------------------

inline constexpr uint32_t ORVANE_DEFRAMER_TRY_SYNC = 0;
inline constexpr uint32_t ORVANE_DEFRAMER_IN_SYNC = 1;
inline constexpr uint32_t ORVANE_DEFRAMER_NON_PCM = 2;
inline constexpr uint32_t ORVANE_DEFRAMER_PCM_LOCKED = 3;

struct ORVANE_STAT_SPDIF_DEFRAMER {
  uint32_t hwPortIdLow;  // the S/PDIF port, key into the port map
  uint32_t hwPortIdHigh;
  uint8_t unused[8];
  uint32_t inputSamples;
  uint32_t blocksParsed;
  uint32_t unexpectedStartFrames;
  uint32_t processingCalls;
  uint32_t detectedSampleRate;
  uint32_t state;  // ORVANE_DEFRAMER_...
  // Output FIFO fill level in hundredths of a percent, then in samples.
  uint32_t fifoFillPercent;
  uint32_t fifoFillPercentMin;
  uint32_t fifoFillPercentMax;
  uint32_t fifoSizeSamples;
  uint32_t fifoFillSamples;
  uint32_t fifoFillSamplesMin;
  uint32_t fifoFillSamplesMax;
  uint32_t sampleRateChanges;
  uint32_t syncLost;
  int32_t clockOffset;     // of the sample rate converter, in units of 2^-30
  int32_t clockOffsetPpm;  // the same offset in hundredths of a ppm
  uint32_t outputFifoEmpty;
  uint32_t outputFifoFull;
  uint32_t inputFifoFull;
  uint32_t invalidPreambles;
  uint32_t parityErrors;
  uint32_t frameNumberMismatches;
};
static_assert(isOrvaneRecord<ORVANE_STAT_SPDIF_DEFRAMER>);
static_assert(sizeof(ORVANE_STAT_SPDIF_DEFRAMER) == 108);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, hwPortIdLow) == 0);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, hwPortIdHigh) == 4);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, unused) == 8);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, inputSamples) == 16);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, blocksParsed) == 20);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, unexpectedStartFrames) == 24);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, processingCalls) == 28);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, detectedSampleRate) == 32);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, state) == 36);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillPercent) == 40);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillPercentMin) == 44);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillPercentMax) == 48);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoSizeSamples) == 52);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillSamples) == 56);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillSamplesMin) == 60);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, fifoFillSamplesMax) == 64);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, sampleRateChanges) == 68);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, syncLost) == 72);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, clockOffset) == 76);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, clockOffsetPpm) == 80);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, outputFifoEmpty) == 84);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, outputFifoFull) == 88);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, inputFifoFull) == 92);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, invalidPreambles) == 96);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, parityErrors) == 100);
static_assert(offsetof(ORVANE_STAT_SPDIF_DEFRAMER, frameNumberMismatches) == 104);

// ---------------------------------------------------------------------------

struct ORVANE_STAT_PORT_CHANNEL {
  uint32_t unused1[2];
  uint32_t hwPortIdLow;  // the owning port, key into the port map
  uint32_t hwPortIdHigh;
  uint8_t unused2[12];
  uint32_t dataBlockOffset;
  uint32_t channelPosition;
  uint32_t asioChannelConnected;
  uint32_t soundDeviceConnected;
};
static_assert(isOrvaneRecord<ORVANE_STAT_PORT_CHANNEL>);
static_assert(sizeof(ORVANE_STAT_PORT_CHANNEL) == 44);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, unused1) == 0);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, hwPortIdLow) == 8);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, hwPortIdHigh) == 12);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, unused2) == 16);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, dataBlockOffset) == 28);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, channelPosition) == 32);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, asioChannelConnected) == 36);
static_assert(offsetof(ORVANE_STAT_PORT_CHANNEL, soundDeviceConnected) == 40);

struct ORVANE_STAT_HW_PORT {
  uint32_t hwPortIdLow;  // key of the port map
  uint32_t hwPortIdHigh;
  ORVANE_DEVICE_ID deviceId;  // the owning device
  uint32_t unused;
  uint32_t channelCount;
  uint32_t portType;  // ORVANE_PORT_TYPE_... (1 I2S, 2 DSD, 10 S/PDIF, 40 virtual)
  uint32_t portNumber;
};
static_assert(isOrvaneRecord<ORVANE_STAT_HW_PORT>);
static_assert(sizeof(ORVANE_STAT_HW_PORT) == 32);
static_assert(offsetof(ORVANE_STAT_HW_PORT, hwPortIdLow) == 0);
static_assert(offsetof(ORVANE_STAT_HW_PORT, hwPortIdHigh) == 4);
static_assert(offsetof(ORVANE_STAT_HW_PORT, deviceId) == 8);
static_assert(offsetof(ORVANE_STAT_HW_PORT, unused) == 16);
static_assert(offsetof(ORVANE_STAT_HW_PORT, channelCount) == 20);
static_assert(offsetof(ORVANE_STAT_HW_PORT, portType) == 24);
static_assert(offsetof(ORVANE_STAT_HW_PORT, portNumber) == 28);

struct ORVANE_STAT_ASIO_CHANNEL {
  uint32_t unused1[2];
  ORVANE_DEVICE_ID deviceId;  // the owning device
  uint32_t unused2;
  uint32_t connected;  // non-zero when connected
  char16_t name[ORVANE_CHANNEL_NAME_CHARS];
};
static_assert(isOrvaneRecord<ORVANE_STAT_ASIO_CHANNEL>);
static_assert(sizeof(ORVANE_STAT_ASIO_CHANNEL) == 108);
static_assert(offsetof(ORVANE_STAT_ASIO_CHANNEL, unused1) == 0);
static_assert(offsetof(ORVANE_STAT_ASIO_CHANNEL, deviceId) == 8);
static_assert(offsetof(ORVANE_STAT_ASIO_CHANNEL, unused2) == 16);
static_assert(offsetof(ORVANE_STAT_ASIO_CHANNEL, connected) == 20);
static_assert(offsetof(ORVANE_STAT_ASIO_CHANNEL, name) == 24);

inline constexpr size_t ORVANE_STAT_SOUND_DEVICE_NAME_CHARS = 46;  // including the terminator

struct ORVANE_STAT_SOUND_DEVICE {
  uint32_t unused1[2];
  ORVANE_DEVICE_ID deviceId;  // the owning device
  uint32_t unused2;
  uint32_t connected;  // non-zero when connected
  char16_t name[ORVANE_STAT_SOUND_DEVICE_NAME_CHARS];
  uint32_t buffersProcessed;
  uint32_t noBufferAvailable;
};
static_assert(isOrvaneRecord<ORVANE_STAT_SOUND_DEVICE>);
static_assert(sizeof(ORVANE_STAT_SOUND_DEVICE) == 124);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, unused1) == 0);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, deviceId) == 8);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, unused2) == 16);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, connected) == 20);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, name) == 24);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, buffersProcessed) == 116);
static_assert(offsetof(ORVANE_STAT_SOUND_DEVICE, noBufferAvailable) == 120);

// ---------------------------------------------------------------------------
// MIDI.

struct ORVANE_STAT_MIDI_PORT {
  uint32_t midiPortIdLow;  // key of the MIDI port map
  uint32_t midiPortIdHigh;
  ORVANE_DEVICE_ID deviceId;  // the owning device
  uint32_t index;             // node number
  uint32_t usageCount;
  uint32_t midiBytes;  // received (input port) or processed (output port)
};
static_assert(isOrvaneRecord<ORVANE_STAT_MIDI_PORT>);
static_assert(sizeof(ORVANE_STAT_MIDI_PORT) == 28);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, midiPortIdLow) == 0);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, midiPortIdHigh) == 4);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, deviceId) == 8);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, index) == 16);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, usageCount) == 20);
static_assert(offsetof(ORVANE_STAT_MIDI_PORT, midiBytes) == 24);

struct ORVANE_STAT_MIDI_CLIENT_IN {
  uint32_t midiPortIdLow;  // the port the client uses
  uint32_t midiPortIdHigh;
  uint32_t ksBuffersProcessed;  // kernel streaming buffers
  uint32_t ksNoBuffer;          // times no buffer came from kernel streaming
  uint32_t midiMessagesParsed;
  uint32_t midiBytesParsed;
  uint32_t sysExBytes;
  uint32_t noteOffMessages;
  uint32_t noteOnMessages;
  uint32_t polyPressureMessages;
  uint32_t controlChangeMessages;
  uint32_t programChangeMessages;
  uint32_t channelPressureMessages;
  uint32_t pitchBendMessages;
  uint32_t sysExStartMessages;
  uint32_t midiTimeCodeMessages;
  uint32_t songPositionMessages;
  uint32_t songSelectMessages;
  uint32_t tuneRequestMessages;
  uint32_t sysExEndMessages;
  uint32_t timingClockMessages;
  uint32_t startMessages;
  uint32_t continueMessages;
  uint32_t stopMessages;
  uint32_t activeSensingMessages;
  uint32_t systemResetMessages;
  uint32_t invalidMidiBytes;
  uint32_t inputBufferOverruns;
};
static_assert(isOrvaneRecord<ORVANE_STAT_MIDI_CLIENT_IN>);
static_assert(sizeof(ORVANE_STAT_MIDI_CLIENT_IN) == 112);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, midiPortIdLow) == 0);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, midiPortIdHigh) == 4);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, ksBuffersProcessed) == 8);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, ksNoBuffer) == 12);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, midiMessagesParsed) == 16);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, midiBytesParsed) == 20);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, sysExBytes) == 24);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, noteOffMessages) == 28);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, systemResetMessages) == 100);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, invalidMidiBytes) == 104);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_IN, inputBufferOverruns) == 108);

struct ORVANE_STAT_MIDI_CLIENT_OUT {
  uint32_t midiPortIdLow;
  uint32_t midiPortIdHigh;
  uint32_t ksBuffersProcessed;
  uint32_t ksNoBuffer;
};
static_assert(isOrvaneRecord<ORVANE_STAT_MIDI_CLIENT_OUT>);
static_assert(sizeof(ORVANE_STAT_MIDI_CLIENT_OUT) == 16);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_OUT, midiPortIdLow) == 0);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_OUT, midiPortIdHigh) == 4);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_OUT, ksBuffersProcessed) == 8);
static_assert(offsetof(ORVANE_STAT_MIDI_CLIENT_OUT, ksNoBuffer) == 12);

// ---------------------------------------------------------------------------
// ASIO hosts. Intervals in samples or microseconds as named.

struct ORVANE_STAT_ASIO_HOST {
  uint32_t inputChannelsAcquired;
  uint32_t outputChannelsAcquired;
  uint32_t channelsEnabled;  // flag
  uint32_t bufferSwitchEvents;
  uint32_t switchIntervalSamples;
  uint32_t switchIntervalMicroseconds;
  int32_t workerThreadPriority;
  uint32_t threadMissedEvents;
  uint32_t eventsMissed;
  int32_t minSwitchIntervalMicroseconds;
  int32_t maxSwitchIntervalMicroseconds;
  int32_t currentSwitchIntervalMicroseconds;
};
static_assert(isOrvaneRecord<ORVANE_STAT_ASIO_HOST>);
static_assert(sizeof(ORVANE_STAT_ASIO_HOST) == 48);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, inputChannelsAcquired) == 0);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, outputChannelsAcquired) == 4);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, channelsEnabled) == 8);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, bufferSwitchEvents) == 12);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, switchIntervalSamples) == 16);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, switchIntervalMicroseconds) == 20);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, workerThreadPriority) == 24);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, threadMissedEvents) == 28);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, eventsMissed) == 32);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, minSwitchIntervalMicroseconds) == 36);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, maxSwitchIntervalMicroseconds) == 40);
static_assert(offsetof(ORVANE_STAT_ASIO_HOST, currentSwitchIntervalMicroseconds) == 44);

// ---------------------------------------------------------------------------
// The whole record: tables of a u32 count and a fixed number of entry slots;
// the first count entries are valid. A count from the kernel driver must be
// limited to its table's slots before entries are read.

inline constexpr size_t ORVANE_STAT_MAX_DEVICES = 4;
inline constexpr size_t ORVANE_STAT_MAX_ISO_STREAMS = 4;  // per direction
inline constexpr size_t ORVANE_STAT_MAX_SPDIF_DEFRAMERS = 4;
inline constexpr size_t ORVANE_STAT_MAX_PORT_CHANNELS = 64;  // per direction
inline constexpr size_t ORVANE_STAT_MAX_HW_PORTS = 32;       // per direction
inline constexpr size_t ORVANE_STAT_MAX_ASIO_CHANNELS = 64;  // per direction
inline constexpr size_t ORVANE_STAT_MAX_SOUND_DEVICES = 48;  // per direction
inline constexpr size_t ORVANE_STAT_MAX_MIDI_PORTS = 4;      // per direction
inline constexpr size_t ORVANE_STAT_MAX_MIDI_CLIENTS = 8;    // per direction
inline constexpr size_t ORVANE_STAT_MAX_ASIO_HOSTS = 4;

struct ORVANE_STATISTICS {
  uint32_t generation;  // changes when the set of objects changed
  uint32_t unused;
  uint32_t deviceCount;
  ORVANE_STAT_DEVICE devices[ORVANE_STAT_MAX_DEVICES];
  uint32_t inputStreamCount;
  ORVANE_STAT_ISO_STREAM_IN inputStreams[ORVANE_STAT_MAX_ISO_STREAMS];
  uint32_t outputStreamCount;
  ORVANE_STAT_ISO_STREAM outputStreams[ORVANE_STAT_MAX_ISO_STREAMS];
  uint32_t spdifDeframerCount;
  ORVANE_STAT_SPDIF_DEFRAMER spdifDeframers[ORVANE_STAT_MAX_SPDIF_DEFRAMERS];
  uint32_t inputPortChannelCount;
  ORVANE_STAT_PORT_CHANNEL inputPortChannels[ORVANE_STAT_MAX_PORT_CHANNELS];
  uint32_t outputPortChannelCount;
  ORVANE_STAT_PORT_CHANNEL outputPortChannels[ORVANE_STAT_MAX_PORT_CHANNELS];
  uint32_t inputHwPortCount;
  ORVANE_STAT_HW_PORT inputHwPorts[ORVANE_STAT_MAX_HW_PORTS];
  uint32_t outputHwPortCount;
  ORVANE_STAT_HW_PORT outputHwPorts[ORVANE_STAT_MAX_HW_PORTS];
  uint32_t inputAsioChannelCount;
  ORVANE_STAT_ASIO_CHANNEL inputAsioChannels[ORVANE_STAT_MAX_ASIO_CHANNELS];
  uint32_t outputAsioChannelCount;
  ORVANE_STAT_ASIO_CHANNEL outputAsioChannels[ORVANE_STAT_MAX_ASIO_CHANNELS];
  uint32_t recordingSoundDeviceCount;
  ORVANE_STAT_SOUND_DEVICE recordingSoundDevices[ORVANE_STAT_MAX_SOUND_DEVICES];
  uint32_t playbackSoundDeviceCount;
  ORVANE_STAT_SOUND_DEVICE playbackSoundDevices[ORVANE_STAT_MAX_SOUND_DEVICES];
  uint32_t inputMidiPortCount;
  ORVANE_STAT_MIDI_PORT inputMidiPorts[ORVANE_STAT_MAX_MIDI_PORTS];
  uint32_t outputMidiPortCount;
  ORVANE_STAT_MIDI_PORT outputMidiPorts[ORVANE_STAT_MAX_MIDI_PORTS];
  uint32_t inputMidiClientCount;
  ORVANE_STAT_MIDI_CLIENT_IN inputMidiClients[ORVANE_STAT_MAX_MIDI_CLIENTS];
  uint32_t outputMidiClientCount;
  ORVANE_STAT_MIDI_CLIENT_OUT outputMidiClients[ORVANE_STAT_MAX_MIDI_CLIENTS];
  uint32_t asioHostCount;
  ORVANE_STAT_ASIO_HOST asioHosts[ORVANE_STAT_MAX_ASIO_HOSTS];
};
static_assert(isOrvaneRecord<ORVANE_STATISTICS>);
static_assert(sizeof(ORVANE_STATISTICS) == 36620);
static_assert(offsetof(ORVANE_STATISTICS, generation) == 0);
static_assert(offsetof(ORVANE_STATISTICS, unused) == 4);
static_assert(offsetof(ORVANE_STATISTICS, deviceCount) == 8);
static_assert(offsetof(ORVANE_STATISTICS, devices) == 12);
static_assert(offsetof(ORVANE_STATISTICS, inputStreamCount) == 364);
static_assert(offsetof(ORVANE_STATISTICS, inputStreams) == 368);
static_assert(offsetof(ORVANE_STATISTICS, outputStreamCount) == 896);
static_assert(offsetof(ORVANE_STATISTICS, outputStreams) == 900);
static_assert(offsetof(ORVANE_STATISTICS, spdifDeframerCount) == 1284);
static_assert(offsetof(ORVANE_STATISTICS, spdifDeframers) == 1288);
static_assert(offsetof(ORVANE_STATISTICS, inputPortChannelCount) == 1720);
static_assert(offsetof(ORVANE_STATISTICS, inputPortChannels) == 1724);
static_assert(offsetof(ORVANE_STATISTICS, outputPortChannelCount) == 4540);
static_assert(offsetof(ORVANE_STATISTICS, outputPortChannels) == 4544);
static_assert(offsetof(ORVANE_STATISTICS, inputHwPortCount) == 7360);
static_assert(offsetof(ORVANE_STATISTICS, inputHwPorts) == 7364);
static_assert(offsetof(ORVANE_STATISTICS, outputHwPortCount) == 8388);
static_assert(offsetof(ORVANE_STATISTICS, outputHwPorts) == 8392);
static_assert(offsetof(ORVANE_STATISTICS, inputAsioChannelCount) == 9416);
static_assert(offsetof(ORVANE_STATISTICS, inputAsioChannels) == 9420);
static_assert(offsetof(ORVANE_STATISTICS, outputAsioChannelCount) == 16332);
static_assert(offsetof(ORVANE_STATISTICS, outputAsioChannels) == 16336);
static_assert(offsetof(ORVANE_STATISTICS, recordingSoundDeviceCount) == 23248);
static_assert(offsetof(ORVANE_STATISTICS, recordingSoundDevices) == 23252);
static_assert(offsetof(ORVANE_STATISTICS, playbackSoundDeviceCount) == 29204);
static_assert(offsetof(ORVANE_STATISTICS, playbackSoundDevices) == 29208);
static_assert(offsetof(ORVANE_STATISTICS, inputMidiPortCount) == 35160);
static_assert(offsetof(ORVANE_STATISTICS, inputMidiPorts) == 35164);
static_assert(offsetof(ORVANE_STATISTICS, outputMidiPortCount) == 35276);
static_assert(offsetof(ORVANE_STATISTICS, outputMidiPorts) == 35280);
static_assert(offsetof(ORVANE_STATISTICS, inputMidiClientCount) == 35392);
static_assert(offsetof(ORVANE_STATISTICS, inputMidiClients) == 35396);
static_assert(offsetof(ORVANE_STATISTICS, outputMidiClientCount) == 36292);
static_assert(offsetof(ORVANE_STATISTICS, outputMidiClients) == 36296);
static_assert(offsetof(ORVANE_STATISTICS, asioHostCount) == 36424);
static_assert(offsetof(ORVANE_STATISTICS, asioHosts) == 36428);
static_assert(sizeof(ORVANE_STATISTICS) == ORVANE_REQUEST_GET_STATISTICS.output.bytes);

// ---------------------------------------------------------------------------
// Trace mask (output of ORVANE_IOCTL_GET_TRACE_MASK, input of
// ORVANE_IOCTL_SET_TRACE_MASK): bit n set means trace messages of category n
// are written.

struct ORVANE_TRACE_MASK {
  uint32_t mask;
};
static_assert(isOrvaneRecord<ORVANE_TRACE_MASK>);
static_assert(sizeof(ORVANE_TRACE_MASK) == 4);
static_assert(sizeof(ORVANE_TRACE_MASK) == ORVANE_REQUEST_GET_TRACE_MASK.output.bytes);
static_assert(sizeof(ORVANE_TRACE_MASK) == ORVANE_REQUEST_SET_TRACE_MASK.input.bytes);

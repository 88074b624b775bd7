#pragma once
// The ASIO host interface: the driver interface IASIO that audio applications
// (hosts) call, the callbacks a host hands the driver, and the records both
// exchange. Hosts and drivers are built separately, so everything here is
// binary layout: 32-bit integers where the interface says "long", records
// packed to 4 bytes, 64-bit sample positions and time stamps as two 32-bit
// words (high, then low), and the IASIO operations in their slot order after
// IUnknown's three.

#include <cstddef>
#include <cstdint>

#include "platform/com/com.h"

using ASIOError = int32_t;
using ASIOBool = int32_t;
using ASIOSampleRate = double;
using ASIOSampleType = int32_t;

inline constexpr ASIOBool ASIOFalse = 0;
inline constexpr ASIOBool ASIOTrue = 1;

inline constexpr ASIOError ASE_OK = 0;
inline constexpr ASIOError ASE_SUCCESS = 0x3F4847A0;
inline constexpr ASIOError ASE_NotPresent = -1000;
inline constexpr ASIOError ASE_HWMalfunction = -999;
inline constexpr ASIOError ASE_InvalidParameter = -998;
inline constexpr ASIOError ASE_InvalidMode = -997;
inline constexpr ASIOError ASE_SPNotAdvancing = -996;
inline constexpr ASIOError ASE_NoClock = -995;
inline constexpr ASIOError ASE_NoMemory = -994;

inline constexpr ASIOSampleType ASIOSTInt16MSB = 0;
inline constexpr ASIOSampleType ASIOSTInt24MSB = 1;
inline constexpr ASIOSampleType ASIOSTInt32MSB = 2;
inline constexpr ASIOSampleType ASIOSTFloat32MSB = 3;
inline constexpr ASIOSampleType ASIOSTFloat64MSB = 4;
inline constexpr ASIOSampleType ASIOSTInt16LSB = 16;
inline constexpr ASIOSampleType ASIOSTInt24LSB = 17;
inline constexpr ASIOSampleType ASIOSTInt32LSB = 18;
inline constexpr ASIOSampleType ASIOSTFloat32LSB = 19;
inline constexpr ASIOSampleType ASIOSTFloat64LSB = 20;
inline constexpr ASIOSampleType ASIOSTDSDInt8LSB1 = 32;
inline constexpr ASIOSampleType ASIOSTDSDInt8MSB1 = 33;
inline constexpr ASIOSampleType ASIOSTDSDInt8NER8 = 40;

// Host message selectors (asioMessage).
inline constexpr int32_t kAsioSelectorSupported = 1;
inline constexpr int32_t kAsioEngineVersion = 2;
inline constexpr int32_t kAsioResetRequest = 3;
inline constexpr int32_t kAsioBufferSizeChange = 4;
inline constexpr int32_t kAsioResyncRequest = 5;
inline constexpr int32_t kAsioLatenciesChanged = 6;
inline constexpr int32_t kAsioSupportsTimeInfo = 7;
inline constexpr int32_t kAsioSupportsTimeCode = 8;
inline constexpr int32_t kAsioMMCCommand = 9;
inline constexpr int32_t kAsioSupportsInputMonitor = 10;
inline constexpr int32_t kAsioSupportsInputGain = 11;
inline constexpr int32_t kAsioSupportsInputMeter = 12;
inline constexpr int32_t kAsioSupportsOutputGain = 13;
inline constexpr int32_t kAsioSupportsOutputMeter = 14;
inline constexpr int32_t kAsioOverload = 15;

// Selectors of IASIO::future.
inline constexpr int32_t kAsioEnableTimeCodeRead = 1;
inline constexpr int32_t kAsioDisableTimeCodeRead = 2;
inline constexpr int32_t kAsioSetInputMonitor = 3;
inline constexpr int32_t kAsioTransport = 4;
inline constexpr int32_t kAsioSetInputGain = 5;
inline constexpr int32_t kAsioGetInputMeter = 6;
inline constexpr int32_t kAsioSetOutputGain = 7;
inline constexpr int32_t kAsioGetOutputMeter = 8;
inline constexpr int32_t kAsioCanInputMonitor = 9;
inline constexpr int32_t kAsioCanTimeInfo = 10;
inline constexpr int32_t kAsioCanTimeCode = 11;
inline constexpr int32_t kAsioCanTransport = 12;
inline constexpr int32_t kAsioCanInputGain = 13;
inline constexpr int32_t kAsioCanInputMeter = 14;
inline constexpr int32_t kAsioCanOutputGain = 15;
inline constexpr int32_t kAsioCanOutputMeter = 16;
inline constexpr int32_t kAsioOptionalOne = 17;
inline constexpr int32_t kAsioSetIoFormat = 0x23111961;
inline constexpr int32_t kAsioGetIoFormat = 0x23111983;
inline constexpr int32_t kAsioCanDoIoFormat = 0x23112004;

// Time info flags.
inline constexpr uint32_t kSystemTimeValid = 1;
inline constexpr uint32_t kSamplePositionValid = 2;
inline constexpr uint32_t kSampleRateValid = 4;
inline constexpr uint32_t kSpeedValid = 8;
inline constexpr uint32_t kSampleRateChanged = 16;
inline constexpr uint32_t kClockSourceChanged = 32;

// I/O format types.
using ASIOIoFormatType = int32_t;
inline constexpr ASIOIoFormatType kASIOFormatInvalid = -1;
inline constexpr ASIOIoFormatType kASIOPCMFormat = 0;
inline constexpr ASIOIoFormatType kASIODSDFormat = 1;

#pragma pack(push, 4)

// A 64-bit count as two words, the high one first.
struct ASIOSamples {
  uint32_t hi;
  uint32_t lo;
};
// Nanoseconds, as two words, the high one first.
struct ASIOTimeStamp {
  uint32_t hi;
  uint32_t lo;
};

struct ASIOClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
};

struct ASIOChannelInfo {
  int32_t channel;
  ASIOBool isInput;
  ASIOBool isActive;
  int32_t channelGroup;
  ASIOSampleType type;
  char name[32];
};

struct ASIOBufferInfo {
  ASIOBool isInput;
  int32_t channelNum;
  void* buffers[2];
};

struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  uint32_t flags;
  char reserved[12];
};

struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  uint32_t flags;
  char future[64];
};

struct ASIOTime {
  int32_t reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
};

struct ASIOCallbacks {
  void (*bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
  void (*sampleRateDidChange)(ASIOSampleRate rate);
  int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex, ASIOBool directProcess);
};

struct ASIOIoFormat {
  ASIOIoFormatType FormatType;
  char future[512 - sizeof(ASIOIoFormatType)];
};

#pragma pack(pop)

static_assert(sizeof(ASIOSamples) == 8 && offsetof(ASIOSamples, lo) == 4);
static_assert(sizeof(ASIOTimeStamp) == 8 && offsetof(ASIOTimeStamp, lo) == 4);
static_assert(sizeof(ASIOClockSource) == 48 && offsetof(ASIOClockSource, name) == 16);
static_assert(sizeof(ASIOChannelInfo) == 52 && offsetof(ASIOChannelInfo, type) == 16 &&
              offsetof(ASIOChannelInfo, name) == 20);
static_assert(sizeof(ASIOBufferInfo) == 24 && offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(AsioTimeInfo) == 48 && offsetof(AsioTimeInfo, systemTime) == 8 &&
              offsetof(AsioTimeInfo, samplePosition) == 16 && offsetof(AsioTimeInfo, sampleRate) == 24 &&
              offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(ASIOTimeCode) == 84 && offsetof(ASIOTimeCode, flags) == 16 &&
              offsetof(ASIOTimeCode, future) == 20);
static_assert(sizeof(ASIOTime) == 148 && offsetof(ASIOTime, timeInfo) == 16 && offsetof(ASIOTime, timeCode) == 64);
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*));
static_assert(sizeof(ASIOIoFormat) == 512);

// The driver interface, slots 3 to 23 after IUnknown's.
class IASIO : public platform::IUnknown {
 public:
  virtual ASIOBool init(void* systemHandle) = 0;
  virtual void getDriverName(char* name) = 0;  // 32 characters
  virtual int32_t getDriverVersion() = 0;
  virtual void getErrorMessage(char* text) = 0;  // 124 characters
  virtual ASIOError start() = 0;
  virtual ASIOError stop() = 0;
  virtual ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
  virtual ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
  virtual ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                  int32_t* granularity) = 0;
  virtual ASIOError canSampleRate(ASIOSampleRate rate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* rate) = 0;
  virtual ASIOError setSampleRate(ASIOSampleRate rate) = 0;
  virtual ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
  virtual ASIOError setClockSource(int32_t reference) = 0;
  virtual ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* timeStamp) = 0;
  virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                  ASIOCallbacks* callbacks) = 0;
  virtual ASIOError disposeBuffers() = 0;
  virtual ASIOError controlPanel() = 0;
  virtual ASIOError future(int32_t selector, void* parameter) = 0;
  virtual ASIOError outputReady() = 0;

 protected:
  ~IASIO() = default;
};

// Length of the narrow texts of getDriverName and getErrorMessage.
inline constexpr size_t kAsioDriverNameChars = 32;
inline constexpr size_t kAsioErrorMessageChars = 124;

// Samples and time stamps as one 64-bit value and back.
inline uint64_t asioWordsToValue(uint32_t hi, uint32_t lo) { return (uint64_t{hi} << 32) | lo; }
inline ASIOSamples asioSamples(uint64_t value) {
  return ASIOSamples{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}
inline ASIOTimeStamp asioTimeStamp(uint64_t value) {
  return ASIOTimeStamp{static_cast<uint32_t>(value >> 32), static_cast<uint32_t>(value)};
}

#pragma once
// One ASIO driver as an audio application uses it: found under
// HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, created by its class identifier,
// initialised, asked for its channels, rates and buffer sizes, and streamed:
// the test signal to the outputs, the inputs checked against it, the buffer
// switch intervals measured. The host answers the driver's messages as a host
// should: a reset request or a buffer size change stops the stream, disposes
// the buffers and creates them again with the driver's new settings.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/asio/asio_interface.h"
#include "platform/com/com.h"
#include "tools/asio-host/loopback_signal.h"

struct RegisteredDriver {
  std::string name;  // the key name under SOFTWARE\ASIO
  std::string clsid;
  std::string description;
};

// The drivers registered under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO; 0 or a
// system error (2 when there is no such key).
uint32_t listRegisteredDrivers(std::vector<RegisteredDriver>& drivers);

struct ChannelDescription {
  int32_t number = 0;
  bool input = false;
  std::string name;
  ASIOSampleType type = 0;
};

struct DriverDescription {
  std::string name;
  int32_t version = 0;
  std::vector<ChannelDescription> inputs;
  std::vector<ChannelDescription> outputs;
  double sampleRate = 0;
  std::vector<uint32_t> supportedRates;  // of the common rates, those canSampleRate accepts
  int32_t minimumSize = 0, maximumSize = 0, preferredSize = 0, granularity = 0;
  int32_t inputLatency = 0, outputLatency = 0;
};

struct StreamOptions {
  double seconds = 5;
  std::vector<int32_t> inputs;   // channel numbers; empty: all
  std::vector<int32_t> outputs;  // channel numbers; empty: all
  bool allInputs = true;
  bool allOutputs = true;
  int32_t bufferSize = 0;  // 0: the preferred size
  uint32_t rate = 0;       // 0: keep the current rate
};

// What happened while streaming, in order ("reset request at 1.234 s", ...).
struct StreamEvent {
  double atSeconds = 0;
  std::string text;
};

struct StreamReport {
  std::string failure;  // empty when everything worked
  double sampleRate = 0;
  int32_t bufferSize = 0;
  size_t inputs = 0, outputs = 0;
  int32_t inputLatency = 0, outputLatency = 0;
  uint64_t switches = 0;
  // Buffer switch intervals in nanoseconds.
  int64_t intervalP50 = 0, intervalP99 = 0, intervalWorst = 0;
  bool kernelStatisticsRead = false;
  uint64_t kernelSwitches = 0;
  uint64_t missedSwitches = 0;  // from the kernel driver's statistics
  std::vector<StreamEvent> events;
  std::vector<LoopbackCheck::InputResult> loopback;
  std::vector<int32_t> inputNumbers;  // ASIO numbers of the checked inputs
  bool toneIntact = false;
};

// Ends a running stream early, as if its time were up; safe in a signal handler.
void interruptStream();

class HostSession {
 public:
  HostSession();
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Creates the driver of `driver` through the class registry; false with
  // the reason in `error`.
  bool load(const RegisteredDriver& driver, std::string* error);
  // init; false with the driver's error message in `error`.
  bool init(std::string* error);
  DriverDescription describe();
  StreamReport stream(const StreamOptions& options);

 private:
  IASIO* driver_ = nullptr;
};

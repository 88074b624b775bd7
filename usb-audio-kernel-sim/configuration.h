#pragma once
// What the simulated driver is told at load: the driver parameters under its
// service key's Parameters, and the virtual devices of its configuration file.
//
// Configuration file: lines "key = value", '#' starts a comment, every
// "[device]" line starts a device (keys in docs/usb-audio-sim.md).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_records.h"

namespace usbaudio_sim {

inline constexpr size_t kMaxConfiguredDevices = 16;
inline constexpr uint32_t kMaxPortChannels = 32;  // per port type and direction

struct SpdifInputState {
  uint32_t inputState = ORVANE_SPDIF_INPUT_NO_SIGNAL;
  uint32_t signalFormat = ORVANE_SPDIF_FORMAT_UNKNOWN;
  uint32_t sampleRate = 0;
};

struct DeviceDescription {
  uint16_t vendorId = 0x2F1A;
  uint16_t productId = 0x0110;
  std::u16string serial;  // at most 19 characters
  std::u16string name;    // at most 41 characters
  bool highSpeed = true;
  uint32_t i2sInputs = 0;
  uint32_t i2sOutputs = 0;
  uint32_t spdifInputs = 0;
  uint32_t spdifOutputs = 0;
  uint32_t dsdInputs = 0;
  uint32_t dsdOutputs = 0;
  uint32_t virtualInputs = 0;
  uint32_t virtualOutputs = 0;
  std::vector<uint32_t> sampleRates;  // ascending, 1 to 10
  SpdifInputState spdifInput;
  bool echoPlugin = false;
  // Pins of ORVANE_IOCTL_GET_MIXER_PINS by selector (outputs, monitor
  // inputs, playback inputs).
  std::array<std::vector<ORVANE_MIXER_PIN>, 3> mixerPins;
  uint32_t revision = 0x0100;
  uint32_t boardId = 1;
  std::array<uint8_t, 3> firmwareVersion{1, 0, 0};
  bool plugged = true;  // plugged when the driver loads
};

struct Configuration {
  std::vector<DeviceDescription> devices;
};

// Parses a whole configuration file. False with a message naming the line.
bool parseConfiguration(std::string_view text, Configuration* configuration, std::string* error);
// Parses the lines of one device (the body of a [device] section).
bool parseDeviceDescription(std::string_view text, DeviceDescription* device, std::string* error);
bool readConfigurationFile(const std::string& path, Configuration* configuration, std::string* error);


struct DriverParameters {
  std::u16string parametersKey;  // below HKEY_LOCAL_MACHINE
  std::string configFile;        // "ConfigFile", else the default file
  uint32_t interfaceVersionMinor = 1;
  uint32_t driverVersionMajor = 1;
  uint32_t driverVersionMinor = 0;
  uint32_t driverVersionBuild = 0;
  bool debugBuild = false;
  uint32_t traceMask = 0;
};

// The Parameters key below HKEY_LOCAL_MACHINE for a service key path
// ("\Registry\Machine\System\...\Services\<name>"); empty when the path does
// not name a key of HKEY_LOCAL_MACHINE.
std::u16string parametersKeyFor(std::u16string_view registryPath);

// Reads the values under the Parameters key (a missing key or value keeps
// the default). False with a message for a malformed value.
bool readDriverParameters(std::u16string_view registryPath, const std::string& defaultConfigFile,
                          DriverParameters* parameters, std::string* error);

// Stores the trace mask as "TraceMask" under the Parameters key; 0 or a system error.
uint32_t saveTraceMask(const std::u16string& parametersKey, uint32_t mask);

}  // namespace usbaudio_sim

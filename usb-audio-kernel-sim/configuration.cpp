#include "usb-audio-kernel-sim/configuration.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "device-access/orvane_panel_records.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace usbaudio_sim {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> result;
  size_t position = 0;
  while (position < text.size()) {
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) ++position;
    const size_t start = position;
    while (position < text.size() && text[position] != ' ' && text[position] != '\t') ++position;
    if (position > start) result.push_back(text.substr(start, position - start));
  }
  return result;
}

bool parseNumber(std::string_view text, uint64_t limit, uint32_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t parsed = 0;
  const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
  if (code != std::errc() || end != text.data() + text.size() || parsed > limit) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

bool parseFlag(std::string_view text, bool* value) {
  if (text == "yes" || text == "true" || text == "1") {
    *value = true;
    return true;
  }
  if (text == "no" || text == "false" || text == "0") {
    *value = false;
    return true;
  }
  return false;
}

bool parseText(std::string_view text, size_t maxChars, std::u16string* value) {
  std::u16string wide = platform::toWide(text);
  if (wide.size() > maxChars || wide.find(u'\0') != std::u16string::npos) return false;
  *value = std::move(wide);
  return true;
}

bool parseRates(std::string_view text, std::vector<uint32_t>* rates) {
  std::vector<uint32_t> parsed;
  for (std::string_view word : words(text)) {
    uint32_t rate = 0;
    if (!parseNumber(word, 12'288'000, &rate) || rate < 8000) return false;
    if (!parsed.empty() && rate <= parsed.back()) return false;  // ascending, no repeats
    parsed.push_back(rate);
  }
  if (parsed.empty() || parsed.size() > ORVANE_MAX_SAMPLE_RATES) return false;
  *rates = std::move(parsed);
  return true;
}

// "TYPE:COUNT ..." with the mixer port type and the number of channels.
bool parsePins(std::string_view text, size_t maxPins, std::vector<ORVANE_MIXER_PIN>* pins) {
  std::vector<ORVANE_MIXER_PIN> parsed;
  for (std::string_view word : words(text)) {
    const size_t colon = word.find(':');
    uint32_t type = 0;
    uint32_t count = 0;
    if (colon == std::string_view::npos || !parseNumber(word.substr(0, colon), 255, &type) ||
        !parseNumber(word.substr(colon + 1), 255, &count)) {
      return false;
    }
    for (uint32_t channel = 0; channel < count; ++channel) {
      parsed.push_back(ORVANE_MIXER_PIN{static_cast<uint8_t>(type), static_cast<uint8_t>(channel), {0, 0}});
    }
  }
  if (parsed.size() > maxPins) return false;
  *pins = std::move(parsed);
  return true;
}

// "no-signal", "not-streaming", "synchronizing", "locked pcm RATE", "locked non-pcm".
bool parseSpdifInput(std::string_view text, SpdifInputState* state) {
  const std::vector<std::string_view> parts = words(text);
  if (parts.empty()) return false;
  SpdifInputState parsed;
  if (parts[0] == "not-streaming" && parts.size() == 1) {
    parsed.inputState = ORVANE_SPDIF_INPUT_NOT_STREAMING;
  } else if (parts[0] == "no-signal" && parts.size() == 1) {
    parsed.inputState = ORVANE_SPDIF_INPUT_NO_SIGNAL;
  } else if (parts[0] == "synchronizing" && parts.size() == 1) {
    parsed.inputState = ORVANE_SPDIF_INPUT_SYNCHRONIZING;
  } else if (parts[0] == "locked" && parts.size() == 3 && parts[1] == "pcm") {
    parsed.inputState = ORVANE_SPDIF_INPUT_LOCKED;
    parsed.signalFormat = ORVANE_SPDIF_FORMAT_PCM;
    if (!parseNumber(parts[2], 384000, &parsed.sampleRate)) return false;
  } else if (parts[0] == "locked" && parts.size() == 2 && parts[1] == "non-pcm") {
    parsed.inputState = ORVANE_SPDIF_INPUT_LOCKED;
    parsed.signalFormat = ORVANE_SPDIF_FORMAT_NON_PCM;
  } else {
    return false;
  }
  *state = parsed;
  return true;
}

bool parseFirmware(std::string_view text, std::array<uint8_t, 3>* version) {
  std::array<uint8_t, 3> parsed{};
  size_t part = 0;
  size_t start = 0;
  while (part < 3) {
    const size_t dot = text.find('.', start);
    const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    uint32_t value = 0;
    if (!parseNumber(piece, 255, &value)) return false;
    parsed[part++] = static_cast<uint8_t>(value);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (part != 3) return false;
  *version = parsed;
  return true;
}

bool applyKey(std::string_view key, std::string_view value, DeviceDescription* device) {
  uint32_t number = 0;
  auto count = [&](uint32_t* field) {
    if (!parseNumber(value, kMaxPortChannels, &number)) return false;
    *field = number;
    return true;
  };
  if (key == "vendor" || key == "product") {
    if (!parseNumber(value, 0xFFFF, &number)) return false;
    (key == "vendor" ? device->vendorId : device->productId) = static_cast<uint16_t>(number);
    return true;
  }
  if (key == "serial") return parseText(value, ORVANE_SERIAL_NUMBER_CHARS - 1, &device->serial);
  if (key == "name") return parseText(value, ORVANE_DEVICE_NAME_CHARS - 1, &device->name);
  if (key == "high_speed") return parseFlag(value, &device->highSpeed);
  if (key == "i2s_inputs") return count(&device->i2sInputs);
  if (key == "i2s_outputs") return count(&device->i2sOutputs);
  if (key == "spdif_inputs") return count(&device->spdifInputs);
  if (key == "spdif_outputs") return count(&device->spdifOutputs);
  if (key == "dsd_inputs") return count(&device->dsdInputs);
  if (key == "dsd_outputs") return count(&device->dsdOutputs);
  if (key == "virtual_inputs") return count(&device->virtualInputs);
  if (key == "virtual_outputs") return count(&device->virtualOutputs);
  if (key == "rates") return parseRates(value, &device->sampleRates);
  if (key == "spdif_input") return parseSpdifInput(value, &device->spdifInput);
  if (key == "echo_plugin") return parseFlag(value, &device->echoPlugin);
  if (key == "mixer_outputs") return parsePins(value, ORVANE_MIXER_MAX_OUTPUT_PINS, &device->mixerPins[0]);
  if (key == "mixer_monitor_inputs") return parsePins(value, ORVANE_MIXER_MAX_INPUT_PINS, &device->mixerPins[1]);
  if (key == "mixer_playback_inputs") return parsePins(value, ORVANE_MIXER_MAX_INPUT_PINS, &device->mixerPins[2]);
  if (key == "revision") return parseNumber(value, 0xFFFFFFFF, &device->revision);
  if (key == "board_id") return parseNumber(value, 0xFFFFFFFF, &device->boardId);
  if (key == "firmware") return parseFirmware(value, &device->firmwareVersion);
  if (key == "plugged") return parseFlag(value, &device->plugged);
  return false;
}

bool checkDevice(const DeviceDescription& device, std::string* error) {
  if (device.name.empty()) {
    *error = "the device has no name";
    return false;
  }
  if (device.sampleRates.empty()) {
    *error = "the device has no rates";
    return false;
  }
  const uint32_t pcmInputs = device.i2sInputs + device.spdifInputs + device.virtualInputs;
  const uint32_t pcmOutputs = device.i2sOutputs + device.spdifOutputs + device.virtualOutputs;
  if (pcmInputs + pcmOutputs + device.dsdInputs + device.dsdOutputs == 0) {
    *error = "the device has no channels";
    return false;
  }
  return true;
}

std::string lineError(size_t line, const std::string& message) {
  return "line " + std::to_string(line) + ": " + message;
}

// Parses "key = value" lines into `device`; `firstLine` numbers the messages.
bool parseLines(std::string_view text, size_t firstLine, DeviceDescription* device, std::string* error) {
  size_t lineNumber = firstLine;
  size_t position = 0;
  while (position <= text.size()) {
    const size_t end = std::min(text.find('\n', position), text.size());
    std::string_view line = text.substr(position, end - position);
    position = end + 1;
    const size_t comment = line.find('#');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    line = trim(line);
    if (!line.empty()) {
      const size_t equals = line.find('=');
      if (equals == std::string_view::npos) {
        *error = lineError(lineNumber, "expected key = value");
        return false;
      }
      const std::string_view key = trim(line.substr(0, equals));
      const std::string_view value = trim(line.substr(equals + 1));
      if (!applyKey(key, value, device)) {
        *error = lineError(lineNumber, "bad value for '" + std::string(key) + "' (or unknown key)");
        return false;
      }
    }
    ++lineNumber;
    if (end == text.size()) break;
  }
  return true;
}

}  // namespace

bool parseDeviceDescription(std::string_view text, DeviceDescription* device, std::string* error) {
  DeviceDescription parsed;
  if (!parseLines(text, 1, &parsed, error) || !checkDevice(parsed, error)) return false;
  *device = std::move(parsed);
  return true;
}

bool parseConfiguration(std::string_view text, Configuration* configuration, std::string* error) {
  Configuration parsed;
  // Split at "[device]" lines; anything before the first one must be blank.
  size_t lineNumber = 1;
  size_t position = 0;
  size_t sectionStart = std::string_view::npos;
  size_t sectionLine = 0;
  auto finishSection = [&](size_t end) {
    if (sectionStart == std::string_view::npos) return true;
    DeviceDescription device;
    if (!parseLines(text.substr(sectionStart, end - sectionStart), sectionLine, &device, error)) return false;
    if (!checkDevice(device, error)) {
      *error = lineError(sectionLine - 1, *error);
      return false;
    }
    if (parsed.devices.size() == kMaxConfiguredDevices) {
      *error = "more than " + std::to_string(kMaxConfiguredDevices) + " devices";
      return false;
    }
    parsed.devices.push_back(std::move(device));
    return true;
  };
  while (position <= text.size()) {
    const size_t end = std::min(text.find('\n', position), text.size());
    std::string_view line = text.substr(position, end - position);
    const size_t comment = line.find('#');
    if (comment != std::string_view::npos) line = line.substr(0, comment);
    line = trim(line);
    if (line == "[device]") {
      if (!finishSection(position)) return false;
      sectionStart = end + 1 <= text.size() ? end + 1 : text.size();
      sectionLine = lineNumber + 1;
    } else if (!line.empty() && sectionStart == std::string_view::npos) {
      *error = lineError(lineNumber, "expected [device]");
      return false;
    }
    ++lineNumber;
    if (end == text.size()) break;
    position = end + 1;
  }
  if (!finishSection(text.size())) return false;
  *configuration = std::move(parsed);
  return true;
}

bool readConfigurationFile(const std::string& path, Configuration* configuration, std::string* error) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path + ": " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  std::stringstream content;
  content << file.rdbuf();
  if (!parseConfiguration(content.str(), configuration, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

std::u16string parametersKeyFor(std::u16string_view registryPath) {
  constexpr std::u16string_view kMachine = u"\\registry\\machine\\";
  if (registryPath.size() <= kMachine.size() ||
      platform::foldCase(registryPath.substr(0, kMachine.size())) != kMachine) {
    return {};
  }
  return std::u16string(registryPath.substr(kMachine.size())) + u"\\Parameters";
}

namespace {

// "major.minor.build"
bool parseVersion(const std::u16string& text, DriverParameters* parameters) {
  const std::string narrow = platform::toUtf8(text);
  uint32_t parts[3] = {};
  size_t part = 0;
  size_t start = 0;
  while (part < 3) {
    const size_t dot = narrow.find('.', start);
    const std::string piece = narrow.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!parseNumber(piece, 0xFFFFFFFF, &parts[part])) return false;
    ++part;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (part != 3) return false;
  parameters->driverVersionMajor = parts[0];
  parameters->driverVersionMinor = parts[1];
  parameters->driverVersionBuild = parts[2];
  return true;
}

}  // namespace

bool readDriverParameters(std::u16string_view registryPath, const std::string& defaultConfigFile,
                          DriverParameters* parameters, std::string* error) {
  DriverParameters result;
  result.parametersKey = parametersKeyFor(registryPath);
  result.configFile = defaultConfigFile;
  if (result.parametersKey.empty()) {
    *error = "the registry path names no key of HKEY_LOCAL_MACHINE";
    return false;
  }
  platform::RegistryKey key;
  const uint32_t opened =
      platform::RegistryKey::open(platform::RegistryHive::LocalMachine, result.parametersKey, platform::KEY_READ, key);
  bool ok = true;
  if (opened != 0 && opened != platform::ERROR_FILE_NOT_FOUND) {
    // A registry that cannot be read is not the same as no parameters: the
    // driver would start on defaults its owner did not choose.
    *error = "cannot read the parameters HKEY_LOCAL_MACHINE\\" + platform::toUtf8(result.parametersKey) + ": " +
             platform::errorMessage(opened) + " (system error " + std::to_string(opened) + ")";
    ok = false;
  } else if (opened == 0) {
    // A value that is missing keeps its default; one that cannot be read as
    // its type is an error.
    auto read = [&](const char* name, uint32_t status) {
      if (status == 0 || status == platform::ERROR_FILE_NOT_FOUND || !ok) return status == 0;
      *error = std::string("the registry value ") + name + " cannot be read: " + platform::errorMessage(status) +
               " (system error " + std::to_string(status) + ")";
      ok = false;
      return false;
    };
    auto fail = [&](const char* name) {
      *error = std::string("malformed registry value ") + name;
      ok = false;
    };
    std::u16string text;
    uint32_t number = 0;
    if (read("ConfigFile", key.getString(u"ConfigFile", text)) && !text.empty()) {
      result.configFile = platform::toUtf8(text);
    }
    if (read("DriverVersion", key.getString(u"DriverVersion", text)) && !parseVersion(text, &result)) {
      fail("DriverVersion");
    }
    if (read("DebugBuild", key.getDword(u"DebugBuild", number))) result.debugBuild = number != 0;
    if (read("InterfaceVersionMinor", key.getDword(u"InterfaceVersionMinor", number))) {
      result.interfaceVersionMinor = number;
    }
    if (read("TraceMask", key.getDword(u"TraceMask", number))) result.traceMask = number;
  }
  key.close();
  // This module has its own registry connection: close it so that it never
  // outlives the system root it was opened on.
  platform::closeRegistry();
  if (ok) *parameters = std::move(result);
  return ok;
}

uint32_t saveTraceMask(const std::u16string& parametersKey, uint32_t mask) {
  platform::RegistryKey key;
  uint32_t result =
      platform::RegistryKey::create(platform::RegistryHive::LocalMachine, parametersKey, platform::KEY_ALL_ACCESS, key);
  if (result == 0) result = key.setDword(u"TraceMask", mask);
  key.close();
  platform::closeRegistry();
  return result;
}

}  // namespace usbaudio_sim

#include "platform/midi_devices.h"

#include <map>

#include "platform/device_interfaces.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/handles.h"
#include "platform/kernel_streaming.h"
#include "platform/kernel_streaming_client.h"
#include "platform/registry.h"

namespace platform {

namespace {

struct PinDirections {
  bool render = false;
  bool capture = false;
};

uint32_t pinWord(Handle filter, uint32_t id, uint32_t pin, uint32_t* value) {
  KSP_PIN request{};
  request.property = {KSPROPSETID_Pin, id, KSPROPERTY_TYPE_GET};
  request.pinId = pin;
  uint32_t returned = 0;
  const uint32_t error = ksGetProperty(filter, &request, sizeof request, value, sizeof *value, &returned);
  return error == 0 && returned != sizeof *value ? ERROR_INVALID_DATA : error;
}

// The streaming pins of a filter (communication sink), by data flow.
PinDirections streamingPins(const std::u16string& devicePath) {
  PinDirections found;
  const Handle filter = openDevice(devicePath);
  if (filter == kInvalidHandle) return found;
  KSPROPERTY count{KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET};
  uint32_t pins = 0;
  uint32_t returned = 0;
  if (ksGetProperty(filter, &count, sizeof count, &pins, sizeof pins, &returned) == 0 && returned == sizeof pins) {
    for (uint32_t pin = 0; pin < pins; ++pin) {
      uint32_t communication = 0;
      uint32_t flow = 0;
      if (pinWord(filter, KSPROPERTY_PIN_COMMUNICATION, pin, &communication) != 0 ||
          (communication & KSPIN_COMMUNICATION_SINK) == 0 || pinWord(filter, KSPROPERTY_PIN_DATAFLOW, pin, &flow) != 0) {
        continue;
      }
      if (flow == KSPIN_DATAFLOW_IN) found.render = true;
      if (flow == KSPIN_DATAFLOW_OUT) found.capture = true;
    }
  }
  closeHandle(filter);
  return found;
}

// "root#media#0000#{class}#name" → "root\media\0000".
std::u16string instancePath(const std::u16string& linkName) {
  std::u16string path;
  size_t start = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t hash = linkName.find(u'#', start);
    if (hash == std::u16string::npos) return {};
    if (part > 0) path += u'\\';
    path += linkName.substr(start, hash - start);
    start = hash + 1;
  }
  return path;
}

std::u16string baseName(const DeviceInterface& device) {
  std::u16string name = device.description;
  const std::u16string instance = instancePath(device.linkName);
  RegistryKey key;
  std::u16string friendly;
  if (!instance.empty() &&
      RegistryKey::open(RegistryHive::LocalMachine,
                        u"System\\CurrentControlSet\\Enum\\" + instance + u"\\Device Parameters", KEY_QUERY_VALUE,
                        key) == 0 &&
      key.getString(u"FriendlyName", friendly) == 0 && !friendly.empty()) {
    name = friendly;
  }
  return name.substr(0, kMidiNameCharacters);
}

}  // namespace

std::vector<std::u16string> midiDeviceNames(MidiDirection direction) {
  std::vector<std::u16string> names;
  std::map<std::u16string, int> uses;
  for (const DeviceInterface& device : enumerateDeviceInterfaces(KSCATEGORY_AUDIO)) {
    const PinDirections pins = streamingPins(device.devicePath());
    if (!(direction == MidiDirection::output ? pins.render : pins.capture)) continue;
    const std::u16string base = baseName(device);
    const int use = ++uses[base];
    std::u16string name = use == 1 ? base : formatText(u"%d- ", use) + base;
    names.push_back(name.substr(0, kMidiNameCharacters));
  }
  return names;
}

}  // namespace platform

#include "tools/midiport/mirelo_ports.h"

#include <cstdint>

#include "ethernet-midi-driver/mirelo_device.h"
#include "platform/device_interfaces.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/kernel_streaming_client.h"

namespace mirelo_tools {

using namespace platform;

MireloPorts findMireloPorts() {
  MireloPorts found;
  const std::u16string_view marker = mirelo::kPortMarker;
  for (const DeviceInterface& candidate : enumerateDeviceInterfaces(KSCATEGORY_AUDIO)) {
    if (candidate.description != mirelo::kDeviceDescription) continue;
    const std::u16string& link = candidate.linkName;
    if (link.find(mirelo::kControlFilterMarker) != std::u16string::npos) {
      if (found.controlFilter.empty()) found.controlFilter = candidate.devicePath();
      continue;
    }
    const size_t at = link.rfind(marker);
    if (at == std::u16string::npos || link.size() != at + marker.size() + 2) continue;
    const char16_t tens = link[at + marker.size()];
    const char16_t ones = link[at + marker.size() + 1];
    if (tens < u'0' || tens > u'9' || ones < u'0' || ones > u'9') continue;
    const uint32_t number = static_cast<uint32_t>((tens - u'0') * 10 + (ones - u'0'));
    if (number >= 1 && found.ports.count(number) == 0) found.ports[number] = candidate.devicePath();
  }
  return found;
}

ControlFilter::~ControlFilter() {
  if (handle_ != nullptr) closeHandle(handle_);
}

uint32_t ControlFilter::open(const std::u16string& devicePath) {
  const Handle handle = openDevice(devicePath);
  if (handle == kInvalidHandle) return lastError();
  if (handle_ != nullptr) closeHandle(handle_);
  handle_ = handle;
  return ERROR_SUCCESS;
}

namespace {

uint32_t getWord(Handle handle, uint32_t id, uint32_t* value) {
  const KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(id, KSPROPERTY_TYPE_GET, mirelo::kMuteNode);
  uint32_t returned = 0;
  const uint32_t error = ksGetProperty(handle, &request, sizeof request, value, sizeof *value, &returned);
  if (error == ERROR_SUCCESS && returned != sizeof *value) return ERROR_INVALID_DATA;
  return error;
}

uint32_t setWord(Handle handle, uint32_t id, uint32_t value) {
  const KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(id, KSPROPERTY_TYPE_SET, mirelo::kMuteNode);
  return ksSetProperty(handle, &request, sizeof request, &value, sizeof value);
}

}  // namespace

uint32_t ControlFilter::getMuteMask(uint32_t* mask) { return getWord(handle_, KSPROPERTY_AUDIO_MUTE, mask); }

uint32_t ControlFilter::setMuteMask(uint32_t mask) { return setWord(handle_, KSPROPERTY_AUDIO_MUTE, mask); }

uint32_t ControlFilter::getStatusWord(uint32_t* status) {
  return getWord(handle_, KSPROPERTY_AUDIO_DEV_SPECIFIC, status);
}

uint32_t ControlFilter::setLoopback(bool on) { return setWord(handle_, KSPROPERTY_AUDIO_DEV_SPECIFIC, on ? 1 : 0); }

uint32_t ControlFilter::enableControlChange(Handle event) {
  KSE_NODE request{};
  request.event.set = KSEVENTSETID_AudioControlChange;
  request.event.id = KSEVENT_CONTROL_CHANGE;
  request.event.flags = KSEVENT_TYPE_ENABLE | KSEVENT_TYPE_TOPOLOGY;
  request.nodeId = mirelo::kMuteNode;
  KSEVENTDATA data{};
  data.notificationType = KSEVENTF_EVENT_HANDLE;
  data.eventHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
  return ksEnableEvent(handle_, &request, sizeof request, data);
}

}  // namespace mirelo_tools

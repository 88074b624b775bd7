// The control interface of the `usbaudio-sim` tool: plug and unplug,
// simulated conditions, faults and the state dump.

#include <algorithm>
#include <cstring>

#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"
#include "usb-audio-kernel-sim/sim_control.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::IoRequest;
using platform::kernel::STATUS_SUCCESS;

template <typename Record>
bool readInput(const IoRequest& request, Record* record) {
  if (request.inputSize() != sizeof(Record)) return false;
  std::memcpy(record, request.input(), sizeof(Record));
  return true;
}

// The record, when the caller asked for it.
template <typename Record>
NtStatus replyRecord(IoRequest& request, const Record& record) {
  if (request.outputCapacity() < sizeof record) return STATUS_SUCCESS;
  std::memcpy(request.output(), &record, sizeof record);
  request.setInformation(sizeof record);
  return STATUS_SUCCESS;
}

VirtualDevice* selectDevice(Driver& driver, const SIM_DEVICE_SELECTOR& selector) {
  if (selector.position == SIM_SELECT_BY_ID) return driver.findDevice(selector.deviceId);
  if (selector.position >= driver.devices().size()) return nullptr;
  return driver.devices()[selector.position].get();
}

NtStatus plugConfigured(Driver& driver, IoRequest& request) {
  uint32_t index = 0;
  if (!readInput(request, &index)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (index >= driver.configuration().devices.size()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  std::lock_guard lock(driver.mutex());
  for (const auto& device : driver.devices()) {
    if (device->configIndex() == static_cast<int>(index)) return ORVANE_STATUS_ALREADY_DONE;
  }
  ORVANE_DEVICE_ID id{};
  const NtStatus status = driver.plugDevice(driver.configuration().devices[index], static_cast<int>(index), &id);
  return status == STATUS_SUCCESS ? replyRecord(request, id) : status;
}

NtStatus plugDescription(Driver& driver, IoRequest& request) {
  const std::string_view text(reinterpret_cast<const char*>(request.input()), request.inputSize());
  DeviceDescription description;
  std::string error;
  if (!parseDeviceDescription(text, &description, &error)) return ORVANE_STATUS_INVALID_PARAMETER;
  std::lock_guard lock(driver.mutex());
  ORVANE_DEVICE_ID id{};
  const NtStatus status = driver.plugDevice(description, -1, &id);
  return status == STATUS_SUCCESS ? replyRecord(request, id) : status;
}

NtStatus unplug(Driver& driver, IoRequest& request) {
  SIM_DEVICE_SELECTOR selector{};
  if (!readInput(request, &selector)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  std::lock_guard lock(driver.mutex());
  VirtualDevice* device = selectDevice(driver, selector);
  return device == nullptr ? ORVANE_STATUS_OBJECT_NOT_FOUND : driver.unplugDevice(device->id());
}

NtStatus setSpdifInput(Driver& driver, IoRequest& request) {
  SIM_SPDIF_INPUT input{};
  if (!readInput(request, &input)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (input.inputState > ORVANE_SPDIF_INPUT_LOCKED || input.signalFormat > ORVANE_SPDIF_FORMAT_NON_PCM) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::lock_guard lock(driver.mutex());
  VirtualDevice* device = selectDevice(driver, input.device);
  if (device == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (device->description().spdifInputs == 0) return ORVANE_STATUS_NOT_SUPPORTED;
  device->spdifInput = SpdifInputState{input.inputState, input.signalFormat, input.sampleRate};
  driver.postDeviceNotification(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, device->id());
  return STATUS_SUCCESS;
}

NtStatus openOrCloseSoundDevice(Driver& driver, IoRequest& request) {
  SIM_SOUND_DEVICE_SWITCH input{};
  if (!readInput(request, &input)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  std::lock_guard lock(driver.mutex());
  VirtualDevice* device = selectDevice(driver, input.device);
  if (device == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  return driver.switchSoundDevice(*device, input.direction, input.index, input.open != 0);
}

NtStatus setVolume(Driver& driver, IoRequest& request) {
  SIM_VOLUME input{};
  if (!readInput(request, &input)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (input.direction != ORVANE_SOUND_DEVICE_RECORDING && input.direction != ORVANE_SOUND_DEVICE_PLAYBACK) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  if (input.channel >= ORVANE_SOUND_DEVICE_MAX_CHANNELS) return ORVANE_STATUS_INVALID_PARAMETER;
  std::lock_guard lock(driver.mutex());
  VirtualDevice* device = selectDevice(driver, input.device);
  if (device == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  std::vector<SoundDevice>& list = device->soundDevices(input.direction);
  if (input.index >= list.size()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  ORVANE_SOUND_DEVICE_VOLUME& volume = list[input.index].volume;
  volume.volume[input.channel] = input.volume;
  volume.mute[input.channel] = input.mute & ORVANE_VOLUME_MUTE;
  const ORVANE_VOLUME_CHANGE change{device->id(), input.direction, input.index};
  driver.postNotification(ORVANE_MSG_CODE_VOLUME_CHANGED, &change, sizeof change);
  return STATUS_SUCCESS;
}

NtStatus changeSettings(Driver& driver, IoRequest& request) {
  SIM_SETTINGS input{};
  if (!readInput(request, &input)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  std::lock_guard lock(driver.mutex());
  StreamingEngine& engine = driver.engine();
  ORVANE_BUFFER_SETTINGS buffers = engine.buffers;
  if (input.streamingBufferSizeClass != SIM_KEEP) buffers.streamingBufferSizeClass = input.streamingBufferSizeClass;
  if (input.asioBufferSizeClass != SIM_KEEP) buffers.asioBufferSizeClass = input.asioBufferSizeClass;
  if (buffers.streamingBufferSizeClass >= kStreamingBufferClasses || buffers.asioBufferSizeClass >= kAsioBufferClasses) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  if (input.sampleRate != SIM_KEEP) {
    const std::vector<uint32_t> rates = driver.offeredSampleRates();
    if (std::find(rates.begin(), rates.end(), input.sampleRate) == rates.end()) {
      return ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE;
    }
  }
  if (isStreaming(engine.state.load())) return ORVANE_STATUS_INVALID_STATE;
  engine.buffers = buffers;
  if (input.sampleRate != SIM_KEEP) engine.sampleRate = input.sampleRate;
  driver.objectsChanged();
  driver.postNotification(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);
  return STATUS_SUCCESS;
}

NtStatus streamingError(Driver& driver, IoRequest&) {
  std::lock_guard lock(driver.mutex());
  if (isStreaming(driver.engine().state.load())) driver.objectsChanged();
  driver.engine().state = ORVANE_STREAMING_STATE_ERROR;
  ++driver.counters().streamingErrors;
  return STATUS_SUCCESS;
}

NtStatus setFault(Driver& driver, IoRequest& request) {
  SIM_FAULT input{};
  if (!readInput(request, &input)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (input.code == 0) return ORVANE_STATUS_INVALID_PARAMETER;
  std::lock_guard lock(driver.mutex());
  if (input.status == 0 && input.delayMilliseconds == 0) {
    driver.faults().erase(input.code);
  } else {
    driver.faults()[input.code] = Fault{input.status, input.delayMilliseconds, input.count, input.after};
  }
  return STATUS_SUCCESS;
}

NtStatus clearFaults(Driver& driver, IoRequest&) {
  std::lock_guard lock(driver.mutex());
  driver.faults().clear();
  driver.replyPatches().clear();
  return STATUS_SUCCESS;
}

NtStatus patchReply(Driver& driver, IoRequest& request) {
  SIM_REPLY_PATCH header{};
  if (request.inputSize() < sizeof header) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  std::memcpy(&header, request.input(), sizeof header);
  if (header.length > SIM_MAX_PATCH_BYTES || request.inputSize() - sizeof header != header.length) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::lock_guard lock(driver.mutex());
  if (!driver.handlesRequest(header.code)) return ORVANE_STATUS_INVALID_PARAMETER;
  const uint8_t* bytes = request.input() + sizeof header;
  driver.replyPatches()[header.code].push_back(
      ReplyPatch{header.offset, std::vector<uint8_t>(bytes, bytes + header.length), std::max<uint32_t>(header.count, 1)});
  return STATUS_SUCCESS;
}

NtStatus notify(Driver& driver, IoRequest& request) {
  uint32_t code = 0;
  if (request.inputSize() < sizeof code || request.inputSize() > sizeof code + ORVANE_MESSAGE_MAX_PAYLOAD) {
    return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  }
  std::memcpy(&code, request.input(), sizeof code);
  std::lock_guard lock(driver.mutex());
  driver.postNotification(code, request.input() + sizeof code, request.inputSize() - sizeof code);
  return STATUS_SUCCESS;
}

NtStatus getState(Driver& driver, IoRequest& request) {
  uint32_t format = SIM_STATE_TEXT;
  if (request.inputSize() != 0 && !readInput(request, &format)) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (format != SIM_STATE_TEXT && format != SIM_STATE_JSON) return ORVANE_STATUS_INVALID_PARAMETER;
  std::string text;
  {
    std::lock_guard lock(driver.mutex());
    const StateReport report = driver.describeState();
    text = format == SIM_STATE_JSON ? report.json() : report.text();
  }
  const uint32_t size = static_cast<uint32_t>(std::min<size_t>(text.size(), request.outputCapacity()));
  std::memcpy(request.output(), text.data(), size);
  request.setInformation(size);
  return size < text.size() ? platform::kernel::STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NtStatus getSignalTimes(Driver& driver, IoRequest& request) {
  if (request.outputCapacity() < sizeof(SIM_SIGNAL_TIMES)) return ORVANE_STATUS_INVALID_OUTBUFFER_SIZE;
  std::vector<int64_t> times;
  {
    std::lock_guard lock(driver.mutex());
    for (Connection* connection : driver.connections()) {
      if (!connection->asio) continue;
      times = connection->asio->signalTimes();
      break;
    }
  }
  SIM_SIGNAL_TIMES header{static_cast<uint32_t>(times.size()), 0, {}};
  std::memcpy(request.output(), &header, offsetof(SIM_SIGNAL_TIMES, nanoseconds));
  if (!times.empty()) {
    std::memcpy(request.output() + offsetof(SIM_SIGNAL_TIMES, nanoseconds), times.data(), times.size() * sizeof(int64_t));
  }
  request.setInformation(static_cast<uint32_t>(offsetof(SIM_SIGNAL_TIMES, nanoseconds) + times.size() * sizeof(int64_t)));
  return STATUS_SUCCESS;
}

}  // namespace

NtStatus Driver::onControl(IoRequest& request) {
  switch (request.code()) {
    case SIM_CONTROL_GET_STATE: return getState(*this, request);
    case SIM_CONTROL_PLUG_CONFIGURED: return plugConfigured(*this, request);
    case SIM_CONTROL_PLUG_DESCRIPTION: return plugDescription(*this, request);
    case SIM_CONTROL_UNPLUG: return unplug(*this, request);
    case SIM_CONTROL_SET_SPDIF_INPUT: return setSpdifInput(*this, request);
    case SIM_CONTROL_SOUND_DEVICE: return openOrCloseSoundDevice(*this, request);
    case SIM_CONTROL_SET_VOLUME: return setVolume(*this, request);
    case SIM_CONTROL_CHANGE_SETTINGS: return changeSettings(*this, request);
    case SIM_CONTROL_STREAMING_ERROR: return streamingError(*this, request);
    case SIM_CONTROL_SET_FAULT: return setFault(*this, request);
    case SIM_CONTROL_CLEAR_FAULTS: return clearFaults(*this, request);
    case SIM_CONTROL_NOTIFY: return notify(*this, request);
    case SIM_CONTROL_PATCH_REPLY: return patchReply(*this, request);
    case SIM_CONTROL_GET_SIGNAL_TIMES: return getSignalTimes(*this, request);
    default: return ORVANE_STATUS_INVALID_IOCTL;
  }
}

}  // namespace usbaudio_sim

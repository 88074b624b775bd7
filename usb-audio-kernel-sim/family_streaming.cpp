// The streaming engine: status, rates, buffer sizes, the command table,
// the streaming device, and the ASIO driver's view of the settings.

#include <algorithm>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

bool isOffered(Driver& driver, uint32_t rate) {
  const std::vector<uint32_t> rates = driver.offeredSampleRates();
  return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

// Settings that change without the service are announced to the clients.
void announceOutsideChange(RequestContext& context) {
  if (!context.connection.isServer()) context.driver.postNotification(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED);
}

ORVANE_SAMPLE_RATES sampleRates(Driver& driver) {
  ORVANE_SAMPLE_RATES record{};
  record.currentRate = driver.engine().sampleRate.load();
  for (uint32_t rate : driver.offeredSampleRates()) {
    if (record.rateCount == ORVANE_MAX_SAMPLE_RATES) break;
    record.rates[record.rateCount++] = rate;
  }
  return record;
}

NtStatus getSampleRates(RequestContext& context) { return context.reply(sampleRates(context.driver)); }

NtStatus getBufferSizes(RequestContext& context) {
  const StreamingEngine& engine = context.driver.engine();
  const uint32_t rate = engine.sampleRate.load();
  ORVANE_BUFFER_SIZES sizes{};
  sizes.streamingBufferSizeClass = engine.buffers.streamingBufferSizeClass;
  sizes.asioBufferSizeClass = engine.buffers.asioBufferSizeClass;
  sizes.thirdSetting = engine.buffers.thirdSetting;
  sizes.streamingBufferMicroseconds =
      samplesToMicroseconds(streamingBufferSamples(engine.buffers.streamingBufferSizeClass, rate), rate);
  sizes.asioBufferSamples = asioBufferSamples(engine.buffers.asioBufferSizeClass, rate);
  sizes.asioBufferMicroseconds = samplesToMicroseconds(sizes.asioBufferSamples, rate);
  return context.reply(sizes);
}

NtStatus getStreamingStatus(RequestContext& context) { return context.reply(context.driver.streamingStatus()); }

// The command table: each command is accepted in the states listed and moves
// the engine to its target state.
NtStatus streamingControl(RequestContext& context) {
  Driver& driver = context.driver;
  StreamingEngine& engine = driver.engine();
  const uint32_t state = engine.state.load();
  auto move = [&](uint32_t target) {
    engine.state = target;
    if (isStreaming(state) != isStreaming(target)) driver.objectsChanged();
    return STATUS_SUCCESS;
  };
  switch (context.input<uint32_t>()) {
    case ORVANE_STREAMING_COMMAND_RECOVER:
      if (state != ORVANE_STREAMING_STATE_ERROR && state != ORVANE_STREAMING_STATE_UNSUPPORTED) {
        return ORVANE_STATUS_INVALID_STATE;
      }
      return move(ORVANE_STREAMING_STATE_DOWN);
    case ORVANE_STREAMING_COMMAND_INITIALIZE: {
      if (state != ORVANE_STREAMING_STATE_DOWN) return ORVANE_STATUS_INVALID_STATE;
      const std::vector<VirtualDevice*> devices = driver.streamingDevices();
      if (devices.empty()) return ORVANE_STATUS_NO_STREAMING_DEVICE;
      for (VirtualDevice* device : devices) {
        if (!device->description().highSpeed) {
          move(ORVANE_STREAMING_STATE_UNSUPPORTED);
          return ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE;
        }
      }
      return move(ORVANE_STREAMING_STATE_READY);
    }
    case ORVANE_STREAMING_COMMAND_SHUTDOWN:
      if (state != ORVANE_STREAMING_STATE_READY) return ORVANE_STATUS_INVALID_STATE;
      return move(ORVANE_STREAMING_STATE_DOWN);
    case ORVANE_STREAMING_COMMAND_PREPARE:
      if (state != ORVANE_STREAMING_STATE_READY) return ORVANE_STATUS_INVALID_STATE;
      return move(ORVANE_STREAMING_STATE_PREPARED);
    case ORVANE_STREAMING_COMMAND_START:
      if (state != ORVANE_STREAMING_STATE_PREPARED) return ORVANE_STATUS_INVALID_STATE;
      return move(ORVANE_STREAMING_STATE_RUNNING);
    case ORVANE_STREAMING_COMMAND_STOP:
      if (!isStreaming(state)) return ORVANE_STATUS_INVALID_STATE;
      return move(ORVANE_STREAMING_STATE_READY);
    default:
      return ORVANE_STATUS_INVALID_COMMAND;
  }
}

NtStatus setSampleRate(RequestContext& context) {
  Driver& driver = context.driver;
  const auto rate = context.input<uint32_t>();
  if (!isOffered(driver, rate)) return ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE;
  if (isStreaming(driver.engine().state.load())) return ORVANE_STATUS_INVALID_STATE;
  const uint32_t previous = driver.engine().sampleRate.exchange(rate);
  driver.engine().presetRate = 0;
  if (isDsdRate(previous) != isDsdRate(rate)) driver.objectsChanged();  // other channels are listed
  announceOutsideChange(context);
  return STATUS_SUCCESS;
}

NtStatus presetSampleRate(RequestContext& context) {
  const auto rate = context.input<uint32_t>();
  if (!isOffered(context.driver, rate)) return ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE;
  context.driver.engine().presetRate = rate;
  return STATUS_SUCCESS;
}

NtStatus setBufferSizes(RequestContext& context) {
  const auto settings = context.input<ORVANE_BUFFER_SETTINGS>();
  if (settings.streamingBufferSizeClass >= kStreamingBufferClasses ||
      settings.asioBufferSizeClass >= kAsioBufferClasses) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  if (isStreaming(context.driver.engine().state.load())) return ORVANE_STATUS_INVALID_STATE;
  context.driver.engine().buffers = settings;
  announceOutsideChange(context);
  return STATUS_SUCCESS;
}

NtStatus setStreamingDevice(RequestContext& context) {
  Driver& driver = context.driver;
  StreamingEngine& engine = driver.engine();
  const auto selection = context.input<ORVANE_STREAMING_DEVICE_SELECTION>();
  // Identifier 0, 0 with the single-device mode switches the mode back and
  // keeps the device selected before (the control panel's mode radio).
  const bool keepDevice = selection.deviceId == ORVANE_DEVICE_ID{};
  if (selection.mode == ORVANE_STREAMING_MODE_SINGLE_DEVICE) {
    if (!keepDevice && driver.findDevice(selection.deviceId) == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  } else if (selection.mode != ORVANE_STREAMING_MODE_ALL_DEVICES) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  if (isStreaming(engine.state.load())) return ORVANE_STATUS_INVALID_STATE;
  const bool listChanges = engine.mode != selection.mode ||
                           (!keepDevice && (!engine.hasSelection || !(engine.selectedDevice == selection.deviceId)));
  engine.mode = selection.mode;
  if (selection.mode == ORVANE_STREAMING_MODE_SINGLE_DEVICE && !keepDevice) {
    engine.hasSelection = true;
    engine.selectedDevice = selection.deviceId;
  }
  driver.refreshEngineState();
  driver.objectsChanged();
  announceOutsideChange(context);
  // The device list's streaming marks changed.
  if (listChanges) driver.postNotification(ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED);
  return STATUS_SUCCESS;
}

NtStatus asioGetSettings(RequestContext& context) {
  ORVANE_ASIO_SETTINGS settings{};
  settings.sampleRates = sampleRates(context.driver);
  const StreamingEngine& engine = context.driver.engine();
  // In buffer frames: at the DSD rates a frame carries 64 DSD samples.
  const uint32_t rate = engine.sampleRate.load();
  settings.deviceBufferFrames = asioBufferSamples(engine.buffers.asioBufferSizeClass, rate) / (isDsdRate(rate) ? 64 : 1);
  return context.reply(settings);
}

NtStatus asioGetLatencies(RequestContext& context) {
  const StreamingEngine& engine = context.driver.engine();
  const uint32_t rate = engine.sampleRate.load();
  ORVANE_ASIO_LATENCIES latencies{};
  latencies.inputLatencyFrames = asioInputLatency(engine.buffers.streamingBufferSizeClass, rate);
  latencies.outputLatencyFrames = asioOutputLatency(engine.buffers.streamingBufferSizeClass, rate);
  return context.reply(latencies);
}

void registerStreamingFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_SAMPLE_RATES, getSampleRates);
  dispatcher.add(ORVANE_IOCTL_GET_BUFFER_SIZES, getBufferSizes);
  dispatcher.add(ORVANE_IOCTL_GET_STREAMING_STATUS, getStreamingStatus);
  dispatcher.add(ORVANE_IOCTL_STREAMING_CONTROL, streamingControl);
  dispatcher.add(ORVANE_IOCTL_SET_SAMPLE_RATE, setSampleRate);
  dispatcher.add(ORVANE_IOCTL_PRESET_SAMPLE_RATE, presetSampleRate);
  dispatcher.add(ORVANE_IOCTL_SET_BUFFER_SIZES, setBufferSizes);
  dispatcher.add(ORVANE_IOCTL_SET_STREAMING_DEVICE, setStreamingDevice);
  dispatcher.add(ORVANE_IOCTL_ASIO_GET_SETTINGS, asioGetSettings);
  dispatcher.add(ORVANE_IOCTL_ASIO_GET_LATENCIES, asioGetLatencies);
}

const HandlerFamily streamingFamily("streaming", registerStreamingFamily);

}  // namespace
}  // namespace usbaudio_sim

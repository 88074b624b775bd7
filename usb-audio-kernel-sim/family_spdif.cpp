// S/PDIF input status and pass-through, and the mixer's volume and mute
// bypasses.
//
// S/PDIF ports are channel pairs: selector n names input (or output) port n,
// which exists while the device has channels 2n and 2n + 1 of that kind. Every
// input port reports the device's S/PDIF input state. Pass-through routes an
// input port straight to an output port; the first selector word names the
// input, the second the output. A change of pass-through or bypass through a
// connection is announced to the other connections with 3040, as the
// control panel's device page re-reads its settings on it.

#include <map>
#include <utility>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

struct SpdifSettings : DeviceExtension {
  std::map<std::pair<uint32_t, uint32_t>, bool> passThrough;  // (input port, output port)
  bool bypassVolume = false;
  bool bypassMute = false;

  void describe(StateReport& report) const override {
    report.openObject("bypass");
    report.addFlag("volume", bypassVolume);
    report.addFlag("mute", bypassMute);
    report.close();
    report.openList("passThrough");
    for (const auto& [ports, on] : passThrough) {
      if (on) report.add("", std::to_string(ports.first) + "->" + std::to_string(ports.second));
    }
    report.close();
  }
};

uint32_t portsOf(uint32_t channels) { return channels / 2; }

void announceSettingsChanged(RequestContext& context) {
  const ORVANE_DEVICE_ID id = context.device->id();
  context.driver.postNotification(ORVANE_MSG_CODE_DEVICE_SETTINGS_CHANGED, &id, sizeof id, &context.connection);
}

NtStatus getSpdifInputStatus(RequestContext& context) {
  auto status = context.input<ORVANE_SPDIF_INPUT_STATUS>();
  VirtualDevice& device = *context.device;
  if (status.selector >= portsOf(device.description().spdifInputs)) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  const SpdifInputState& input = device.spdifInput;
  const bool locked = input.inputState == ORVANE_SPDIF_INPUT_LOCKED;
  status.inputState = input.inputState;
  status.signalFormat = locked ? input.signalFormat : ORVANE_SPDIF_FORMAT_UNKNOWN;
  status.sampleRate = locked && input.signalFormat == ORVANE_SPDIF_FORMAT_PCM ? input.sampleRate : 0;
  return context.reply(status);
}

NtStatus checkPassThroughPorts(VirtualDevice& device, const ORVANE_SPDIF_PASS_THROUGH& record) {
  if (record.firstSelector >= portsOf(device.description().spdifInputs) ||
      record.secondSelector >= portsOf(device.description().spdifOutputs)) {
    return ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  return STATUS_SUCCESS;
}

NtStatus setSpdifPassThrough(RequestContext& context) {
  const auto record = context.input<ORVANE_SPDIF_PASS_THROUGH>();
  if (const NtStatus status = checkPassThroughPorts(*context.device, record); status != STATUS_SUCCESS) return status;
  if (record.passThrough > 1) return ORVANE_STATUS_INVALID_PARAMETER;
  bool& on = context.device->extension<SpdifSettings>().passThrough[{record.firstSelector, record.secondSelector}];
  if (on == (record.passThrough == 1)) return STATUS_SUCCESS;
  on = record.passThrough == 1;
  announceSettingsChanged(context);
  return STATUS_SUCCESS;
}

NtStatus getSpdifPassThrough(RequestContext& context) {
  auto record = context.input<ORVANE_SPDIF_PASS_THROUGH>();
  if (const NtStatus status = checkPassThroughPorts(*context.device, record); status != STATUS_SUCCESS) return status;
  const auto& passThrough = context.device->extension<SpdifSettings>().passThrough;
  const auto found = passThrough.find({record.firstSelector, record.secondSelector});
  record.passThrough = found != passThrough.end() && found->second ? 1 : 0;
  return context.reply(record);
}

NtStatus setSwitch(RequestContext& context, bool SpdifSettings::*member) {
  const auto value = context.input<ORVANE_BYPASS_SWITCH>();
  if (value.on > 1) return ORVANE_STATUS_INVALID_PARAMETER;
  bool& on = context.device->extension<SpdifSettings>().*member;
  if (on == (value.on == 1)) return STATUS_SUCCESS;
  on = value.on == 1;
  announceSettingsChanged(context);
  return STATUS_SUCCESS;
}

NtStatus getSwitch(RequestContext& context, bool SpdifSettings::*member) {
  const bool on = context.device->extension<SpdifSettings>().*member;
  return context.reply(ORVANE_BYPASS_SWITCH{static_cast<uint8_t>(on ? 1 : 0)});
}

void registerSpdifFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_SPDIF_INPUT_STATUS, getSpdifInputStatus);
  dispatcher.add(ORVANE_IOCTL_SET_SPDIF_PASS_THROUGH, setSpdifPassThrough);
  dispatcher.add(ORVANE_IOCTL_GET_SPDIF_PASS_THROUGH, getSpdifPassThrough);
  dispatcher.add(ORVANE_IOCTL_SET_BYPASS_VOLUME,
                 [](RequestContext& context) { return setSwitch(context, &SpdifSettings::bypassVolume); });
  dispatcher.add(ORVANE_IOCTL_GET_BYPASS_VOLUME,
                 [](RequestContext& context) { return getSwitch(context, &SpdifSettings::bypassVolume); });
  dispatcher.add(ORVANE_IOCTL_SET_BYPASS_MUTE,
                 [](RequestContext& context) { return setSwitch(context, &SpdifSettings::bypassMute); });
  dispatcher.add(ORVANE_IOCTL_GET_BYPASS_MUTE,
                 [](RequestContext& context) { return getSwitch(context, &SpdifSettings::bypassMute); });
}

const HandlerFamily spdifFamily("spdif", registerSpdifFamily);

}  // namespace
}  // namespace usbaudio_sim

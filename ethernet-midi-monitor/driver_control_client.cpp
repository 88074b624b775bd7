#include "ethernet-midi-monitor/driver_control_client.h"

#include "platform/device_interfaces.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel_streaming_client.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/message_box.h"
#include "platform/waits.h"

using namespace platform;

namespace {
constexpr char16_t kControlFilterMarker[] = u"topology";
constexpr uint32_t kMuteNode = 0;
}  // namespace

DriverControlClient::DriverControlClient(CTernokApiInterface& owner)
    : owner_(owner), notificationEvent_(createEvent(false, false)) {
  notificationThread_ = std::thread([this] { notificationLoop(); });
  openControlFilter();
}

DriverControlClient::~DriverControlClient() {
  // The notification thread is woken and waited for first, so that no
  // OnControlChange is still using the device when it is closed; closing
  // the device ends the event subscription.
  stop_ = true;
  setEvent(notificationEvent_);
  if (notificationThread_.joinable()) notificationThread_.join();
  if (device_ != kInvalidHandle) closeHandle(std::exchange(device_, kInvalidHandle));
  closeHandle(notificationEvent_);
}

void DriverControlClient::openControlFilter() {
  const std::u16string expected = owner_.GetDeviceDescription();
  std::u16string path;
  for (const DeviceInterface& candidate : enumerateDeviceInterfaces(KSCATEGORY_AUDIO)) {
    if (candidate.description == expected && candidate.linkName.find(kControlFilterMarker) != std::u16string::npos) {
      path = candidate.devicePath();
      break;
    }
  }
  if (path.empty()) return;
  device_ = openDevice(path);
  eventData_.notificationType = KSEVENTF_EVENT_HANDLE;
  eventData_.eventHandle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(notificationEvent_));
  eventRequest_.event.set = KSEVENTSETID_AudioControlChange;
  eventRequest_.event.id = KSEVENT_CONTROL_CHANGE;
  eventRequest_.event.flags = KSEVENT_TYPE_ENABLE | KSEVENT_TYPE_TOPOLOGY;
  eventRequest_.nodeId = kMuteNode;
  const uint32_t error = device_ == kInvalidHandle
                             ? lastError()
                             : ksEnableEvent(device_, &eventRequest_, sizeof eventRequest_, eventData_);
  if (error != ERROR_SUCCESS) reportFailure(error);
}

void DriverControlClient::notificationLoop() {
  while (!stop_) {
    waitForSingle(notificationEvent_, INFINITE);
    if (!stop_) owner_.OnControlChange();
  }
}

std::u16string DriverControlClient::failureText(uint32_t error) {
  return u"Device is not properly installed.\nError Message:\n" + toWide(errorMessage(error));
}

void DriverControlClient::reportFailure(uint32_t error) {
  failed_ = true;
  const auto report = [text = failureText(error)] {
    ui::messageBox({}, text, u"MireloMon", ui::MB_OK | ui::MB_ICONERROR);
    ui::postQuitMessage(1);
  };
  // A request of the notification thread fails there: the box is shown by
  // the window thread, which may be waiting for this thread to end.
  if (ui::isGuiThread()) {
    report();
  } else {
    ui::detail::queueToGuiThread(report);
  }
}

uint32_t DriverControlClient::getProperty(uint32_t id) {
  const KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(id, KSPROPERTY_TYPE_GET, kMuteNode);
  uint32_t value = 0;
  uint32_t returned = 0;
  uint32_t error = ksGetProperty(device_, &request, sizeof request, &value, sizeof value, &returned);
  if (error == ERROR_SUCCESS && returned != sizeof value) error = ERROR_INVALID_DATA;
  if (error == ERROR_SUCCESS) return value;
  reportFailure(error);
  return 0;
}

void DriverControlClient::setProperty(uint32_t id, uint32_t value) {
  const KSNODEPROPERTY_AUDIO_CHANNEL request = audioNodeProperty(id, KSPROPERTY_TYPE_SET, kMuteNode);
  const uint32_t error = ksSetProperty(device_, &request, sizeof request, &value, sizeof value);
  if (error != ERROR_SUCCESS) reportFailure(error);
}

uint32_t DriverControlClient::GetMuteMask() { return getProperty(KSPROPERTY_AUDIO_MUTE); }

void DriverControlClient::SetMuteMask(uint32_t mask) { setProperty(KSPROPERTY_AUDIO_MUTE, mask); }

uint32_t DriverControlClient::GetStatusWord() { return getProperty(KSPROPERTY_AUDIO_DEV_SPECIFIC); }

void DriverControlClient::SetLoopback(bool on) { setProperty(KSPROPERTY_AUDIO_DEV_SPECIFIC, on ? 1 : 0); }

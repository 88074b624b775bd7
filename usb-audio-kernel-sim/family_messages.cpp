// Events, client registration and the message queues.

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::KernelEvent;
using platform::kernel::STATUS_SUCCESS;

NtStatus resolveEvent(RequestContext& context, uint64_t handle, std::shared_ptr<KernelEvent>* event) {
  if (handle == 0) return STATUS_SUCCESS;  // a zero slot withdraws the event
  return context.request.referenceEvent(handle, event) == STATUS_SUCCESS ? STATUS_SUCCESS
                                                                          : ORVANE_STATUS_INVALID_PARAMETER;
}

// Resolves the caller's events first (that waits for the caller), then
// installs them under the lock.
NtStatus setEvents(RequestContext& context) {
  const auto handles = context.input<ORVANE_EVENT_HANDLES>();
  std::shared_ptr<KernelEvent> messageEvent;
  std::shared_ptr<KernelEvent> notificationEvent;
  NtStatus status = resolveEvent(context, handles.messageEvent, &messageEvent);
  if (status == STATUS_SUCCESS) status = resolveEvent(context, handles.notificationEvent, &notificationEvent);
  if (status != STATUS_SUCCESS) return status;
  std::lock_guard lock(context.driver.mutex());
  Connection& connection = context.connection;
  connection.messageEvent = std::move(messageEvent);
  connection.notificationEvent = std::move(notificationEvent);
  // Records queued before the events came still deserve a wake-up.
  if (connection.messageEvent && !connection.messages.empty()) connection.messageEvent->set();
  if (connection.notificationEvent && !connection.notifications.empty()) connection.notificationEvent->set();
  return STATUS_SUCCESS;
}

NtStatus registerClient(RequestContext& context) {
  return context.driver.registerClient(context.connection, context.input<uint32_t>());
}

NtStatus sendMessage(RequestContext& context) {
  ORVANE_MESSAGE message{};
  std::memcpy(&message, context.request.input(), context.request.inputSize());
  if (message.headerSize != ORVANE_MESSAGE_HEADER_SIZE) return ORVANE_STATUS_INVALID_HD_SIZE;
  if (message.payloadLength != context.request.inputSize() - ORVANE_MESSAGE_HEADER_SIZE) {
    return ORVANE_STATUS_INVALID_MSG_SIZE;
  }
  return context.driver.sendMessage(context.connection, message);
}

NtStatus readFrom(RequestContext& context, std::deque<ORVANE_MESSAGE>& queue) {
  if (queue.empty()) return ORVANE_STATUS_NO_MORE_ITEMS;
  const ORVANE_MESSAGE message = queue.front();
  queue.pop_front();
  return context.reply(message);
}

NtStatus readMessage(RequestContext& context) { return readFrom(context, context.connection.messages); }
NtStatus readNotification(RequestContext& context) { return readFrom(context, context.connection.notifications); }

void registerMessageFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_SET_EVENTS, setEvents, HandlerLocking::handlerLocks);
  dispatcher.add(ORVANE_IOCTL_REGISTER_CLIENT, registerClient);
  dispatcher.add(ORVANE_IOCTL_SEND_MESSAGE, sendMessage);
  dispatcher.add(ORVANE_IOCTL_READ_MESSAGE, readMessage);
  dispatcher.add(ORVANE_IOCTL_READ_NOTIFICATION, readNotification);
}

const HandlerFamily messageFamily("messages", registerMessageFamily);

}  // namespace
}  // namespace usbaudio_sim

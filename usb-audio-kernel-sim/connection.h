#pragma once
// The driver's state for one open file object of the three device links:
// events of SET_EVENTS, client registration, attached device, message and
// notification queues, acquired ASIO channels and the ASIO stream. Guarded
// by the driver lock.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "device-access/orvane_records.h"
#include "platform/kernel/driver.h"
#include "usb-audio-kernel-sim/asio_stream.h"

namespace usbaudio_sim {

// A queue keeps at most this many records; the oldest is dropped for a new one.
inline constexpr size_t kMaxQueuedMessages = 256;

struct Connection {
  uint32_t id = 0;            // unique while the driver is loaded, never 0
  uint32_t routingToken = 0;  // second routing word of its requests
  std::u16string linkName;
  uint32_t processId = 0;

  std::shared_ptr<platform::kernel::KernelEvent> messageEvent;
  std::shared_ptr<platform::kernel::KernelEvent> notificationEvent;

  std::optional<uint32_t> clientType;  // ORVANE_CLIENT_TYPE_..., once registered
  std::optional<ORVANE_DEVICE_ID> attachedDevice;

  std::deque<ORVANE_MESSAGE> messages;
  std::deque<ORVANE_MESSAGE> notifications;
  uint32_t droppedMessages = 0;
  uint32_t droppedNotifications = 0;
  // Device requests received on this connection (for the state dump).
  std::atomic<uint64_t> requests{0};

  std::set<uint64_t> acquiredChannels;
  std::unique_ptr<AsioStream> asio;  // from ASIO_CREATE_BUFFERS to ASIO_DISPOSE_BUFFERS

  bool isServer() const { return clientType == ORVANE_CLIENT_TYPE_SERVER; }
  // Registered connections of the server, ASIO and panel types exchange messages.
  bool carriesTraffic() const { return clientType && *clientType <= ORVANE_CLIENT_TYPE_PANEL; }
};

}  // namespace usbaudio_sim

#pragma once
// The simulated USB audio kernel driver: virtual devices, connections, the
// message queues between server and clients, the streaming engine and the
// request dispatcher.
//
// Lock discipline: one driver lock (mutex()) guards all driver state. The
// dispatcher holds it around a handler unless the handler was registered with
// HandlerLocking::handlerLocks; such handlers resolve the caller's events and
// memory (referenceEvent, mapUserMemory) without it, because resolving waits
// for the caller, and take it afterwards. Completing a pending request also
// happens without it. The pacing threads never take it. Member functions
// below the "lock held" line expect the caller to hold it.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_records.h"
#include "platform/kernel/driver.h"
#include "usb-audio-kernel-sim/completion_delayer.h"
#include "usb-audio-kernel-sim/configuration.h"
#include "usb-audio-kernel-sim/connection.h"
#include "usb-audio-kernel-sim/dispatcher.h"
#include "usb-audio-kernel-sim/state_report.h"
#include "usb-audio-kernel-sim/streaming_engine.h"
#include "usb-audio-kernel-sim/virtual_device.h"

namespace usbaudio_sim {

// The three device links of the contract; each is also its interface class.
inline constexpr std::array<const char16_t*, 3> kDeviceLinks = {
    u"{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}",  // control panel and service
    u"{94E7B4BC-5599-4b48-B1A4-9BA8A0E7F391}",  // spy tool
    u"{7045B601-879C-4d77-80C0-88D4F867070B}",  // ASIO driver
};

// Counters of ORVANE_IOCTL_GET_STATUS_COUNTERS; written from any thread.
struct DriverCounters {
  std::atomic<uint32_t> streamingErrors{0};
  std::atomic<uint32_t> fifoErrors{0};
  std::atomic<uint32_t> asioErrors{0};  // missed ASIO events of every stream
  std::atomic<uint32_t> wdmAudioErrors{0};
  std::atomic<uint32_t> wdmMidiErrors{0};
};

// An injected fault of one request code (see SIM_FAULT).
struct Fault {
  uint32_t status = 0;
  uint32_t delayMilliseconds = 0;
  uint32_t remaining = 0;  // 0: every request
  uint32_t letThrough = 0;  // requests that pass untouched before the fault applies
};

// Bytes written over the output of successful replies to one request code
// (see SIM_REPLY_PATCH).
struct ReplyPatch {
  uint32_t offset = 0;
  std::vector<uint8_t> bytes;
  uint32_t remaining = 1;  // replies still to patch
};

class Driver {
 public:
  Driver(platform::kernel::DriverObject& host, DriverParameters parameters, Configuration configuration);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Creates the interfaces and plugs the devices marked as plugged.
  NtStatus start(std::string* error);
  // Brings the per-device interfaces in step with the plugged devices: each
  // plugged device has an interface of the panel and service class, so that
  // its plugging and unplugging reach device interface notifications as a
  // device's arrival and removal. Called without the driver lock.
  void syncDeviceInterfaces();
  // Stops every stream and pending completion; the host has cleaned up the
  // file objects already.
  void stop();

  // Callbacks of the three device links and of the control link.
  NtStatus onCreate(platform::kernel::FileObject& file);
  NtStatus onDeviceControl(platform::kernel::FileObject& file, platform::kernel::IoRequest& request);
  void onCleanup(platform::kernel::FileObject& file);
  NtStatus onControl(platform::kernel::IoRequest& request);

  std::mutex& mutex() { return mutex_; }
  const DriverParameters& parameters() const { return parameters_; }
  const Configuration& configuration() const { return configuration_; }
  DriverCounters& counters() { return counters_; }
  CompletionDelayer& delayer() { return delayer_; }

  // ---- lock held ----

  uint32_t traceMask() const { return traceMask_; }
  void setTraceMask(uint32_t mask) { traceMask_ = mask; }

  // Plugged devices in plug order (at most ORVANE_MAX_DEVICES).
  const std::vector<std::unique_ptr<VirtualDevice>>& devices() const { return devices_; }
  VirtualDevice* findDevice(ORVANE_DEVICE_ID id);
  // Plugs a device: a new identifier, notification 3005. ORVANE_STATUS_NO_RESOURCES
  // when eight are plugged.
  NtStatus plugDevice(const DeviceDescription& description, int configIndex, ORVANE_DEVICE_ID* id);
  // Unplugs: its channels leave every stream and acquisition, its open sound
  // devices close (3016), a streaming engine that used it falls into Error,
  // notification 3005. ORVANE_STATUS_OBJECT_NOT_FOUND for an unknown device.
  NtStatus unplugDevice(ORVANE_DEVICE_ID id);

  StreamingEngine& engine() { return engine_; }
  // The devices that stream: the selected one, or every device in all-devices mode.
  std::vector<VirtualDevice*> streamingDevices();
  bool isStreamingDevice(const VirtualDevice& device);
  // The rates every streaming device offers, ascending.
  std::vector<uint32_t> offeredSampleRates();
  // The channels of the streaming devices in the lists (PCM channels at PCM
  // rates, DSD channels at DSD rates), at most ORVANE_MAX_CHANNELS each.
  std::vector<Channel*> listedChannels(uint32_t direction);
  // A channel of the lists with its device; null when it is not listed.
  Channel* findListedChannel(uint64_t id, VirtualDevice** device = nullptr);
  // Re-derives the idle states from the streaming devices (Down, Unsupported)
  // and keeps the current rate one that they offer.
  void refreshEngineState();

  // Usage words of ORVANE_STREAMING_STATUS.
  ORVANE_STREAMING_STATUS streamingStatus();

  Connection* findConnection(uint32_t id);
  Connection* server() { return findConnection(serverId_); }
  std::vector<Connection*> connections();

  // Queues a notification for every registered connection that carries
  // traffic (except `sender`) and signals its notification event.
  void postNotification(uint32_t code, const void* payload = nullptr, uint32_t length = 0,
                        const Connection* sender = nullptr);
  // The same with the device identifier as payload (3015, 3016, 3040, 3050-3052).
  void postDeviceNotification(uint32_t code, ORVANE_DEVICE_ID device);
  // Queues a message for one connection and signals its message event.
  void queueMessage(Connection& target, const ORVANE_MESSAGE& message);

  // Message routing (messages family).
  NtStatus registerClient(Connection& connection, uint32_t type);
  NtStatus sendMessage(Connection& sender, const ORVANE_MESSAGE& message);

  // ASIO (asio family and cleanup).
  void releaseChannel(Connection& connection, uint64_t channelId);
  void disposeAsioBuffers(Connection& connection);

  // Streaming usage began (3003) or ended (3004): ASIO buffers, views.
  void usageChanged(bool begins);

  // Opens or closes a simulated WDM sound device (3015/3016).
  NtStatus switchSoundDevice(VirtualDevice& device, uint32_t direction, uint32_t index, bool open);

  // The statistics generation: changes whenever objects come or go.
  uint32_t statisticsGeneration() const { return generation_; }
  void objectsChanged() { ++generation_; }

  std::map<uint32_t, Fault>& faults() { return faults_; }
  // Patches by request code, in the order they were set.
  std::map<uint32_t, std::vector<ReplyPatch>>& replyPatches() { return replyPatches_; }
  // Whether a device link answers this code (has a handler).
  bool handlesRequest(uint32_t code) const { return dispatcher_.has(code); }

  // A readable dump of the whole state.
  StateReport describeState();

 private:
  struct OutstandingRequest {
    uint32_t connectionId;
    uint32_t sequence;
    uint32_t routingFirst;
    uint32_t routingSecond;
  };

  NtStatus createInterfaces(std::string* error);
  Connection* connectionOf(platform::kernel::FileObject& file);
  std::optional<Fault> takeFault(uint32_t code);
  // Writes the patches of the request's code over its output and counts them down.
  void applyReplyPatches(uint32_t code, uint8_t* output, uint32_t size);
  void answerOutstandingRequests(uint32_t status);

  platform::kernel::DriverObject& host_;
  const DriverParameters parameters_;
  const Configuration configuration_;
  Dispatcher dispatcher_;
  DriverCounters counters_;
  CompletionDelayer delayer_;
  std::vector<std::u16string> createdLinks_;
  platform::kernel::DeviceCallbacks deviceCallbacks_;
  std::mutex interfacesMutex_;  // the per-device interfaces; never taken inside mutex_
  std::map<uint32_t, std::u16string> deviceInterfaces_;  // by device identifier's first word

  std::mutex mutex_;
  uint32_t traceMask_ = 0;
  std::vector<std::unique_ptr<VirtualDevice>> devices_;
  uint32_t plugCounter_ = 0;
  StreamingEngine engine_;
  std::map<uint32_t, std::unique_ptr<Connection>> connections_;
  uint32_t connectionCounter_ = 0;
  uint32_t routingSeed_ = 0;
  uint32_t serverId_ = 0;  // 0: no server
  std::deque<OutstandingRequest> outstanding_;
  uint32_t generation_ = 1;
  std::map<uint32_t, Fault> faults_;
  std::map<uint32_t, std::vector<ReplyPatch>> replyPatches_;
};

}  // namespace usbaudio_sim

#include "usb-audio-kernel-sim/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "platform/device_io.h"
#include "platform/guid.h"
#include "usb-audio-kernel-sim/sim_control.h"

namespace usbaudio_sim {

using platform::kernel::FileObject;
using platform::kernel::IoRequest;
using platform::kernel::STATUS_PENDING;
using platform::kernel::STATUS_SUCCESS;

namespace {

// Requests a server has not answered yet, kept so that a server that leaves
// can answer them; the oldest are forgotten beyond this.
constexpr size_t kMaxOutstandingRequests = 1024;

bool sameDevice(ORVANE_DEVICE_ID a, ORVANE_DEVICE_ID b) { return a.first == b.first && a.second == b.second; }

ORVANE_MESSAGE notificationRecord(uint32_t code, const void* payload, uint32_t length) {
  ORVANE_MESSAGE message{};
  message.headerSize = ORVANE_MESSAGE_HEADER_SIZE;
  message.kind = ORVANE_MSG_NOTIFICATION;
  message.code = code;
  message.payloadLength = std::min(length, ORVANE_MESSAGE_MAX_PAYLOAD);
  if (payload != nullptr && message.payloadLength > 0) std::memcpy(message.payload, payload, message.payloadLength);
  return message;
}

void push(std::deque<ORVANE_MESSAGE>& queue, uint32_t& dropped, const ORVANE_MESSAGE& message) {
  if (queue.size() >= kMaxQueuedMessages) {
    queue.pop_front();
    ++dropped;
  }
  queue.push_back(message);
}

// Forwards a request and remembers the byte count the handler set.
class InformationRecorder final : public IoRequest {
 public:
  explicit InformationRecorder(IoRequest& inner) : inner_(inner) {}
  uint32_t code() const override { return inner_.code(); }
  const uint8_t* input() const override { return inner_.input(); }
  uint32_t inputSize() const override { return inner_.inputSize(); }
  uint8_t* output() override { return inner_.output(); }
  uint32_t outputCapacity() const override { return inner_.outputCapacity(); }
  void setInformation(uint32_t bytes) override {
    information_ = std::min(bytes, inner_.outputCapacity());
    inner_.setInformation(bytes);
  }
  NtStatus referenceEvent(uint64_t handleValue, std::shared_ptr<platform::kernel::KernelEvent>* event) override {
    return inner_.referenceEvent(handleValue, event);
  }
  NtStatus mapUserMemory(uint64_t address, uint64_t length,
                         std::shared_ptr<platform::kernel::MappedMemory>* memory) override {
    return inner_.mapUserMemory(address, length, memory);
  }
  std::shared_ptr<platform::kernel::PendingRequest> markPending() override { return inner_.markPending(); }
  uint32_t information() const { return information_; }

 private:
  IoRequest& inner_;
  uint32_t information_ = 0;
};

}  // namespace

Driver::Driver(platform::kernel::DriverObject& host, DriverParameters parameters, Configuration configuration)
    : host_(host), parameters_(std::move(parameters)), configuration_(std::move(configuration)),
      traceMask_(parameters_.traceMask) {
  dispatcher_.registerFamilies();
  routingSeed_ = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) | 1;
}

Driver::~Driver() { stop(); }

NtStatus Driver::start(std::string* error) {
  {
    std::lock_guard lock(mutex_);
    for (size_t index = 0; index < configuration_.devices.size(); ++index) {
      if (!configuration_.devices[index].plugged) continue;
      ORVANE_DEVICE_ID id{};
      if (plugDevice(configuration_.devices[index], static_cast<int>(index), &id) != STATUS_SUCCESS) {
        *error = "more than " + std::to_string(ORVANE_MAX_DEVICES) + " devices are marked as plugged";
        return platform::kernel::STATUS_INVALID_PARAMETER;
      }
    }
  }
  const NtStatus status = createInterfaces(error);
  if (status == STATUS_SUCCESS) syncDeviceInterfaces();
  return status;
}

namespace {

// "USB#VID_2F1A_PID_0110#00000001#{BC1AFE28-22BD-4dfc-821B-51306F8D0D1D}"
std::u16string deviceInterfaceName(ORVANE_DEVICE_ID id) {
  char text[40];
  std::snprintf(text, sizeof text, "USB#VID_%04X_PID_%04X#%08X#", id.second >> 16, id.second & 0xFFFF, id.first);
  return std::u16string(text, text + std::strlen(text)) + kDeviceLinks[0];
}

}  // namespace

void Driver::syncDeviceInterfaces() {
  std::lock_guard interfaces(interfacesMutex_);
  std::map<uint32_t, ORVANE_DEVICE_ID> plugged;
  {
    std::lock_guard lock(mutex_);
    for (const auto& device : devices_) plugged[device->id().first] = device->id();
  }
  for (auto it = deviceInterfaces_.begin(); it != deviceInterfaces_.end();) {
    if (plugged.count(it->first) != 0) {
      ++it;
      continue;
    }
    host_.removeInterface(it->second);  // cleanups of its file objects take the driver lock
    it = deviceInterfaces_.erase(it);
  }
  for (const auto& [first, id] : plugged) {
    if (deviceInterfaces_.count(first) != 0) continue;
    platform::kernel::DeviceInterfaceInfo info;
    info.linkName = deviceInterfaceName(id);
    platform::parseGuid(std::u16string_view(kDeviceLinks[0]), &info.interfaceClass);
    info.description = u"Simulated USB audio device";
    if (host_.createInterface(info, deviceCallbacks_) == STATUS_SUCCESS) deviceInterfaces_[first] = info.linkName;
  }
}

NtStatus Driver::createInterfaces(std::string* error) {
  auto fail = [&](const std::u16string& link, NtStatus status) {
    char text[64];
    std::snprintf(text, sizeof text, " (status 0x%08X)", status);
    *error = "cannot create the interface " + std::string(link.begin(), link.end()) + text;
    for (const std::u16string& created : createdLinks_) host_.removeInterface(created);
    createdLinks_.clear();
    return status;
  };
  platform::kernel::DeviceCallbacks callbacks;
  callbacks.create = [this](FileObject& file) { return onCreate(file); };
  callbacks.deviceControl = [this](FileObject& file, IoRequest& request) { return onDeviceControl(file, request); };
  callbacks.cleanup = [this](FileObject& file) { onCleanup(file); };
  deviceCallbacks_ = callbacks;
  for (const char16_t* link : kDeviceLinks) {
    platform::kernel::DeviceInterfaceInfo info;
    info.linkName = link;
    platform::parseGuid(std::u16string_view(link), &info.interfaceClass);
    info.description = u"Simulated USB audio device";
    const NtStatus status = host_.createInterface(info, callbacks);
    if (status != STATUS_SUCCESS) return fail(info.linkName, status);
    createdLinks_.push_back(info.linkName);
  }
  platform::kernel::DeviceInterfaceInfo control;
  control.linkName = kControlLinkName;
  platform::parseGuid(std::string_view(kControlInterfaceClass), &control.interfaceClass);
  control.description = u"Simulated USB audio driver control";
  platform::kernel::DeviceCallbacks controlCallbacks;
  controlCallbacks.create = [](FileObject&) { return STATUS_SUCCESS; };
  controlCallbacks.deviceControl = [this](FileObject&, IoRequest& request) {
    const NtStatus result = onControl(request);
    syncDeviceInterfaces();  // a device may have been plugged or unplugged
    return result;
  };
  controlCallbacks.cleanup = [](FileObject&) {};
  const NtStatus status = host_.createInterface(control, controlCallbacks);
  if (status != STATUS_SUCCESS) return fail(control.linkName, status);
  createdLinks_.push_back(control.linkName);
  return STATUS_SUCCESS;
}

void Driver::stop() {
  delayer_.stop();
  std::lock_guard lock(mutex_);
  for (auto& [id, connection] : connections_) {
    if (connection->asio) connection->asio->stop();
  }
}

// ---------------------------------------------------------------------------
// File objects

NtStatus Driver::onCreate(FileObject& file) {
  auto connection = std::make_unique<Connection>();
  connection->linkName = file.linkName();
  connection->processId = file.processId();
  std::lock_guard lock(mutex_);
  do {
    connection->id = ++connectionCounter_;
  } while (connection->id == 0 || connections_.count(connection->id) != 0);
  connection->routingToken = (connection->id * 2654435761u) ^ routingSeed_;
  file.context = connection.get();
  connections_[connection->id] = std::move(connection);
  return STATUS_SUCCESS;
}

Connection* Driver::connectionOf(FileObject& file) { return static_cast<Connection*>(file.context); }

void Driver::onCleanup(FileObject& file) {
  Connection* connection = connectionOf(file);
  if (connection == nullptr) return;
  std::unique_ptr<Connection> owned;
  {
    std::lock_guard lock(mutex_);
    disposeAsioBuffers(*connection);
    for (uint64_t channelId : std::set<uint64_t>(connection->acquiredChannels)) releaseChannel(*connection, channelId);
    const bool wasView = connection->clientType && !connection->carriesTraffic();
    if (connection->isServer()) {
      serverId_ = 0;
      answerOutstandingRequests(ORVANE_STATUS_NO_SERVER);
    } else {
      std::erase_if(outstanding_, [&](const OutstandingRequest& r) { return r.connectionId == connection->id; });
    }
    auto found = connections_.find(connection->id);
    owned = std::move(found->second);
    connections_.erase(found);
    if (wasView) usageChanged(false);
  }
  file.context = nullptr;
}

std::optional<Fault> Driver::takeFault(uint32_t code) {
  std::lock_guard lock(mutex_);
  auto found = faults_.find(code);
  if (found == faults_.end()) return std::nullopt;
  if (found->second.letThrough > 0) {
    --found->second.letThrough;
    return std::nullopt;
  }
  Fault fault = found->second;
  if (found->second.remaining > 0 && --found->second.remaining == 0) faults_.erase(found);
  return fault;
}

void Driver::applyReplyPatches(uint32_t code, uint8_t* output, uint32_t size) {
  std::lock_guard lock(mutex_);
  auto found = replyPatches_.find(code);
  if (found == replyPatches_.end()) return;
  std::vector<ReplyPatch>& patches = found->second;
  for (ReplyPatch& patch : patches) {
    if (patch.offset < size) {
      const size_t length = std::min<size_t>(patch.bytes.size(), size - patch.offset);
      std::memcpy(output + patch.offset, patch.bytes.data(), length);
    }
    --patch.remaining;
  }
  std::erase_if(patches, [](const ReplyPatch& patch) { return patch.remaining == 0; });
  if (patches.empty()) replyPatches_.erase(found);
}

NtStatus Driver::onDeviceControl(FileObject& file, IoRequest& hostRequest) {
  Connection* connection = connectionOf(file);
  ++connection->requests;
  const std::optional<Fault> fault = takeFault(hostRequest.code());
  if (fault && fault->status != STATUS_SUCCESS) return fault->status;
  InformationRecorder request(hostRequest);
  NtStatus status = dispatcher_.dispatch(*this, *connection, request);
  if (!platform::statusSucceeded(status)) request.setInformation(0);
  if (status == STATUS_SUCCESS) applyReplyPatches(request.code(), request.output(), request.information());
  if (!fault || fault->delayMilliseconds == 0 || status == STATUS_PENDING) return status;

  // Answer later with the output the handler produced.
  std::vector<uint8_t> output(request.output(), request.output() + request.information());
  std::shared_ptr<platform::kernel::PendingRequest> pending = request.markPending();
  if (pending == nullptr) return status;
  delayer_.completeLater(std::move(pending), status, std::move(output), fault->delayMilliseconds);
  return STATUS_PENDING;
}

// ---------------------------------------------------------------------------
// Devices

VirtualDevice* Driver::findDevice(ORVANE_DEVICE_ID id) {
  for (auto& device : devices_) {
    if (sameDevice(device->id(), id)) return device.get();
  }
  return nullptr;
}

NtStatus Driver::plugDevice(const DeviceDescription& description, int configIndex, ORVANE_DEVICE_ID* id) {
  if (devices_.size() >= ORVANE_MAX_DEVICES) return ORVANE_STATUS_NO_RESOURCES;
  const ORVANE_DEVICE_ID newId{++plugCounter_, (uint32_t{description.vendorId} << 16) | description.productId};
  devices_.push_back(std::make_unique<VirtualDevice>(description, newId, configIndex));
  if (!engine_.hasSelection && engine_.mode == ORVANE_STREAMING_MODE_SINGLE_DEVICE) {
    engine_.hasSelection = true;
    engine_.selectedDevice = newId;
  }
  refreshEngineState();
  objectsChanged();
  postNotification(ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED);
  *id = newId;
  return STATUS_SUCCESS;
}

NtStatus Driver::unplugDevice(ORVANE_DEVICE_ID id) {
  auto found = std::find_if(devices_.begin(), devices_.end(),
                            [&](const auto& device) { return sameDevice(device->id(), id); });
  if (found == devices_.end()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  VirtualDevice& device = **found;
  const bool wasStreaming = isStreamingDevice(device);

  for (auto& [connectionId, connection] : connections_) {
    if (connection->asio) connection->asio->removeDeviceChannels(id.first);
    std::erase_if(connection->acquiredChannels, [&](uint64_t channel) { return (channel >> 32) == id.first; });
  }
  for (uint32_t direction : {ORVANE_SOUND_DEVICE_RECORDING, ORVANE_SOUND_DEVICE_PLAYBACK}) {
    for (SoundDevice& soundDevice : device.soundDevices(direction)) {
      if (!soundDevice.open) continue;
      soundDevice.open = false;
      postDeviceNotification(ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED, id);
    }
  }
  const uint32_t state = engine_.state.load();
  if (wasStreaming && (state == ORVANE_STREAMING_STATE_PREPARED || state == ORVANE_STREAMING_STATE_RUNNING)) {
    engine_.state = ORVANE_STREAMING_STATE_ERROR;
    ++counters_.streamingErrors;
  }
  devices_.erase(found);
  if (engine_.hasSelection && sameDevice(engine_.selectedDevice, id)) {
    engine_.hasSelection = !devices_.empty();
    if (engine_.hasSelection) engine_.selectedDevice = devices_.front()->id();
  }
  refreshEngineState();
  objectsChanged();
  postNotification(ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED);
  return STATUS_SUCCESS;
}

NtStatus Driver::switchSoundDevice(VirtualDevice& device, uint32_t direction, uint32_t index, bool open) {
  if (direction != ORVANE_SOUND_DEVICE_RECORDING && direction != ORVANE_SOUND_DEVICE_PLAYBACK) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::vector<SoundDevice>& list = device.soundDevices(direction);
  if (index >= list.size()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (list[index].open == open) return ORVANE_STATUS_ALREADY_DONE;
  list[index].open = open;
  // A MIDI port's clients are counted, not tracked by the generation.
  if (list[index].record.kind != ORVANE_SOUND_DEVICE_KIND_MIDI) objectsChanged();
  postDeviceNotification(open ? ORVANE_MSG_CODE_DEVICE_STREAMING_WANTED : ORVANE_MSG_CODE_DEVICE_STREAMING_NOT_WANTED,
                         device.id());
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Streaming engine

std::vector<VirtualDevice*> Driver::streamingDevices() {
  std::vector<VirtualDevice*> result;
  if (engine_.mode == ORVANE_STREAMING_MODE_ALL_DEVICES) {
    for (auto& device : devices_) result.push_back(device.get());
  } else if (engine_.hasSelection) {
    if (VirtualDevice* device = findDevice(engine_.selectedDevice)) result.push_back(device);
  }
  return result;
}

bool Driver::isStreamingDevice(const VirtualDevice& device) {
  for (VirtualDevice* streaming : streamingDevices()) {
    if (streaming == &device) return true;
  }
  return false;
}

std::vector<uint32_t> Driver::offeredSampleRates() {
  const std::vector<VirtualDevice*> streaming = streamingDevices();
  if (streaming.empty()) return {};
  std::vector<uint32_t> rates = streaming.front()->description().sampleRates;
  for (VirtualDevice* device : streaming) {
    std::erase_if(rates, [&](uint32_t rate) { return !device->supportsRate(rate); });
  }
  return rates;
}

std::vector<Channel*> Driver::listedChannels(uint32_t direction) {
  std::vector<Channel*> result;
  const bool dsd = isDsdRate(engine_.sampleRate.load());
  for (VirtualDevice* device : streamingDevices()) {
    for (Channel& channel : device->channels(direction)) {
      if (channel.isDsd() == dsd && result.size() < ORVANE_MAX_CHANNELS) result.push_back(&channel);
    }
  }
  return result;
}

Channel* Driver::findListedChannel(uint64_t id, VirtualDevice** owner) {
  const bool dsd = isDsdRate(engine_.sampleRate.load());
  for (VirtualDevice* device : streamingDevices()) {
    Channel* channel = device->findChannel(id);
    if (channel != nullptr && channel->isDsd() == dsd) {
      if (owner != nullptr) *owner = device;
      return channel;
    }
  }
  return nullptr;
}

void Driver::refreshEngineState() {
  const std::vector<uint32_t> rates = offeredSampleRates();
  const uint32_t state = engine_.state.load();
  const bool idle = state == ORVANE_STREAMING_STATE_DOWN || state == ORVANE_STREAMING_STATE_READY ||
                    state == ORVANE_STREAMING_STATE_UNSUPPORTED;
  if (!rates.empty() && idle && std::find(rates.begin(), rates.end(), engine_.sampleRate.load()) == rates.end()) {
    const bool has48k = std::find(rates.begin(), rates.end(), 48000u) != rates.end();
    engine_.sampleRate = has48k ? 48000u : rates.front();
  }
  if (!idle) return;
  const std::vector<VirtualDevice*> streaming = streamingDevices();
  const bool allHighSpeed = std::all_of(streaming.begin(), streaming.end(),
                                        [](VirtualDevice* device) { return device->description().highSpeed; });
  if (streaming.empty()) {
    engine_.state = ORVANE_STREAMING_STATE_DOWN;
  } else if (!allHighSpeed) {
    engine_.state = ORVANE_STREAMING_STATE_UNSUPPORTED;
  } else if (state == ORVANE_STREAMING_STATE_UNSUPPORTED) {
    engine_.state = ORVANE_STREAMING_STATE_DOWN;
  }
}

ORVANE_STREAMING_STATUS Driver::streamingStatus() {
  ORVANE_STREAMING_STATUS status{};
  status.state = engine_.state.load();
  status.mode = engine_.mode;
  status.sampleRate = engine_.sampleRate.load();
  // Offset 12: connections with ASIO buffers (streaming wanted by ASIO).
  // Offset 16: open WDM sound devices. Offset 20: running ASIO streams.
  // Offsets 24 and 28: open mixer views and panel views, which show levels
  // and the S/PDIF input and so want the streams running too.
  for (auto& [id, connection] : connections_) {
    if (connection->asio) {
      ++status.reserved1;
      if (connection->asio->running()) ++status.secondUsageCount;
    }
    if (connection->clientType == ORVANE_CLIENT_TYPE_MIXER_VIEW) ++status.reserved2[0];
    if (connection->clientType == ORVANE_CLIENT_TYPE_VIEW) ++status.reserved2[1];
  }
  for (auto& device : devices_) status.firstUsageCount += device->openSoundDevices();
  return status;
}

void Driver::usageChanged(bool begins) {
  postNotification(begins ? ORVANE_MSG_CODE_STREAMING_WANTED : ORVANE_MSG_CODE_STREAMING_NOT_WANTED);
}

// ---------------------------------------------------------------------------
// Connections and messages

Connection* Driver::findConnection(uint32_t id) {
  if (id == 0) return nullptr;
  auto found = connections_.find(id);
  return found == connections_.end() ? nullptr : found->second.get();
}

std::vector<Connection*> Driver::connections() {
  std::vector<Connection*> result;
  for (auto& [id, connection] : connections_) result.push_back(connection.get());
  return result;
}

void Driver::postNotification(uint32_t code, const void* payload, uint32_t length, const Connection* sender) {
  const ORVANE_MESSAGE message = notificationRecord(code, payload, length);
  for (auto& [id, connection] : connections_) {
    if (connection.get() == sender || !connection->carriesTraffic()) continue;
    push(connection->notifications, connection->droppedNotifications, message);
    if (connection->notificationEvent) connection->notificationEvent->set();
  }
}

void Driver::postDeviceNotification(uint32_t code, ORVANE_DEVICE_ID device) {
  postNotification(code, &device, sizeof device);
}

void Driver::queueMessage(Connection& target, const ORVANE_MESSAGE& message) {
  push(target.messages, target.droppedMessages, message);
  if (target.messageEvent) target.messageEvent->set();
}

NtStatus Driver::registerClient(Connection& connection, uint32_t type) {
  if (type > ORVANE_CLIENT_TYPE_MIXER_VIEW) return ORVANE_STATUS_INVALID_TYPE;
  if (connection.clientType) return ORVANE_STATUS_ALREADY_DONE;
  if (type == ORVANE_CLIENT_TYPE_SERVER) {
    if (serverId_ != 0) return ORVANE_STATUS_ALREADY_DONE;
    serverId_ = connection.id;
  }
  connection.clientType = type;
  if (!connection.carriesTraffic()) {
    usageChanged(true);
  } else if (type != ORVANE_CLIENT_TYPE_SERVER && serverId_ != 0) {
    // A new client: let the service tell everyone the device list (3030).
    if (Connection* serverConnection = server()) {
      const ORVANE_MESSAGE query = notificationRecord(ORVANE_MSG_CODE_DEVICE_LIST_QUERY, nullptr, 0);
      push(serverConnection->notifications, serverConnection->droppedNotifications, query);
      if (serverConnection->notificationEvent) serverConnection->notificationEvent->set();
    }
  }
  return STATUS_SUCCESS;
}

NtStatus Driver::sendMessage(Connection& sender, const ORVANE_MESSAGE& message) {
  if (!sender.carriesTraffic()) return ORVANE_STATUS_NOT_ALLOWED;
  switch (message.kind) {
    case ORVANE_MSG_REQUEST: {
      if (sender.isServer()) return ORVANE_STATUS_NOT_ALLOWED;
      Connection* target = server();
      if (target == nullptr) return ORVANE_STATUS_NO_SERVER;
      ORVANE_MESSAGE routed = message;
      routed.routingFirst = sender.id;
      routed.routingSecond = sender.routingToken;
      if (outstanding_.size() >= kMaxOutstandingRequests) outstanding_.pop_front();
      outstanding_.push_back({sender.id, routed.sequence, routed.routingFirst, routed.routingSecond});
      queueMessage(*target, routed);
      return STATUS_SUCCESS;
    }
    case ORVANE_MSG_RESPONSE: {
      if (!sender.isServer()) return ORVANE_STATUS_NOT_ALLOWED;
      Connection* client = findConnection(message.routingFirst);
      if (client == nullptr || client->routingToken != message.routingSecond) {
        return ORVANE_STATUS_INITIATOR_NOT_FOUND;
      }
      std::erase_if(outstanding_, [&](const OutstandingRequest& r) {
        return r.connectionId == client->id && r.sequence == message.sequence;
      });
      queueMessage(*client, message);
      return STATUS_SUCCESS;
    }
    case ORVANE_MSG_NOTIFICATION:
      if (!sender.isServer()) return ORVANE_STATUS_NOT_ALLOWED;
      postNotification(message.code, message.payload, message.payloadLength, &sender);
      return STATUS_SUCCESS;
    default:
      return ORVANE_STATUS_INVALID_MSG_TYPE;
  }
}

void Driver::answerOutstandingRequests(uint32_t status) {
  for (const OutstandingRequest& request : outstanding_) {
    Connection* client = findConnection(request.connectionId);
    if (client == nullptr) continue;
    ORVANE_MESSAGE response{};
    response.headerSize = ORVANE_MESSAGE_HEADER_SIZE;
    response.kind = ORVANE_MSG_RESPONSE;
    response.code = ORVANE_MSG_CODE_RESULT;
    response.sequence = request.sequence;
    response.routingFirst = request.routingFirst;
    response.routingSecond = request.routingSecond;
    response.result = status;
    queueMessage(*client, response);
  }
  outstanding_.clear();
}

// ---------------------------------------------------------------------------
// ASIO

void Driver::releaseChannel(Connection& connection, uint64_t channelId) {
  if (connection.acquiredChannels.erase(channelId) == 0) return;
  for (auto& device : devices_) {
    if (Channel* channel = device->findChannel(channelId); channel != nullptr && channel->owner == connection.id) {
      channel->owner = 0;
    }
  }
  if (connection.asio) connection.asio->removeChannel(channelId);
  objectsChanged();
}

void Driver::disposeAsioBuffers(Connection& connection) {
  if (!connection.asio) return;
  connection.asio->stop();
  connection.asio.reset();
  objectsChanged();
  usageChanged(false);
}

}  // namespace usbaudio_sim

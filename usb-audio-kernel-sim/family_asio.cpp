// ASIO channels and the stream: acquire and release, buffers, start and stop.

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::KernelEvent;
using platform::kernel::MappedMemory;
using platform::kernel::STATUS_SUCCESS;

// Frames of one buffer half the stream accepts.
constexpr uint32_t kMaxBufferFrames = 8192;

bool channelExists(Driver& driver, uint64_t id) {
  for (const auto& device : driver.devices()) {
    if (device->findChannel(id) != nullptr) return true;
  }
  return false;
}

NtStatus acquireChannel(RequestContext& context) {
  const auto id = context.input<uint64_t>();
  Channel* channel = context.driver.findListedChannel(id);
  if (channel == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (channel->owner == context.connection.id) return STATUS_SUCCESS;
  if (channel->owner != 0) return ORVANE_STATUS_IN_USE;
  channel->owner = context.connection.id;
  context.connection.acquiredChannels.insert(id);
  context.driver.objectsChanged();
  return STATUS_SUCCESS;
}

NtStatus releaseChannel(RequestContext& context) {
  const auto id = context.input<uint64_t>();
  if (context.connection.acquiredChannels.count(id) == 0) {
    return channelExists(context.driver, id) ? ORVANE_STATUS_NOT_ALLOWED : ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  context.driver.releaseChannel(context.connection, id);
  return STATUS_SUCCESS;
}

// Maps the shared block and resolves the buffer event without the lock (both
// wait for the caller), then installs a new stream.
NtStatus createBuffers(RequestContext& context) {
  const auto record = context.input<ORVANE_ASIO_CREATE_BUFFERS>();
  if (record.bufferFrames == 0 || record.bufferFrames > kMaxBufferFrames) return ORVANE_STATUS_INVALID_BUFFER_SIZE;
  if (record.sharedBlockAddress == 0 || record.bufferEvent == 0) return ORVANE_STATUS_INVALID_PARAMETER;
  std::shared_ptr<MappedMemory> block;
  if (context.request.mapUserMemory(record.sharedBlockAddress, sizeof(ORVANE_ASIO_SHARED_BLOCK), &block) !=
          STATUS_SUCCESS ||
      reinterpret_cast<uintptr_t>(block->data()) % alignof(uint32_t) != 0) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::shared_ptr<KernelEvent> event;
  if (context.request.referenceEvent(record.bufferEvent, &event) != STATUS_SUCCESS) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::lock_guard lock(context.driver.mutex());
  Driver& driver = context.driver;
  driver.disposeAsioBuffers(context.connection);
  context.connection.asio = std::make_unique<AsioStream>(std::move(block), std::move(event), record.bufferFrames,
                                                         driver.engine(), driver.counters().asioErrors);
  driver.objectsChanged();
  driver.usageChanged(true);
  return STATUS_SUCCESS;
}

// Checks the record against the stream and the caller's channels; fills the
// parts of the buffer description the driver knows.
NtStatus checkChannelBuffers(Driver& driver, Connection& connection, const ORVANE_ASIO_CHANNEL_BUFFERS& record,
                             ChannelBufferSpec* spec) {
  if (!connection.asio) return ORVANE_STATUS_INVALID_STATE;
  if (connection.acquiredChannels.count(record.channelId) == 0) {
    return channelExists(driver, record.channelId) ? ORVANE_STATUS_NOT_ALLOWED : ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  VirtualDevice* device = nullptr;
  Channel* channel = driver.findListedChannel(record.channelId, &device);
  if (channel == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  if (record.bufferWord != ORVANE_ASIO_CHANNEL_BUFFER_WORD || record.firstHalfAddress == 0) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  if (record.halfSizeBytes != connection.asio->halfBytesFor(channel->isDsd())) return ORVANE_STATUS_INVALID_BUFFER_SIZE;
  spec->channelId = channel->id;
  spec->deviceFirst = device->id().first;
  spec->direction = channel->direction;
  spec->portType = channel->portType;
  spec->index = channel->index;
  spec->meter = channel->meter;
  spec->halfBytes = record.halfSizeBytes;
  return STATUS_SUCCESS;
}

NtStatus setChannelBuffers(RequestContext& context) {
  const auto record = context.input<ORVANE_ASIO_CHANNEL_BUFFERS>();
  ChannelBufferSpec spec;
  {
    std::lock_guard lock(context.driver.mutex());
    const NtStatus status = checkChannelBuffers(context.driver, context.connection, record, &spec);
    if (status != STATUS_SUCCESS) return status;
  }
  if (context.request.mapUserMemory(record.firstHalfAddress, uint64_t{record.halfSizeBytes} * 2, &spec.memory) !=
      STATUS_SUCCESS) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  std::lock_guard lock(context.driver.mutex());
  // The stream or the channel may have gone while the memory was mapped.
  ChannelBufferSpec current;
  const NtStatus status = checkChannelBuffers(context.driver, context.connection, record, &current);
  if (status != STATUS_SUCCESS) return status;
  current.memory = std::move(spec.memory);
  context.connection.asio->setChannelBuffer(std::move(current));
  context.driver.objectsChanged();
  return STATUS_SUCCESS;
}

NtStatus start(RequestContext& context) {
  if (!context.connection.asio) return ORVANE_STATUS_INVALID_STATE;
  if (context.connection.asio->start() != 0) return ORVANE_STATUS_START_CHANNEL_FAILED;
  context.driver.objectsChanged();
  return STATUS_SUCCESS;
}

NtStatus stop(RequestContext& context) {
  if (!context.connection.asio) return ORVANE_STATUS_INVALID_STATE;
  context.connection.asio->stop();
  return STATUS_SUCCESS;
}

NtStatus disposeBuffers(RequestContext& context) {
  context.driver.disposeAsioBuffers(context.connection);
  return STATUS_SUCCESS;
}

void registerAsioFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, acquireChannel);
  dispatcher.add(ORVANE_IOCTL_ASIO_RELEASE_CHANNEL, releaseChannel);
  dispatcher.add(ORVANE_IOCTL_ASIO_CREATE_BUFFERS, createBuffers, HandlerLocking::handlerLocks);
  dispatcher.add(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS, disposeBuffers);
  dispatcher.add(ORVANE_IOCTL_ASIO_SET_CHANNEL_BUFFERS, setChannelBuffers, HandlerLocking::handlerLocks);
  dispatcher.add(ORVANE_IOCTL_ASIO_START, start);
  dispatcher.add(ORVANE_IOCTL_ASIO_STOP, stop);
}

const HandlerFamily asioFamily("asio", registerAsioFamily);

}  // namespace
}  // namespace usbaudio_sim

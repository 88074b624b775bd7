#include "ethernet-midi-driver/ethernet_midi_miniport.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mirelo {

std::atomic<EthernetMidiMiniport*> g_Miniports[kMaxPorts] = {};

// ================================================================ filter descriptor

const platform::KSDATARANGE_MUSIC kMidiStreamRange = {
    {sizeof(platform::KSDATARANGE_MUSIC), 0, 0, 0, platform::KSDATAFORMAT_TYPE_MUSIC,
     platform::KSDATAFORMAT_SUBTYPE_MIDI, platform::KSDATAFORMAT_SPECIFIER_NONE},
    platform::KSMUSIC_TECHNOLOGY_PORT,
    0,
    0,
    0xFFFF};

const KSDATARANGE kMidiBusRange = {sizeof(KSDATARANGE),
                                   0,
                                   0,
                                   0,
                                   platform::KSDATAFORMAT_TYPE_MUSIC,
                                   platform::KSDATAFORMAT_SUBTYPE_MIDI_BUS,
                                   platform::KSDATAFORMAT_SPECIFIER_NONE};

namespace {

const KSDATARANGE* const kStreamRanges[] = {&kMidiStreamRange.dataRange};
const KSDATARANGE* const kBusRanges[] = {&kMidiBusRange};

constexpr KSPIN_DESCRIPTOR pinDescriptor(const KSDATARANGE* const* ranges, KSPIN_DATAFLOW flow,
                                         KSPIN_COMMUNICATION communication) {
  return KSPIN_DESCRIPTOR{0, nullptr, 0, nullptr, 1, ranges, flow, communication, &platform::KSCATEGORY_AUDIO, nullptr};
}

const PCPIN_DESCRIPTOR kMidiPins[] = {
    {kStreamLimit, kStreamLimit, 0, nullptr,
     pinDescriptor(kStreamRanges, platform::KSPIN_DATAFLOW_OUT, platform::KSPIN_COMMUNICATION_SINK)},
    {0, 0, 0, nullptr, pinDescriptor(kBusRanges, platform::KSPIN_DATAFLOW_IN, platform::KSPIN_COMMUNICATION_NONE)},
    {kStreamLimit, kStreamLimit, 0, nullptr,
     pinDescriptor(kStreamRanges, platform::KSPIN_DATAFLOW_IN, platform::KSPIN_COMMUNICATION_SINK)},
    {0, 0, 0, nullptr, pinDescriptor(kBusRanges, platform::KSPIN_DATAFLOW_OUT, platform::KSPIN_COMMUNICATION_NONE)},
};

const PCNODE_DESCRIPTOR kMidiNodes[] = {
    {0, nullptr, &platform::KSNODETYPE_SYNTHESIZER, nullptr},
    {0, nullptr, &platform::KSNODETYPE_SYNTHESIZER, nullptr},
};

const PCCONNECTION_DESCRIPTOR kMidiConnections[] = {
    {PCFILTER_NODE, 1, 0, 1},
    {0, 0, PCFILTER_NODE, 0},
    {PCFILTER_NODE, 2, 1, 1},
    {1, 0, PCFILTER_NODE, 3},
};

constexpr uint32_t kWorkDisconnect = 0;
constexpr uint32_t kWorkConnect = 1;

uint32_t groupAddress() {
  uint32_t address;
  std::memcpy(&address, kMulticastGroup, sizeof address);
  return address;  // network byte order
}

uint16_t networkPort(uint32_t portIndex) {
  const uint16_t port = static_cast<uint16_t>(kFirstUdpPort + portIndex);
  return static_cast<uint16_t>((port >> 8) | (port << 8));
}

}  // namespace

const PCFILTER_DESCRIPTOR kMidiFilterDescriptor = {
    0,       nullptr,    sizeof(PCPIN_DESCRIPTOR), 4, kMidiPins, sizeof(PCNODE_DESCRIPTOR), 2, kMidiNodes, 4,
    kMidiConnections, 0, nullptr};

// ================================================================ construction

EthernetMidiMiniport::EthernetMidiMiniport(IUnknown* outer, uint32_t portIndex)
    : CUnknown(outer), portIndex_(portIndex) {
  keInitializeSpinLock(&captureLock_);
  keInitializeEvent(&connected_, NotificationEvent, false);
  disconnectWork_.miniport = this;
  disconnectWork_.kind = kWorkDisconnect;
  keInitializeEvent(&disconnectWork_.idle, NotificationEvent, true);
  connectWork_.miniport = this;
  connectWork_.kind = kWorkConnect;
  keInitializeEvent(&connectWork_.idle, NotificationEvent, true);
  if (portIndex_ < kMaxPorts) g_Miniports[portIndex_].store(this);
}

EthernetMidiMiniport::~EthernetMidiMiniport() {
  if (portIndex_ < kMaxPorts) {
    EthernetMidiMiniport* self = this;
    g_Miniports[portIndex_].compare_exchange_strong(self, nullptr);
  }
  // Work holds a reference, so none is queued now; what is still open closes.
  FullClose();
  if (port_ != nullptr) port_->Release();
  if (serviceGroup_ != nullptr) serviceGroup_->Release();
  if (adapter_ != nullptr) adapter_->Release();
}

NtStatus EthernetMidiMiniport::NonDelegatingQueryInterface(const platform::Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(static_cast<IMiniportMidi*>(this));
  } else if (iid == IID_IMiniport || iid == IID_IMiniportMidi) {
    *object = static_cast<IMiniportMidi*>(this);
  } else {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  AddRef();
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiMiniport::GetDescription(const PCFILTER_DESCRIPTOR** description) {
  if (description == nullptr) return STATUS_INVALID_PARAMETER;
  *description = &kMidiFilterDescriptor;
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiMiniport::DataRangeIntersection(uint32_t, const KSDATARANGE*, const KSDATARANGE*, uint32_t, void*,
                                                     uint32_t*) {
  return STATUS_NOT_IMPLEMENTED;
}

NtStatus EthernetMidiMiniport::Init(IUnknown* unknownAdapter, IResourceList*, IPortMidi* port,
                                    IServiceGroup** serviceGroup) {
  if (unknownAdapter == nullptr || port == nullptr || serviceGroup == nullptr) return STATUS_INVALID_PARAMETER;
  renderCount_ = captureCount_ = 0;
  renderLimit_ = captureLimit_ = kStreamLimit;
  captureWritePosition_ = 0;
  port_ = port;
  port_->AddRef();
  NtStatus status = unknownAdapter->QueryInterface(IID_IEthernetMidiAdapter, reinterpret_cast<void**>(&adapter_));
  if (status == STATUS_SUCCESS) {
    status = pcNewServiceGroup(&serviceGroup_, nullptr);
    if (status == STATUS_SUCCESS && serviceGroup_ == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  }
  if (status != STATUS_SUCCESS) {
    if (adapter_ != nullptr) std::exchange(adapter_, nullptr)->Release();
    if (serviceGroup_ != nullptr) std::exchange(serviceGroup_, nullptr)->Release();
    std::exchange(port_, nullptr)->Release();
    return status;
  }
  serviceGroup_->AddRef();
  *serviceGroup = serviceGroup_;
  adapter_->SetPortCallback(&PortConnectCallback);
  descriptor_ = &kMidiFilterDescriptor;
  return STATUS_SUCCESS;
}

// ================================================================ streams

NtStatus EthernetMidiMiniport::NewStream(IMiniportMidiStream** stream, IUnknown* outerUnknown, PoolType poolType,
                                         uint32_t pin, bool capture, const KSDATAFORMAT*, IServiceGroup** serviceGroup) {
  if (stream == nullptr || serviceGroup == nullptr) return STATUS_INVALID_PARAMETER;
  *stream = nullptr;
  *serviceGroup = nullptr;
  uint64_t readPosition;
  {
    Irql old;
    keAcquireSpinLock(&captureLock_, &old);
    uint16_t& count = capture ? captureCount_ : renderCount_;
    const bool full = count >= (capture ? captureLimit_ : renderLimit_);
    if (!full) ++count;
    readPosition = captureWritePosition_;
    keReleaseSpinLock(&captureLock_, old);
    if (full) return STATUS_INSUFFICIENT_RESOURCES;
  }
  auto* created = new (poolType, kStreamTag) EthernetMidiStream(outerUnknown, this, capture, pin, readPosition);
  if (created == nullptr) {
    Irql old;
    keAcquireSpinLock(&captureLock_, &old);
    --(capture ? captureCount_ : renderCount_);
    keReleaseSpinLock(&captureLock_, old);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  created->AddRef();
  *stream = created;
  if (capture) {
    serviceGroup_->AddRef();
    *serviceGroup = serviceGroup_;
  }
  ScheduleConnect();
  return STATUS_SUCCESS;
}

void EthernetMidiMiniport::StreamClosed(bool capture) {
  Irql old;
  keAcquireSpinLock(&captureLock_, &old);
  uint16_t& count = capture ? captureCount_ : renderCount_;
  if (count > 0) --count;
  keReleaseSpinLock(&captureLock_, old);
  ScheduleDisconnect(DelayedWorkQueue);
}

uint32_t EthernetMidiMiniport::StreamCount(bool capture) {
  Irql old;
  keAcquireSpinLock(&captureLock_, &old);
  const uint32_t count = capture ? captureCount_ : renderCount_;
  keReleaseSpinLock(&captureLock_, old);
  return count;
}

uint64_t EthernetMidiMiniport::CapturePosition() {
  Irql old;
  keAcquireSpinLock(&captureLock_, &old);
  const uint64_t position = captureWritePosition_;
  keReleaseSpinLock(&captureLock_, old);
  return position;
}

// A stream that fell more than a ring behind skips to the oldest byte the
// ring still holds; the bytes it missed are counted.
NtStatus EthernetMidiMiniport::ReadCapture(uint64_t* readPosition, uint8_t* buffer, uint32_t length,
                                           uint32_t* bytesRead) {
  keAcquireSpinLockAtDpcLevel(&captureLock_);
  if (captureWritePosition_ - *readPosition > kRingSize) {
    lostCaptureBytes_.fetch_add(captureWritePosition_ - *readPosition - kRingSize);
    *readPosition = captureWritePosition_ - kRingSize;
  }
  const auto count = static_cast<uint32_t>(std::min<uint64_t>(length, captureWritePosition_ - *readPosition));
  for (uint32_t i = 0; i < count; ++i) buffer[i] = captureRing_[(*readPosition + i) % kRingSize];
  *readPosition += count;
  keReleaseSpinLockFromDpcLevel(&captureLock_);
  *bytesRead = count;
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiMiniport::WriteRender(const uint8_t* buffer, uint32_t length, uint32_t* bytesWritten) {
  if (buffer == nullptr) length = 0;
  if (adapter_->IsMuted(portIndex_) != 0) {
    *bytesWritten = length;  // discarded as if sent
    return STATUS_SUCCESS;
  }
  if (length == 0) {
    *bytesWritten = 0;
    return STATUS_SUCCESS;
  }
  if (connectWork_.outstanding.load() != 0) {
    // A connect is queued or running (this stream's own, or an unmute): what
    // it will do is not known yet, so nothing is taken; the port retries.
    *bytesWritten = 0;
    return STATUS_SUCCESS;
  }
  if (keReadStateEvent(&connected_) != 0) return transport_.EnqueueSend(buffer, length, bytesWritten);
  adapter_->SetProblem(portIndex_, 1);
  *bytesWritten = 0;
  return STATUS_DEVICE_NOT_CONNECTED;
}

// ================================================================ network side

NtStatus EthernetMidiMiniport::ReceiveBytes(void* context, const uint8_t* bytes, uint32_t count,
                                            bool fromThisComputer) {
  auto* miniport = static_cast<EthernetMidiMiniport*>(context);
  if (bytes == nullptr) count = 0;
  if (miniport->adapter_->IsMuted(miniport->portIndex_) != 0) return STATUS_SUCCESS;
  if (fromThisComputer && miniport->adapter_->GetLoopback() == 0) return STATUS_SUCCESS;
  if (count == 0) return STATUS_SUCCESS;
  const uint32_t taken = std::min(count, kRingSize);
  keAcquireSpinLockAtDpcLevel(&miniport->captureLock_);
  for (uint32_t i = 0; i < taken; ++i) {
    miniport->captureRing_[(miniport->captureWritePosition_ + i) % kRingSize] = bytes[i];
  }
  miniport->captureWritePosition_ += taken;
  keReleaseSpinLockFromDpcLevel(&miniport->captureLock_);
  miniport->port_->Notify(miniport->serviceGroup_);
  return STATUS_SUCCESS;
}

void EthernetMidiMiniport::ReportSendFailure(void* context, uint32_t, uint32_t, uint32_t) {
  auto* miniport = static_cast<EthernetMidiMiniport*>(context);
  miniport->adapter_->SetProblem(miniport->portIndex_, 1);
  miniport->ScheduleDisconnect(CriticalWorkQueue);
}

NtStatus PortConnectCallback(uint32_t index, bool connect) {
  if (index >= kMaxPorts) return STATUS_SUCCESS;
  EthernetMidiMiniport* miniport = g_Miniports[index].load();
  if (miniport == nullptr) return STATUS_SUCCESS;
  if (connect) {
    miniport->ScheduleConnect();
  } else {
    miniport->ScheduleDisconnect(CriticalWorkQueue);
  }
  return STATUS_SUCCESS;
}

void EthernetMidiMiniport::ScheduleConnect() { Schedule(connectWork_, CriticalWorkQueue); }

void EthernetMidiMiniport::ScheduleDisconnect(WorkQueueType queue) { Schedule(disconnectWork_, queue); }

// A record is queued at most once; a run reads the counts and flags of the
// moment it runs. The record counts as idle again as soon as its run starts,
// so that a change made during the run queues one more run rather than being
// missed. The miniport stays alive until the run is over.
void EthernetMidiMiniport::Schedule(WorkRecord& record, WorkQueueType queue) {
  if (keResetEvent(&record.idle) == 0) return;  // queued already
  record.workItem = ioAllocateWorkItem(adapter_->GetDeviceObject());
  if (record.workItem == nullptr) {
    dbgPrint("port %d: no work item for a %s\n", portIndex_ + 1, record.kind == kWorkConnect ? "connect" : "disconnect");
    keSetEvent(&record.idle);
    return;
  }
  record.outstanding.fetch_add(1);
  AddRef();
  ioQueueWorkItem(record.workItem, &EthernetMidiMiniport::WorkRoutine, queue, &record);
}

void EthernetMidiMiniport::WorkRoutine(DeviceObject*, void* context) {
  auto* record = static_cast<WorkRecord*>(context);
  EthernetMidiMiniport* miniport = record->miniport;
  IoWorkItem* item = record->workItem;
  keSetEvent(&record->idle);
  if (record->kind == kWorkConnect) {
    miniport->ConnectPort();
  } else {
    miniport->DisconnectPort();
  }
  record->outstanding.fetch_sub(1);
  ioFreeWorkItem(item);
  miniport->Release();
}

NtStatus EthernetMidiMiniport::ConnectPort() {
  std::lock_guard lock(networkMutex_);
  const uint32_t render = StreamCount(false);
  const uint32_t capture = StreamCount(true);
  if (adapter_->IsMuted(portIndex_) != 0 || (render == 0 && capture == 0)) {
    keSetEvent(&connected_);
    return STATUS_SUCCESS;
  }
  NtStatus status = STATUS_SUCCESS;
  if (!transport_.IsOpen()) {
    status = transport_.OpenAddress(groupAddress(), networkPort(portIndex_), &EthernetMidiMiniport::ReceiveBytes,
                                    &EthernetMidiMiniport::ReportSendFailure, this);
  }
  if (render > 0 && status == STATUS_SUCCESS) {
    // A thread that ended after a failure is reaped before a new one starts.
    if (transport_.SendThreadEnded()) transport_.StopSendThread();
    if (!transport_.HasSendThread()) status = transport_.StartSendThread();
  }
  if (capture > 0 && status == STATUS_SUCCESS && !transport_.ReceiveEnabled()) status = transport_.EnableReceive();
  if (status != STATUS_SUCCESS) {
    dbgPrint("port %d: connect failed, status 0x%08x\n", portIndex_ + 1, status);
    keClearEvent(&connected_);
    return status;
  }
  keSetEvent(&connected_);
  return STATUS_SUCCESS;
}

void EthernetMidiMiniport::FullClose() {
  if (transport_.HasSendThread()) transport_.StopSendThread();
  if (transport_.ReceiveEnabled()) transport_.DisableReceive();
  if (transport_.IsOpen()) {
    transport_.CloseAddress();
    keClearEvent(&connected_);
  }
}

NtStatus EthernetMidiMiniport::DisconnectPort() {
  std::lock_guard lock(networkMutex_);
  const uint32_t render = StreamCount(false);
  const uint32_t capture = StreamCount(true);
  if (adapter_->IsMuted(portIndex_) != 0 || (render == 0 && capture == 0)) {
    FullClose();
  } else if (render > 0 && capture == 0) {
    if (transport_.ReceiveEnabled()) transport_.DisableReceive();
  } else if (render == 0 && capture > 0) {
    if (transport_.HasSendThread()) transport_.StopSendThread();
  }
  return STATUS_SUCCESS;
}

// ================================================================ the stream object

EthernetMidiStream::EthernetMidiStream(IUnknown* outer, EthernetMidiMiniport* miniport, bool capture, uint32_t pin,
                                       uint64_t readPosition)
    : CUnknown(outer), miniport_(miniport), capture_(capture), pin_(pin), readPosition_(readPosition) {
  miniport_->AddRef();
}

EthernetMidiStream::~EthernetMidiStream() {
  miniport_->StreamClosed(capture_);
  miniport_->Release();
}

NtStatus EthernetMidiStream::NonDelegatingQueryInterface(const platform::Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(static_cast<IMiniportMidiStream*>(this));
  } else if (iid == IID_IMiniportMidiStream) {
    *object = static_cast<IMiniportMidiStream*>(this);
  } else {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  AddRef();
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiStream::SetFormat(const KSDATAFORMAT*) { return STATUS_SUCCESS; }

NtStatus EthernetMidiStream::SetState(KSSTATE state) {
  state_ = state == platform::KSSTATE_ACQUIRE ? platform::KSSTATE_STOP : state;
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiStream::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (bytesRead == nullptr) return STATUS_INVALID_PARAMETER;
  *bytesRead = 0;
  if (!capture_) return STATUS_INVALID_DEVICE_REQUEST;
  if (buffer == nullptr) return STATUS_SUCCESS;
  return miniport_->ReadCapture(&readPosition_, static_cast<uint8_t*>(buffer), length, bytesRead);
}

NtStatus EthernetMidiStream::Write(const void* buffer, uint32_t length, uint32_t* bytesWritten) {
  if (bytesWritten == nullptr) return STATUS_INVALID_PARAMETER;
  *bytesWritten = 0;
  if (capture_) return STATUS_INVALID_DEVICE_REQUEST;
  return miniport_->WriteRender(static_cast<const uint8_t*>(buffer), length, bytesWritten);
}

}  // namespace mirelo

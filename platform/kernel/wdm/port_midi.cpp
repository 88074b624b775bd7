// The MIDI port: pins over the miniport's MIDI streams.
//
// Capture: when the miniport notifies the port (on the thread that received
// the data), the port reads every capture stream at once and keeps what it
// read, with the time it arrived, for the pin's readers: up to 64 KiB per pin;
// beyond that new bytes are dropped and the next record says how many.
// Bytes read while a pin is not running are discarded.
//
// Render: a write hands its records to the stream in order, each at its time.
// What the stream does not take at once (its buffer is full, or the record is
// due later) is retried by the port's timer thread, so a write completes only
// when all its bytes were taken, or with the stream's error.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <thread>
#include <utility>

#include "platform/kernel/wdm/port_internal.h"

namespace platform::wdm {

using platform::KSSTATE_RUN;
using platform::KSSTATE_STOP;
using platform::MidiStreamRecordHeader;
using platform::midiRecordSize;

namespace {

constexpr size_t kMaxQueuedBytes = 64 * 1024;
constexpr uint32_t kReadChunk = 1024;
constexpr int64_t kRetryInterval = 10'000;  // 1 ms in 100-ns units
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

class MidiPort;

struct CaptureRecord {
  int64_t time = 0;
  uint32_t lostBytes = 0;
  size_t offset = 0;  // bytes already handed to readers
  std::vector<uint8_t> bytes;
};

using Completions = std::vector<std::pair<Irp*, NtStatus>>;

class MidiPin final : public KsObject {
 public:
  MidiPin(MidiPort* port, FileObject* file, uint32_t pinId, bool capture, IMiniportMidiStream* stream,
          IServiceGroup* group, KsObject* filter);
  ~MidiPin() override;

  NtStatus deviceControl(Irp* irp) override;
  void cleanup() override;

  bool capture() const { return capture_; }

  // Under the port's lock, at dispatch level.
  void drainStream(int64_t now);
  void completeReads(Completions& completions);
  void processWrites(int64_t now, Completions& completions, int64_t* nextWake);

 private:
  NtStatus property(Irp* irp);
  NtStatus setState(KSSTATE target, Completions& completions);
  NtStatus read(Irp* irp);
  NtStatus write(Irp* irp);
  void cancelAll(Completions& completions);
  size_t fillRecords(uint8_t* out, size_t capacity);

  MidiPort* port_;
  FileObject* file_;
  uint32_t pinId_;
  bool capture_;
  IMiniportMidiStream* stream_;
  IServiceGroup* group_;
  std::unique_ptr<KsObject> filter_;
  KSSTATE state_ = KSSTATE_STOP;
  // Guarded by the port's lock:
  std::deque<CaptureRecord> records_;
  size_t queuedBytes_ = 0;
  uint32_t lostBytes_ = 0;
  std::deque<Irp*> reads_;
  std::deque<Irp*> writes_;
};

class MidiPort final : public IPortMidi, public IServiceSink, public PortBase {
 public:
  MidiPort() : PortBase(nullptr) { keInitializeSpinLock(&lock_); }
  ~MidiPort() override {
    ReleaseChildren();
    stopTimer();
  }

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override {
    if (object == nullptr) return STATUS_INVALID_PARAMETER;
    if (iid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(static_cast<IPortMidi*>(this));
    } else if (iid == IID_IPort || iid == IID_IPortMidi) {
      *object = static_cast<IPortMidi*>(this);
    } else if (iid == IID_IServiceSink) {
      *object = static_cast<IServiceSink*>(this);
    } else {
      return PortBase::NonDelegatingQueryInterface(iid, object);
    }
    AddRef();
    return STATUS_SUCCESS;
  }

  NtStatus Init(DeviceObject* device, Irp*, IUnknown* unknownMiniport, IUnknown* unknownAdapter,
                IResourceList* resourceList) override {
    if (device == nullptr || unknownMiniport == nullptr || miniport_ != nullptr) return STATUS_INVALID_PARAMETER;
    IMiniportMidi* miniport = nullptr;
    NtStatus status = unknownMiniport->QueryInterface(IID_IMiniportMidi, reinterpret_cast<void**>(&miniport));
    if (status != STATUS_SUCCESS) return status;
    IServiceGroup* group = nullptr;
    status = miniport->Init(unknownAdapter, resourceList, this, &group);
    if (status == STATUS_SUCCESS) status = initBase(device, miniport);
    if (status != STATUS_SUCCESS) {
      if (group != nullptr) group->Release();
      miniport->Release();
      return status;
    }
    miniport_ = miniport;
    if (group != nullptr) {
      joinGroup(group);
      group->Release();
    }
    return STATUS_SUCCESS;
  }

  NtStatus GetDeviceProperty(DeviceRegistryProperty property, uint32_t bufferLength, void* buffer,
                             uint32_t* resultLength) override {
    return ioGetDeviceProperty(device_, property, bufferLength, buffer, resultLength);
  }

  void Notify(IServiceGroup* group) override {
    if (group != nullptr) {
      group->RequestService();
    } else {
      RequestService();
    }
  }

  void RegisterServiceGroup(IServiceGroup* group) override { joinGroup(group); }

  // The service routine: reads every capture stream and completes the reads
  // waiting for data.
  void RequestService() override {
    const int64_t now = keQueryInterruptTime();
    Completions completions;
    Irql old;
    keAcquireSpinLock(&lock_, &old);
    for (MidiPin* pin : pins_) {
      if (!pin->capture()) continue;
      pin->drainStream(now);
      pin->completeReads(completions);
    }
    keReleaseSpinLock(&lock_, old);
    complete(completions);
  }

  void ReleaseChildren() override {
    std::vector<IServiceGroup*> groups;
    {
      std::lock_guard lock(groupsMutex_);
      groups.swap(groups_);
    }
    for (IServiceGroup* group : groups) {
      group->RemoveMember(static_cast<IServiceSink*>(this));
      group->Release();
    }
    if (miniport_ != nullptr) std::exchange(miniport_, nullptr)->Release();
  }
  IUnknown* miniportTarget() override { return miniport_; }

  NtStatus createPin(FileObject* file, uint32_t pinId, const KSDATAFORMAT* format, KsObject* filter,
                     KsObject** pin) override {
    if (miniport_ == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    const bool capture = descriptor_->pins[pinId].ksPinDescriptor.dataFlow == platform::KSPIN_DATAFLOW_OUT;
    IMiniportMidiStream* stream = nullptr;
    IServiceGroup* group = nullptr;
    const NtStatus status = miniport_->NewStream(&stream, nullptr, NonPagedPool, pinId, capture, format, &group);
    if (status != STATUS_SUCCESS) return status;
    if (stream == nullptr) {
      if (group != nullptr) group->Release();
      return STATUS_UNSUCCESSFUL;
    }
    if (group != nullptr) joinGroup(group);
    auto* created = new MidiPin(this, file, pinId, capture, stream, group, filter);
    Irql old;
    keAcquireSpinLock(&lock_, &old);
    pins_.push_back(created);
    keReleaseSpinLock(&lock_, old);
    *pin = created;
    return STATUS_SUCCESS;
  }

  void removePin(MidiPin* pin) {
    Irql old;
    keAcquireSpinLock(&lock_, &old);
    pins_.erase(std::remove(pins_.begin(), pins_.end(), pin), pins_.end());
    keReleaseSpinLock(&lock_, old);
  }

  SpinLock& lock() { return lock_; }

  static void complete(Completions& completions) {
    for (auto& [irp, status] : completions) completeIrp(irp, status, irp->ioStatus.information);
    completions.clear();
  }

  // Hands queued writes of every render pin to their streams; what is left
  // waits for the timer.
  void serviceRender() {
    const int64_t now = keQueryInterruptTime();
    int64_t nextWake = kNever;
    Completions completions;
    Irql old;
    keAcquireSpinLock(&lock_, &old);
    for (MidiPin* pin : pins_) {
      if (!pin->capture()) pin->processWrites(now, completions, &nextWake);
    }
    keReleaseSpinLock(&lock_, old);
    complete(completions);
    if (nextWake != kNever) scheduleRender(nextWake);
  }

  void scheduleRender(int64_t at) {
    std::lock_guard lock(timerMutex_);
    if (!timer_.joinable()) {
      try {
        timer_ = std::thread([this] { runTimer(); });
      } catch (const std::system_error&) {
        dbgPrint("MIDI port: no timer thread, queued writes wait for the next write\n");
        return;
      }
    }
    wakeAt_ = std::min(wakeAt_, at);
    timerChanged_.notify_one();
  }

 private:
  void joinGroup(IServiceGroup* group) {
    std::lock_guard lock(groupsMutex_);
    if (std::find(groups_.begin(), groups_.end(), group) != groups_.end()) return;
    if (group->AddMember(static_cast<IServiceSink*>(this)) != STATUS_SUCCESS) return;
    group->AddRef();
    groups_.push_back(group);
  }

  void runTimer() {
    std::unique_lock lock(timerMutex_);
    while (!stopping_) {
      if (wakeAt_ == kNever) {
        timerChanged_.wait(lock);
        continue;
      }
      const int64_t wait = wakeAt_ - keQueryInterruptTime();
      if (wait > 0) {
        timerChanged_.wait_for(lock, std::chrono::nanoseconds(wait * 100));
        continue;
      }
      wakeAt_ = kNever;
      lock.unlock();
      serviceRender();
      lock.lock();
    }
  }

  void stopTimer() {
    {
      std::lock_guard lock(timerMutex_);
      stopping_ = true;
      timerChanged_.notify_one();
    }
    if (!timer_.joinable()) return;
    if (timer_.get_id() == std::this_thread::get_id()) {
      timer_.detach();
    } else {
      timer_.join();
    }
  }

  IMiniportMidi* miniport_ = nullptr;
  std::mutex groupsMutex_;
  std::vector<IServiceGroup*> groups_;
  SpinLock lock_;  // the pins and their queues
  std::vector<MidiPin*> pins_;
  std::mutex timerMutex_;
  std::condition_variable timerChanged_;
  std::thread timer_;
  int64_t wakeAt_ = kNever;
  bool stopping_ = false;
};

// ================================================================ pins

MidiPin::MidiPin(MidiPort* port, FileObject* file, uint32_t pinId, bool capture, IMiniportMidiStream* stream,
                 IServiceGroup* group, KsObject* filter)
    : port_(port), file_(file), pinId_(pinId), capture_(capture), stream_(stream), group_(group), filter_(filter) {
  port_->NonDelegatingAddRef();
}

MidiPin::~MidiPin() {
  port_->removePin(this);
  Completions completions;
  cancelAll(completions);
  MidiPort::complete(completions);
  stream_->Release();
  if (group_ != nullptr) group_->Release();
  port_->returnPinInstance(pinId_);
  filter_.reset();
  port_->NonDelegatingRelease();
}

void MidiPin::cleanup() {
  Completions completions;
  Irql old;
  keAcquireSpinLock(&port_->lock(), &old);
  cancelAll(completions);
  keReleaseSpinLock(&port_->lock(), old);
  MidiPort::complete(completions);
}

void MidiPin::cancelAll(Completions& completions) {
  for (Irp* irp : reads_) completions.emplace_back(irp, STATUS_CANCELLED);
  for (Irp* irp : writes_) completions.emplace_back(irp, STATUS_CANCELLED);
  for (auto& [irp, status] : completions) irp->ioStatus.information = 0;
  reads_.clear();
  writes_.clear();
  records_.clear();
  queuedBytes_ = 0;
  lostBytes_ = 0;
}

NtStatus MidiPin::deviceControl(Irp* irp) {
  switch (ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl.ioControlCode) {
    case platform::IOCTL_KS_PROPERTY: return property(irp);
    case platform::IOCTL_KS_READ_STREAM: return read(irp);
    case platform::IOCTL_KS_WRITE_STREAM: return write(irp);
    case platform::IOCTL_KS_ENABLE_EVENT:
    case platform::IOCTL_KS_DISABLE_EVENT: return completeIrp(irp, STATUS_NOT_FOUND);
    default: return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NtStatus MidiPin::property(Irp* irp) {
  const auto& parameters = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl;
  if (parameters.type3InputBuffer == nullptr || parameters.inputBufferLength < sizeof(KSPROPERTY)) {
    return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
  }
  KSPROPERTY head;
  std::memcpy(&head, parameters.type3InputBuffer, sizeof head);
  if (head.set != platform::KSPROPSETID_Connection || head.id != platform::KSPROPERTY_CONNECTION_STATE) {
    return completeIrp(irp, STATUS_NOT_FOUND);
  }
  const uint32_t capacity = parameters.outputBufferLength;
  if (head.flags == KSPROPERTY_TYPE_GET) {
    if (capacity == 0) return completeIrp(irp, STATUS_BUFFER_OVERFLOW, sizeof(uint32_t));
    if (capacity < sizeof(uint32_t)) return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
    const uint32_t state = state_;
    std::memcpy(irp->userBuffer, &state, sizeof state);
    return completeIrp(irp, STATUS_SUCCESS, sizeof state);
  }
  if (head.flags != KSPROPERTY_TYPE_SET) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  if (capacity < sizeof(uint32_t)) return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
  takeSetValue(irp, static_cast<const uint8_t*>(parameters.type3InputBuffer), parameters.inputBufferLength,
               sizeof(KSPROPERTY), capacity);
  uint32_t target;
  std::memcpy(&target, irp->userBuffer, sizeof target);
  if (target > KSSTATE_RUN) return completeIrp(irp, STATUS_INVALID_PARAMETER);
  Completions completions;
  const NtStatus status = setState(static_cast<KSSTATE>(target), completions);
  MidiPort::complete(completions);
  return completeIrp(irp, status);
}

// Passes through every state between the current one and the target, as
// the stream expects.
NtStatus MidiPin::setState(KSSTATE target, Completions& completions) {
  while (state_ != target) {
    const auto next = static_cast<KSSTATE>(state_ < target ? state_ + 1 : state_ - 1);
    const NtStatus status = stream_->SetState(next);
    if (!ntSuccess(status)) return status;
    Irql old;
    keAcquireSpinLock(&port_->lock(), &old);
    state_ = next;
    if (next == KSSTATE_STOP) cancelAll(completions);
    keReleaseSpinLock(&port_->lock(), old);
  }
  return STATUS_SUCCESS;
}

void MidiPin::drainStream(int64_t now) {
  uint8_t buffer[kReadChunk];
  for (;;) {
    uint32_t count = 0;
    if (!ntSuccess(stream_->Read(buffer, sizeof buffer, &count)) || count == 0) return;
    if (state_ != KSSTATE_RUN) continue;
    if (queuedBytes_ + count > kMaxQueuedBytes) {
      lostBytes_ += count;
      continue;
    }
    CaptureRecord record;
    record.time = now;
    record.lostBytes = std::exchange(lostBytes_, 0);
    record.bytes.assign(buffer, buffer + count);
    queuedBytes_ += count;
    records_.push_back(std::move(record));
  }
}

size_t MidiPin::fillRecords(uint8_t* out, size_t capacity) {
  size_t used = 0;
  while (!records_.empty()) {
    CaptureRecord& record = records_.front();
    const size_t room = capacity - used;
    const size_t remaining = record.bytes.size() - record.offset;
    size_t take = midiRecordSize(static_cast<uint32_t>(remaining)) <= room
                      ? remaining
                      : (room >= sizeof(MidiStreamRecordHeader) ? (room - sizeof(MidiStreamRecordHeader)) / 8 * 8 : 0);
    take = std::min(take, remaining);
    if (take == 0) break;
    MidiStreamRecordHeader header{};
    header.time = record.time;
    header.byteCount = static_cast<uint32_t>(take);
    header.lostBytes = record.lostBytes;
    header.flags = record.lostBytes != 0 ? platform::MIDI_RECORD_DISCONTINUITY : 0;
    std::memcpy(out + used, &header, sizeof header);
    std::memcpy(out + used + sizeof header, record.bytes.data() + record.offset, take);
    const uint32_t size = midiRecordSize(static_cast<uint32_t>(take));
    std::memset(out + used + sizeof header + take, 0, size - sizeof header - take);
    used += size;
    record.offset += take;
    record.lostBytes = 0;
    queuedBytes_ -= take;
    if (record.offset < record.bytes.size()) break;
    records_.pop_front();
  }
  return used;
}

void MidiPin::completeReads(Completions& completions) {
  while (!reads_.empty() && !records_.empty()) {
    Irp* irp = reads_.front();
    reads_.pop_front();
    const uint32_t capacity = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl.outputBufferLength;
    irp->ioStatus.information = fillRecords(static_cast<uint8_t*>(irp->userBuffer), capacity);
    completions.emplace_back(irp, STATUS_SUCCESS);
  }
}

NtStatus MidiPin::read(Irp* irp) {
  if (!capture_) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  const uint32_t capacity = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl.outputBufferLength;
  if (capacity < midiRecordSize(1)) return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
  ioMarkIrpPending(irp);
  Completions completions;
  Irql old;
  keAcquireSpinLock(&port_->lock(), &old);
  reads_.push_back(irp);
  completeReads(completions);
  keReleaseSpinLock(&port_->lock(), old);
  MidiPort::complete(completions);
  return STATUS_PENDING;
}

// Checks that the input is a sequence of whole records.
bool validRecords(const uint8_t* input, uint32_t length) {
  if (input == nullptr || length == 0) return false;
  size_t offset = 0;
  while (offset < length) {
    MidiStreamRecordHeader header;
    if (length - offset < sizeof header) return false;
    std::memcpy(&header, input + offset, sizeof header);
    if (header.byteCount > length - offset - sizeof header) return false;
    offset += midiRecordSize(header.byteCount);
  }
  return true;
}

NtStatus MidiPin::write(Irp* irp) {
  if (capture_) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
  const auto& parameters = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl;
  if (!validRecords(static_cast<const uint8_t*>(parameters.type3InputBuffer), parameters.inputBufferLength)) {
    return completeIrp(irp, STATUS_INVALID_PARAMETER);
  }
  if (state_ != KSSTATE_RUN) return completeIrp(irp, STATUS_INVALID_DEVICE_STATE);
  irp->driverContext[1] = nullptr;  // offset of the current record
  irp->driverContext[2] = nullptr;  // bytes of it already taken
  ioMarkIrpPending(irp);
  int64_t nextWake = kNever;
  Completions completions;
  Irql old;
  keAcquireSpinLock(&port_->lock(), &old);
  writes_.push_back(irp);
  if (writes_.size() == 1) processWrites(keQueryInterruptTime(), completions, &nextWake);
  keReleaseSpinLock(&port_->lock(), old);
  MidiPort::complete(completions);
  if (nextWake != kNever) port_->scheduleRender(nextWake);
  return STATUS_PENDING;
}

void MidiPin::processWrites(int64_t now, Completions& completions, int64_t* nextWake) {
  while (!writes_.empty()) {
    Irp* irp = writes_.front();
    const auto& parameters = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl;
    const auto* input = static_cast<const uint8_t*>(parameters.type3InputBuffer);
    auto offset = reinterpret_cast<uintptr_t>(irp->driverContext[1]);
    auto done = reinterpret_cast<uintptr_t>(irp->driverContext[2]);
    NtStatus status = STATUS_SUCCESS;
    while (offset < parameters.inputBufferLength) {
      MidiStreamRecordHeader header;
      std::memcpy(&header, input + offset, sizeof header);
      if (done == 0 && header.time > now) {
        *nextWake = std::min(*nextWake, header.time);
        break;
      }
      const uint32_t remaining = header.byteCount - static_cast<uint32_t>(done);
      uint32_t written = 0;
      if (remaining > 0) {
        status = stream_->Write(input + offset + sizeof header + done, remaining, &written);
        if (!ntSuccess(status)) break;
        done += std::min(written, remaining);
        if (written < remaining) {
          *nextWake = std::min(*nextWake, now + kRetryInterval);
          break;
        }
      }
      offset += midiRecordSize(header.byteCount);
      done = 0;
    }
    irp->driverContext[1] = reinterpret_cast<void*>(offset);
    irp->driverContext[2] = reinterpret_cast<void*>(done);
    if (ntSuccess(status) && offset < parameters.inputBufferLength) return;  // waits for its time or for room
    writes_.pop_front();
    irp->ioStatus.information = 0;
    completions.emplace_back(irp, status);
  }
}

}  // namespace

IPort* newMidiPort() {
  auto* port = new (NonPagedPool, poolTag("PcPt")) MidiPort();
  if (port == nullptr) return nullptr;
  port->AddRef();
  return port;
}

}  // namespace platform::wdm

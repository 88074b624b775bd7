// The filter every port-class subdevice offers: property requests on the
// filter and its nodes (through the miniport's automation tables, and the pin
// factory set answered by the port), event enabling and disabling, and pin
// creation.

#include <cstring>

#include "platform/kernel/wdm/port_internal.h"

namespace platform::wdm {

using platform::KSE_NODE;
using platform::KSEVENTDATA;
using platform::KSNODEPROPERTY;
using platform::KSP_PIN;
using platform::KSPIN_CINSTANCES;
using platform::KSPIN_CONNECT;

inline constexpr NtStatus STATUS_NO_MATCH = 0xC0000272;

// ================================================================ PortBase

PortBase::PortBase(IUnknown* outer) : CUnknown(outer) {
  keInitializeSpinLock(&eventLock_);
  countPortClassObject(1);
}

PortBase::~PortBase() {
  releaseEventEntries();
  if (device_ != nullptr) obDereferenceObject(device_);
  countPortClassObject(-1);
}

NtStatus PortBase::NonDelegatingQueryInterface(const Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IPortEvents) {
    *object = static_cast<IPortEvents*>(this);
  } else if (iid == IID_ISubdevice) {
    *object = static_cast<ISubdevice*>(this);
  } else {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  NonDelegatingAddRef();
  return STATUS_SUCCESS;
}

NtStatus PortBase::initBase(DeviceObject* device, IMiniport* miniport) {
  const PCFILTER_DESCRIPTOR* description = nullptr;
  const NtStatus status = miniport->GetDescription(&description);
  if (status != STATUS_SUCCESS) return status;
  if (description == nullptr) return STATUS_INVALID_PARAMETER;
  descriptor_ = description;
  instances_.assign(description->pinCount, 0);
  obReferenceObject(device);
  device_ = device;
  return STATUS_SUCCESS;
}

NtStatus PortBase::createPin(FileObject*, uint32_t, const KSDATAFORMAT*, KsObject*, KsObject**) {
  return STATUS_INVALID_DEVICE_REQUEST;
}

bool PortBase::takePinInstance(uint32_t pinId) {
  std::lock_guard lock(instancesMutex_);
  if (pinId >= instances_.size()) return false;
  if (instances_[pinId] >= descriptor_->pins[pinId].maxGlobalInstanceCount) return false;
  ++instances_[pinId];
  return true;
}

void PortBase::returnPinInstance(uint32_t pinId) {
  std::lock_guard lock(instancesMutex_);
  if (pinId < instances_.size() && instances_[pinId] > 0) --instances_[pinId];
}

uint32_t PortBase::pinInstances(uint32_t pinId) {
  std::lock_guard lock(instancesMutex_);
  return pinId < instances_.size() ? instances_[pinId] : 0;
}

void PortBase::addEventEntry(KSEVENT_ENTRY* entry) {
  if (entry == nullptr) return;
  Irql old;
  keAcquireSpinLock(&eventLock_, &old);
  if (!entry->listed) {
    entry->listed = true;
    events_.push_back(entry);
  }
  keReleaseSpinLock(&eventLock_, old);
}

void PortBase::generateEvents(const Guid* set, uint32_t eventId, bool pinEvent, uint32_t pinId, bool nodeEvent,
                              uint32_t nodeId) {
  Irql old;
  keAcquireSpinLock(&eventLock_, &old);
  for (KSEVENT_ENTRY* entry : events_) {
    if (set != nullptr && entry->set != *set) continue;
    if (entry->eventId != eventId) continue;
    if (pinEvent && (!entry->pinEvent || entry->pinId != pinId)) continue;
    if (nodeEvent && (!entry->nodeEvent || entry->nodeId != nodeId)) continue;
    ksGenerateEvent(entry);
  }
  keReleaseSpinLock(&eventLock_, old);
}

void PortBase::removeEventEntry(KSEVENT_ENTRY* entry) {
  Irql old;
  keAcquireSpinLock(&eventLock_, &old);
  if (entry->listed) {
    events_.remove(entry);
    entry->listed = false;
  }
  keReleaseSpinLock(&eventLock_, old);
}

std::vector<KSEVENT_ENTRY*> PortBase::takeEventEntries(FileObject* file, const uint32_t* eventHandle) {
  std::vector<KSEVENT_ENTRY*> taken;
  Irql old;
  keAcquireSpinLock(&eventLock_, &old);
  for (auto it = events_.begin(); it != events_.end();) {
    if ((*it)->fileObject == file && (eventHandle == nullptr || (*it)->data.eventHandle == *eventHandle)) {
      (*it)->listed = false;
      taken.push_back(*it);
      it = events_.erase(it);
    } else {
      ++it;
    }
  }
  keReleaseSpinLock(&eventLock_, old);
  return taken;
}

void PortBase::releaseEventEntries() {
  Irql old;
  keAcquireSpinLock(&eventLock_, &old);
  std::list<KSEVENT_ENTRY*> entries;
  entries.swap(events_);
  keReleaseSpinLock(&eventLock_, old);
  for (KSEVENT_ENTRY* entry : entries) delete entry;
}

// ================================================================ the filter

namespace {

const PCPROPERTY_ITEM* findProperty(const PCAUTOMATION_TABLE* table, const Guid& set, uint32_t id) {
  if (table == nullptr) return nullptr;
  for (uint32_t i = 0; i < table->propertyCount; ++i) {
    const PCPROPERTY_ITEM& item = table->properties[i];
    if (item.set != nullptr && *item.set == set && item.id == id) return &item;
  }
  return nullptr;
}

const PCEVENT_ITEM* findEvent(const PCAUTOMATION_TABLE* table, const Guid& set, uint32_t id) {
  if (table == nullptr) return nullptr;
  for (uint32_t i = 0; i < table->eventCount; ++i) {
    const PCEVENT_ITEM& item = table->events[i];
    if (item.set != nullptr && *item.set == set && item.id == id) return &item;
  }
  return nullptr;
}

bool formatMatches(const KSDATAFORMAT& format, const KSDATARANGE& range) {
  return format.formatSize >= sizeof(KSDATAFORMAT) && format.majorFormat == range.majorFormat &&
         format.subFormat == range.subFormat && format.specifier == range.specifier;
}

}  // namespace

uint32_t takeSetValue(Irp* irp, const uint8_t* input, uint32_t inputLength, uint32_t headSize, uint32_t valueSize) {
  if (valueSize == 0 || irp->userBuffer == nullptr || inputLength < headSize + valueSize) return 0;
  std::memcpy(irp->userBuffer, input + inputLength - valueSize, valueSize);
  return valueSize;
}

namespace {

template <typename Value>
NtStatus returnValue(Irp* irp, uint32_t capacity, const Value& value) {
  if (capacity == 0) return completeIrp(irp, STATUS_BUFFER_OVERFLOW, sizeof(Value));
  if (capacity < sizeof(Value)) return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
  std::memcpy(irp->userBuffer, &value, sizeof(Value));
  return completeIrp(irp, STATUS_SUCCESS, sizeof(Value));
}

// The head of a property or event request and what it addresses: the
// filter, or with the topology flag (the same bit for both) the node that
// follows the identifier (KSNODEPROPERTY and KSE_NODE have one layout).
struct RequestTarget {
  KSIDENTIFIER head{};
  uint32_t node = PCFILTER_NODE;
  uint32_t headSize = sizeof(KSIDENTIFIER);
  const PCAUTOMATION_TABLE* table = nullptr;
};
static_assert(KSPROPERTY_TYPE_TOPOLOGY == KSEVENT_TYPE_TOPOLOGY && sizeof(KSNODEPROPERTY) == sizeof(KSE_NODE));

class Filter final : public KsObject {
 public:
  Filter(PortBase* port, FileObject* file) : port_(port), file_(file) { port_->NonDelegatingAddRef(); }
  ~Filter() override {
    for (KSEVENT_ENTRY* entry : port_->takeEventEntries(file_, nullptr)) delete entry;
    port_->NonDelegatingRelease();
  }

  NtStatus deviceControl(Irp* irp) override {
    IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
    const auto& parameters = stack->parameters.deviceIoControl;
    const auto* input = static_cast<const uint8_t*>(parameters.type3InputBuffer);
    switch (parameters.ioControlCode) {
      case platform::IOCTL_KS_PROPERTY:
        return property(irp, input, parameters.inputBufferLength, parameters.outputBufferLength);
      case platform::IOCTL_KS_ENABLE_EVENT:
        return enableEvent(irp, input, parameters.inputBufferLength, parameters.outputBufferLength);
      case platform::IOCTL_KS_DISABLE_EVENT:
        return disableEvent(irp, input, parameters.inputBufferLength);
      case platform::IOCTL_KS_CREATE_PIN:
        return createPin(irp, input, parameters.inputBufferLength);
      default:
        return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
  }

  void cleanup() override {
    for (KSEVENT_ENTRY* entry : port_->takeEventEntries(file_, nullptr)) delete entry;
  }

 private:
  NtStatus property(Irp* irp, const uint8_t* input, uint32_t inputLength, uint32_t capacity) {
    RequestTarget target;
    const NtStatus parsed = parseTarget(input, inputLength, &target);
    if (parsed != STATUS_SUCCESS) return completeIrp(irp, parsed);
    const KSPROPERTY& head = target.head;
    const uint32_t node = target.node;
    const uint32_t headSize = target.headSize;
    const PCAUTOMATION_TABLE* table = target.table;
    if (node == PCFILTER_NODE && head.set == platform::KSPROPSETID_Pin) {
      return pinProperty(irp, head, input, inputLength, capacity);
    }
    const PCPROPERTY_ITEM* item = findProperty(table, head.set, head.id);
    if (item == nullptr || item->handler == nullptr) return completeIrp(irp, STATUS_NOT_FOUND);
    const uint32_t verb = head.flags & ~KSPROPERTY_TYPE_TOPOLOGY;
    const uint32_t wanted = verb & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT);
    if ((wanted & ~item->flags) != 0) return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);

    uint32_t instanceSize = inputLength - headSize;
    if ((verb & KSPROPERTY_TYPE_SET) != 0) instanceSize -= takeSetValue(irp, input, inputLength, headSize, capacity);

    PCPROPERTY_REQUEST request{};
    request.majorTarget = port_->miniportTarget();
    request.minorTarget = nullptr;
    request.node = node;
    request.propertyItem = item;
    request.verb = verb;
    request.instanceSize = instanceSize;
    request.instance = request.instanceSize > 0 ? const_cast<uint8_t*>(input + headSize) : nullptr;
    request.valueSize = capacity;
    request.value = capacity > 0 ? irp->userBuffer : nullptr;
    request.irp = irp;
    const NtStatus status = item->handler(&request);
    if (status == STATUS_PENDING) return status;  // the handler completes it
    return completeIrp(irp, status, ntSuccess(status) || status == STATUS_BUFFER_OVERFLOW ? request.valueSize : 0);
  }

  // The pin factory set: answered by the port from the filter descriptor.
  NtStatus pinProperty(Irp* irp, const KSPROPERTY& head, const uint8_t* input, uint32_t inputLength,
                       uint32_t capacity) {
    if ((head.flags & ~KSPROPERTY_TYPE_TOPOLOGY) != KSPROPERTY_TYPE_GET) {
      return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    const PCFILTER_DESCRIPTOR* descriptor = port_->descriptor();
    if (head.id == platform::KSPROPERTY_PIN_CTYPES) return returnValue(irp, capacity, descriptor->pinCount);
    if (inputLength < sizeof(KSP_PIN)) return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
    KSP_PIN pin;
    std::memcpy(&pin, input, sizeof pin);
    if (pin.pinId >= descriptor->pinCount) return completeIrp(irp, STATUS_INVALID_PARAMETER);
    const PCPIN_DESCRIPTOR& factory = descriptor->pins[pin.pinId];
    switch (head.id) {
      case platform::KSPROPERTY_PIN_CINSTANCES:
        return returnValue(irp, capacity,
                           KSPIN_CINSTANCES{factory.maxGlobalInstanceCount, port_->pinInstances(pin.pinId)});
      case platform::KSPROPERTY_PIN_DATAFLOW:
        return returnValue(irp, capacity, static_cast<uint32_t>(factory.ksPinDescriptor.dataFlow));
      case platform::KSPROPERTY_PIN_COMMUNICATION:
        return returnValue(irp, capacity, static_cast<uint32_t>(factory.ksPinDescriptor.communication));
      case platform::KSPROPERTY_PIN_CATEGORY:
        if (factory.ksPinDescriptor.category == nullptr) return completeIrp(irp, STATUS_NOT_FOUND);
        return returnValue(irp, capacity, *factory.ksPinDescriptor.category);
      default:
        return completeIrp(irp, STATUS_NOT_FOUND);
    }
  }

  // Input: a KSEVENT (KSE_NODE with the topology flag). The KSEVENTDATA that
  // says how to signal the event is the output buffer; as the device host
  // carries only input bytes to the driver, a caller appends it to the input.
  NtStatus enableEvent(Irp* irp, const uint8_t* input, uint32_t inputLength, uint32_t capacity) {
    RequestTarget target;
    const NtStatus parsed = parseTarget(input, inputLength, &target);
    if (parsed != STATUS_SUCCESS) return completeIrp(irp, parsed);
    const KSEVENT& head = target.head;
    const uint32_t node = target.node;
    const uint32_t headSize = target.headSize;
    const PCAUTOMATION_TABLE* table = target.table;
    const PCEVENT_ITEM* item = findEvent(table, head.set, head.id);
    if (item == nullptr || item->handler == nullptr) return completeIrp(irp, STATUS_NOT_FOUND);

    PCEVENT_REQUEST request{};
    request.majorTarget = port_->miniportTarget();
    request.node = node;
    request.eventItem = item;
    request.irp = irp;
    const uint32_t verb = head.flags & ~KSEVENT_TYPE_TOPOLOGY;
    if (verb == KSEVENT_TYPE_BASICSUPPORT) {
      if ((item->flags & PCEVENT_ITEM_FLAG_BASICSUPPORT) == 0) return completeIrp(irp, STATUS_NOT_FOUND);
      request.verb = PCEVENT_VERB_SUPPORT;
      return completeIrp(irp, item->handler(&request));
    }
    if (verb != KSEVENT_TYPE_ENABLE || (item->flags & PCEVENT_ITEM_FLAG_ENABLE) == 0) {
      return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    KSEVENTDATA data;
    if (inputLength >= headSize + sizeof data) {
      std::memcpy(&data, input + headSize, sizeof data);
    } else if (capacity >= sizeof data && irp->userBuffer != nullptr) {
      std::memcpy(&data, irp->userBuffer, sizeof data);
    } else {
      return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
    }
    if (data.notificationType != platform::KSEVENTF_EVENT_HANDLE) return completeIrp(irp, STATUS_INVALID_PARAMETER);
    if (irp->hostRequest == nullptr) return completeIrp(irp, STATUS_INVALID_HANDLE);

    auto* entry = new KSEVENT_ENTRY();
    const NtStatus resolved = irp->hostRequest->referenceEvent(data.eventHandle, &entry->event);
    if (resolved != STATUS_SUCCESS) {
      delete entry;
      return completeIrp(irp, resolved);
    }
    entry->fileObject = file_;
    entry->set = head.set;
    entry->eventId = head.id;
    entry->nodeEvent = node != PCFILTER_NODE;
    entry->nodeId = node;
    entry->data = data;
    entry->eventItem = item;
    request.eventEntry = entry;
    request.verb = PCEVENT_VERB_ADD;
    const NtStatus status = item->handler(&request);
    // An entry the handler did not list is not kept (it would never be signalled).
    if (status != STATUS_SUCCESS || !entry->listed) {
      port_->removeEventEntry(entry);
      delete entry;
    }
    return completeIrp(irp, status);
  }

  // Input: the KSEVENTDATA of an enabled event, or nothing for all of them.
  NtStatus disableEvent(Irp* irp, const uint8_t* input, uint32_t inputLength) {
    std::vector<KSEVENT_ENTRY*> entries;
    if (inputLength == 0) {
      entries = port_->takeEventEntries(file_, nullptr);
    } else {
      if (input == nullptr || inputLength != sizeof(KSEVENTDATA)) return completeIrp(irp, STATUS_INVALID_PARAMETER);
      KSEVENTDATA data;
      std::memcpy(&data, input, sizeof data);
      entries = port_->takeEventEntries(file_, &data.eventHandle);
      if (entries.empty()) return completeIrp(irp, STATUS_UNSUCCESSFUL);
    }
    for (KSEVENT_ENTRY* entry : entries) {
      PCEVENT_REQUEST request{};
      request.majorTarget = port_->miniportTarget();
      request.node = entry->nodeId;
      request.eventItem = entry->eventItem;
      request.eventEntry = entry;
      request.verb = PCEVENT_VERB_REMOVE;
      request.irp = irp;
      entry->eventItem->handler(&request);
      delete entry;
    }
    return completeIrp(irp, STATUS_SUCCESS);
  }

  NtStatus createPin(Irp* irp, const uint8_t* input, uint32_t inputLength) {
    if (input == nullptr || inputLength < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT)) {
      return completeIrp(irp, STATUS_BUFFER_TOO_SMALL);
    }
    KSPIN_CONNECT connect;
    std::memcpy(&connect, input, sizeof connect);
    KSDATAFORMAT format;
    std::memcpy(&format, input + sizeof connect, sizeof format);
    const PCFILTER_DESCRIPTOR* descriptor = port_->descriptor();
    if (connect.pinId >= descriptor->pinCount) return completeIrp(irp, STATUS_INVALID_PARAMETER);
    if (connect.pinToHandle != 0) return completeIrp(irp, STATUS_INVALID_PARAMETER);  // only application pins
    if (format.formatSize < sizeof(KSDATAFORMAT) || format.formatSize > inputLength - sizeof connect) {
      return completeIrp(irp, STATUS_INVALID_PARAMETER);
    }
    const KSPIN_DESCRIPTOR& factory = descriptor->pins[connect.pinId].ksPinDescriptor;
    if (factory.communication != platform::KSPIN_COMMUNICATION_SINK &&
        factory.communication != platform::KSPIN_COMMUNICATION_BOTH) {
      return completeIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
    bool matches = false;
    for (uint32_t i = 0; i < factory.dataRangesCount && !matches; ++i) {
      matches = formatMatches(format, *factory.dataRanges[i]);
    }
    if (!matches) return completeIrp(irp, STATUS_NO_MATCH);
    if (!port_->takePinInstance(connect.pinId)) return completeIrp(irp, STATUS_INSUFFICIENT_RESOURCES);

    // From here on the file stands for the pin, which keeps this filter.
    KsObject* pin = nullptr;
    const NtStatus status = port_->createPin(file_, connect.pinId, &format, this, &pin);
    if (status != STATUS_SUCCESS) {
      port_->returnPinInstance(connect.pinId);
      return completeIrp(irp, status);
    }
    file_->fsContext = pin;
    return completeIrp(irp, STATUS_SUCCESS);
  }

  NtStatus parseTarget(const uint8_t* input, uint32_t inputLength, RequestTarget* target) {
    if (input == nullptr || inputLength < sizeof(KSIDENTIFIER)) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(&target->head, input, sizeof target->head);
    const PCFILTER_DESCRIPTOR* descriptor = port_->descriptor();
    target->table = descriptor->automationTable;
    if ((target->head.flags & KSPROPERTY_TYPE_TOPOLOGY) == 0) return STATUS_SUCCESS;
    if (inputLength < sizeof(KSNODEPROPERTY)) return STATUS_BUFFER_TOO_SMALL;
    KSNODEPROPERTY nodeHead;
    std::memcpy(&nodeHead, input, sizeof nodeHead);
    if (nodeHead.nodeId >= descriptor->nodeCount) return STATUS_INVALID_PARAMETER;
    target->node = nodeHead.nodeId;
    target->table = descriptor->nodes[target->node].automationTable;
    target->headSize = sizeof(KSNODEPROPERTY);
    return STATUS_SUCCESS;
  }

  PortBase* port_;
  FileObject* file_;
};

}  // namespace

KsObject* PortBase::newFilter(FileObject* file) { return new Filter(this, file); }

}  // namespace platform::wdm

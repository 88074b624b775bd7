#include "ethernet-midi-driver/topology_miniport.h"

#include <cstring>
#include <utility>

namespace mirelo {

using platform::KSPROPERTY_DESCRIPTION;
using platform::KSPROPERTY_TYPE_BASICSUPPORT;
using platform::KSPROPERTY_TYPE_GET;
using platform::KSPROPERTY_TYPE_SET;

namespace {

constexpr uint32_t kGetSetSupport =
    PCPROPERTY_ITEM_FLAG_GET | PCPROPERTY_ITEM_FLAG_SET | PCPROPERTY_ITEM_FLAG_BASICSUPPORT;  // 0x203
constexpr uint32_t kGetSupport = PCPROPERTY_ITEM_FLAG_GET | PCPROPERTY_ITEM_FLAG_BASICSUPPORT;  // 0x201
constexpr uint32_t kAccessFlagsOnly = 0xFFFF;
constexpr uint32_t kHostProcessor = 0x7FFFFFFF;

const PCPROPERTY_ITEM kMuteNodeProperties[] = {
    {&platform::KSPROPSETID_Audio, platform::KSPROPERTY_AUDIO_MUTE, kGetSetSupport, TopologyMiniport::PropertyHandler},
    {&platform::KSPROPSETID_Audio, platform::KSPROPERTY_AUDIO_DEV_SPECIFIC, kGetSetSupport,
     TopologyMiniport::PropertyHandler},
    {&platform::KSPROPSETID_Audio, platform::KSPROPERTY_AUDIO_CPU_RESOURCES, kGetSupport,
     TopologyMiniport::PropertyHandler},
};

const PCEVENT_ITEM kMuteNodeEvents[] = {
    {&platform::KSEVENTSETID_AudioControlChange, platform::KSEVENT_CONTROL_CHANGE,
     PCEVENT_ITEM_FLAG_ENABLE | PCEVENT_ITEM_FLAG_BASICSUPPORT, TopologyMiniport::EventHandler},
};

const PCAUTOMATION_TABLE kMuteNodeAutomation = {
    sizeof(PCPROPERTY_ITEM), 3, kMuteNodeProperties, 0, 0, nullptr, sizeof(PCEVENT_ITEM), 1, kMuteNodeEvents, 0};

// The bridge pins carry the MIDI bus range, as the ports' bridge pins do.
const KSDATARANGE kBusRange = {sizeof(KSDATARANGE),
                                      0,
                                      0,
                                      0,
                                      platform::KSDATAFORMAT_TYPE_MUSIC,
                                      platform::KSDATAFORMAT_SUBTYPE_MIDI_BUS,
                                      platform::KSDATAFORMAT_SPECIFIER_NONE};
const KSDATARANGE* const kTopologyRanges[] = {&kBusRange};

const PCPIN_DESCRIPTOR kTopologyPins[] = {
    {0, 0, 0, nullptr,
     KSPIN_DESCRIPTOR{0, nullptr, 0, nullptr, 1, kTopologyRanges, platform::KSPIN_DATAFLOW_IN,
                      platform::KSPIN_COMMUNICATION_NONE, &platform::KSNODETYPE_SYNTHESIZER,
                      &platform::KSAUDFNAME_MIDI}},
    {0, 0, 0, nullptr,
     KSPIN_DESCRIPTOR{0, nullptr, 0, nullptr, 1, kTopologyRanges, platform::KSPIN_DATAFLOW_OUT,
                      platform::KSPIN_COMMUNICATION_NONE, &platform::KSNODETYPE_SYNTHESIZER,
                      &platform::KSAUDFNAME_MIDI}},
};

const PCNODE_DESCRIPTOR kTopologyNodes[] = {
    {0, &kMuteNodeAutomation, &platform::KSNODETYPE_MUTE, &platform::KSAUDFNAME_MIDI_MUTE},
};

const PCCONNECTION_DESCRIPTOR kTopologyConnections[] = {
    {PCFILTER_NODE, 0, 0, 1},
    {0, 0, PCFILTER_NODE, 1},
};

}  // namespace

const PCFILTER_DESCRIPTOR kTopologyFilterDescriptor = {
    0, nullptr, sizeof(PCPIN_DESCRIPTOR), 2, kTopologyPins, sizeof(PCNODE_DESCRIPTOR), 1, kTopologyNodes, 2,
    kTopologyConnections, 0, nullptr};

// ================================================================ the miniport

TopologyMiniport::~TopologyMiniport() {
  if (adapter_ != nullptr) std::exchange(adapter_, nullptr)->Release();
  if (portEvents_ != nullptr) std::exchange(portEvents_, nullptr)->Release();
}

NtStatus TopologyMiniport::NonDelegatingQueryInterface(const platform::Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(static_cast<IMiniportTopology*>(this));
  } else if (iid == IID_IMiniport || iid == IID_IMiniportTopology) {
    *object = static_cast<IMiniportTopology*>(this);
  } else {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  AddRef();
  return STATUS_SUCCESS;
}

NtStatus TopologyMiniport::GetDescription(const PCFILTER_DESCRIPTOR** description) {
  if (description == nullptr) return STATUS_INVALID_PARAMETER;
  *description = descriptor_;
  return STATUS_SUCCESS;
}

NtStatus TopologyMiniport::DataRangeIntersection(uint32_t, const KSDATARANGE*, const KSDATARANGE*, uint32_t, void*,
                                                 uint32_t*) {
  return STATUS_NOT_IMPLEMENTED;
}

NtStatus TopologyMiniport::Init(IUnknown* unknownAdapter, IResourceList*, IPortTopology* port) {
  NtStatus status = STATUS_INVALID_PARAMETER;
  if (port != nullptr && unknownAdapter != nullptr) {
    status = port->QueryInterface(IID_IPortEvents, reinterpret_cast<void**>(&portEvents_));
    if (status == STATUS_SUCCESS) {
      descriptor_ = &kTopologyFilterDescriptor;
      status = unknownAdapter->QueryInterface(IID_IEthernetMidiAdapter, reinterpret_cast<void**>(&adapter_));
    }
    if (status == STATUS_SUCCESS) adapter_->SetPortEvents(portEvents_);
  }
  if (status != STATUS_SUCCESS) {
    if (adapter_ != nullptr) std::exchange(adapter_, nullptr)->Release();
    if (portEvents_ != nullptr) std::exchange(portEvents_, nullptr)->Release();
  }
  return status;
}

// ================================================================ property requests

NtStatus ValidatePropertyRequest(PCPROPERTY_REQUEST* request, uint32_t valueSize, uint32_t instanceSize) {
  if (request == nullptr) return STATUS_UNSUCCESSFUL;
  if (valueSize == 0) {
    request->valueSize = 0;
    return STATUS_UNSUCCESSFUL;
  }
  if (request->valueSize == 0) {
    request->valueSize = valueSize;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (request->valueSize < valueSize || request->instanceSize < instanceSize) {
    request->valueSize = 0;
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (request->valueSize != valueSize || request->value == nullptr) {
    request->valueSize = 0;
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NtStatus BasicSupport(PCPROPERTY_REQUEST* request, uint32_t accessFlags, uint32_t valueType) {
  if (request->valueSize >= sizeof(KSPROPERTY_DESCRIPTION) && valueType != kAccessFlagsOnly &&
      request->value != nullptr) {
    KSPROPERTY_DESCRIPTION description{};
    description.accessFlags = accessFlags;
    description.descriptionSize = sizeof(KSPROPERTY_DESCRIPTION);
    description.propTypeSet.set = platform::KSPROPTYPESETID_General;
    description.propTypeSet.id = valueType;
    description.propTypeSet.flags = 0;
    description.membersListCount = 0;
    description.reserved = 0;
    std::memcpy(request->value, &description, sizeof description);
    request->valueSize = sizeof(KSPROPERTY_DESCRIPTION);
    return STATUS_SUCCESS;
  }
  if (request->valueSize >= sizeof(uint32_t) && request->value != nullptr) {
    std::memcpy(request->value, &accessFlags, sizeof accessFlags);
    request->valueSize = sizeof(uint32_t);
    return STATUS_SUCCESS;
  }
  if (request->valueSize == 0) {
    request->valueSize = sizeof(KSPROPERTY_DESCRIPTION);
    return STATUS_BUFFER_OVERFLOW;
  }
  request->valueSize = 0;
  return STATUS_BUFFER_TOO_SMALL;
}

namespace {

TopologyMiniport* miniportOf(PCPROPERTY_REQUEST* request) {
  return static_cast<TopologyMiniport*>(static_cast<IMiniportTopology*>(request->majorTarget));
}

// The mute mask (KSPROPERTY_AUDIO_MUTE) and the status word / loop-back
// switch (KSPROPERTY_AUDIO_DEV_SPECIFIC) have the same shape.
NtStatus maskProperty(PCPROPERTY_REQUEST* request, uint32_t (IEthernetMidiAdapter::*get)(),
                      void (IEthernetMidiAdapter::*set)(uint32_t)) {
  if ((request->verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0) return BasicSupport(request, kGetSetSupport, platform::VT_UINT);
  const NtStatus status = ValidatePropertyRequest(request, sizeof(uint32_t), sizeof(uint32_t));
  if (status != STATUS_SUCCESS) return status;
  IEthernetMidiAdapter* adapter = miniportOf(request)->Adapter();
  if ((request->verb & KSPROPERTY_TYPE_GET) != 0) {
    const uint32_t value = (adapter->*get)();
    std::memcpy(request->value, &value, sizeof value);
    request->valueSize = sizeof value;
    return STATUS_SUCCESS;
  }
  if ((request->verb & KSPROPERTY_TYPE_SET) != 0) {
    uint32_t value;
    std::memcpy(&value, request->value, sizeof value);
    (adapter->*set)(value);
  }
  return STATUS_SUCCESS;
}

NtStatus processorResources(PCPROPERTY_REQUEST* request) {
  if ((request->verb & KSPROPERTY_TYPE_GET) != 0) {
    const NtStatus status = ValidatePropertyRequest(request, sizeof(uint32_t), 0);
    if (status == STATUS_SUCCESS) {
      std::memcpy(request->value, &kHostProcessor, sizeof kHostProcessor);
      request->valueSize = sizeof(uint32_t);
    }
    return status;
  }
  if ((request->verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0) return BasicSupport(request, kGetSupport, kAccessFlagsOnly);
  return STATUS_INVALID_DEVICE_REQUEST;
}

}  // namespace

NtStatus TopologyMiniport::PropertyHandler(PCPROPERTY_REQUEST* request) {
  if (request == nullptr || request->propertyItem == nullptr) return STATUS_UNSUCCESSFUL;
  switch (request->propertyItem->id) {
    case platform::KSPROPERTY_AUDIO_MUTE:
      return maskProperty(request, &IEthernetMidiAdapter::GetMuteMask, &IEthernetMidiAdapter::SetMuteMask);
    case platform::KSPROPERTY_AUDIO_DEV_SPECIFIC:
      return maskProperty(request, &IEthernetMidiAdapter::GetStatusWord, &IEthernetMidiAdapter::SetLoopback);
    case platform::KSPROPERTY_AUDIO_CPU_RESOURCES:
      return processorResources(request);
    default:
      return STATUS_INVALID_DEVICE_REQUEST;
  }
}

NtStatus TopologyMiniport::EventHandler(PCEVENT_REQUEST* request) {
  if (request == nullptr) return STATUS_UNSUCCESSFUL;
  if (request->node != 0) return STATUS_INVALID_PARAMETER;
  switch (request->verb) {
    case PCEVENT_VERB_ADD: {
      if (request->eventEntry == nullptr) return STATUS_UNSUCCESSFUL;
      auto* miniport = static_cast<TopologyMiniport*>(static_cast<IMiniportTopology*>(request->majorTarget));
      if (miniport->portEvents_ != nullptr) miniport->portEvents_->AddEventToEventList(request->eventEntry);
      return STATUS_SUCCESS;
    }
    case PCEVENT_VERB_REMOVE:
    case PCEVENT_VERB_SUPPORT:
      return STATUS_SUCCESS;
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

}  // namespace mirelo

#pragma once
// The control filter: a topology filter with one mute node, through whose
// properties and control-change event a user program reads and sets the mute
// mask, reads the ports' network problems and sets the loop-back switch.

#include "ethernet-midi-driver/ethernet_midi_adapter.h"

namespace mirelo {

extern const PCFILTER_DESCRIPTOR kTopologyFilterDescriptor;

class TopologyMiniport final : public IMiniportTopology, public CUnknown {
 public:
  explicit TopologyMiniport(IUnknown* outer) : CUnknown(outer) {}
  ~TopologyMiniport() override;

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const platform::Guid& iid, void** object) override;

  NtStatus GetDescription(const PCFILTER_DESCRIPTOR** description) override;
  NtStatus DataRangeIntersection(uint32_t pinId, const KSDATARANGE* dataRange, const KSDATARANGE* matchingDataRange,
                                 uint32_t outputBufferLength, void* resultantFormat,
                                 uint32_t* resultantFormatLength) override;
  NtStatus Init(IUnknown* unknownAdapter, IResourceList* resourceList, IPortTopology* port) override;

  // The handlers of node 0's automation table.
  static NtStatus PropertyHandler(PCPROPERTY_REQUEST* request);
  static NtStatus EventHandler(PCEVENT_REQUEST* request);

  IEthernetMidiAdapter* Adapter() { return adapter_; }

 private:
  IEthernetMidiAdapter* adapter_ = nullptr;
  const PCFILTER_DESCRIPTOR* descriptor_ = nullptr;
  IPortEvents* portEvents_ = nullptr;
};

// The validation and basic-support answers every handler of the filter
// shares (exposed for their tests).
NtStatus ValidatePropertyRequest(PCPROPERTY_REQUEST* request, uint32_t valueSize, uint32_t instanceSize);
NtStatus BasicSupport(PCPROPERTY_REQUEST* request, uint32_t accessFlags, uint32_t valueType);

}  // namespace mirelo

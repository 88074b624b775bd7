// The topology port: a filter of nodes and bridge pins whose properties and
// events the topology miniport answers; no streams.

#include <utility>

#include "platform/kernel/wdm/port_internal.h"

namespace platform::wdm {

namespace {

class TopologyPort final : public IPortTopology, public PortBase {
 public:
  TopologyPort() : PortBase(nullptr) {}
  ~TopologyPort() override { ReleaseChildren(); }

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const Guid& iid, void** object) override {
    if (object == nullptr) return STATUS_INVALID_PARAMETER;
    if (iid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(static_cast<IPortTopology*>(this));
    } else if (iid == IID_IPort || iid == IID_IPortTopology) {
      *object = static_cast<IPortTopology*>(this);
    } else {
      return PortBase::NonDelegatingQueryInterface(iid, object);
    }
    AddRef();
    return STATUS_SUCCESS;
  }

  NtStatus Init(DeviceObject* device, Irp*, IUnknown* unknownMiniport, IUnknown* unknownAdapter,
                IResourceList* resourceList) override {
    if (device == nullptr || unknownMiniport == nullptr || miniport_ != nullptr) return STATUS_INVALID_PARAMETER;
    IMiniportTopology* miniport = nullptr;
    NtStatus status = unknownMiniport->QueryInterface(IID_IMiniportTopology, reinterpret_cast<void**>(&miniport));
    if (status != STATUS_SUCCESS) return status;
    status = miniport->Init(unknownAdapter, resourceList, this);
    if (status == STATUS_SUCCESS) status = initBase(device, miniport);
    if (status != STATUS_SUCCESS) {
      miniport->Release();
      return status;
    }
    miniport_ = miniport;
    return STATUS_SUCCESS;
  }

  NtStatus GetDeviceProperty(DeviceRegistryProperty property, uint32_t bufferLength, void* buffer,
                             uint32_t* resultLength) override {
    return ioGetDeviceProperty(device_, property, bufferLength, buffer, resultLength);
  }

  void ReleaseChildren() override {
    if (miniport_ != nullptr) std::exchange(miniport_, nullptr)->Release();
  }
  IUnknown* miniportTarget() override { return miniport_; }

 private:
  IMiniportTopology* miniport_ = nullptr;
};

}  // namespace

IPort* newTopologyPort() {
  auto* port = new (NonPagedPool, poolTag("PcPt")) TopologyPort();
  if (port == nullptr) return nullptr;
  port->AddRef();
  return port;
}

}  // namespace platform::wdm

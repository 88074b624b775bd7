#include "ethernet-midi-driver/ethernet_midi_adapter.h"

#include <utility>

namespace mirelo {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

EthernetMidiAdapter::~EthernetMidiAdapter() {
  if (midiPort_ != nullptr) std::exchange(midiPort_, nullptr)->Release();
  if (topologyPort_ != nullptr) std::exchange(topologyPort_, nullptr)->Release();
  if (IPortEvents* events = portEvents_.exchange(nullptr)) events->Release();
}

NtStatus EthernetMidiAdapter::NonDelegatingQueryInterface(const platform::Guid& iid, void** object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  if (iid == IID_IUnknown) {
    *object = static_cast<IUnknown*>(static_cast<IEthernetMidiAdapter*>(this));
  } else if (iid == IID_IEthernetMidiAdapter) {
    *object = static_cast<IEthernetMidiAdapter*>(this);
  } else if (iid == IID_IAdapterPowerManagement) {
    *object = static_cast<IAdapterPowerManagement*>(this);
  } else {
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  static_cast<IEthernetMidiAdapter*>(this)->AddRef();
  return STATUS_SUCCESS;
}

NtStatus EthernetMidiAdapter::Init(DeviceObject* deviceObject) {
  deviceObject_ = deviceObject;
  powerState_.store(PowerDeviceD0);
  for (uint32_t i = 0; i < kMaxPorts; ++i) {
    muted_[i].store(1, kRelaxed);
    problem_[i].store(0, kRelaxed);
  }
  loopback_.store(1, kRelaxed);
  return STATUS_SUCCESS;
}

void EthernetMidiAdapter::SetPortEvents(IPortEvents* portEvents) {
  if (portEvents != nullptr) portEvents->AddRef();
  if (IPortEvents* previous = portEvents_.exchange(portEvents)) previous->Release();
}

void EthernetMidiAdapter::NotifyControlChange(uint32_t) {
  IPortEvents* events = portEvents_.load();
  if (events == nullptr) return;
  events->GenerateEventList(nullptr, platform::KSEVENT_CONTROL_CHANGE, false, 0xFFFFFFFF, true, 0);
}

uint32_t EthernetMidiAdapter::GetMuteMask() {
  uint32_t mask = 0;
  for (uint32_t i = 0; i < kMaxPorts; ++i) {
    if (muted_[i].load(kRelaxed) != 0) mask |= 1u << i;
  }
  return mask;
}

uint32_t EthernetMidiAdapter::IsMuted(uint32_t index) { return index < kMaxPorts ? muted_[index].load(kRelaxed) : 1; }

void EthernetMidiAdapter::SetMuteMask(uint32_t mask) {
  const uint32_t count = portCount_.load(kRelaxed);
  PortConnectCallbackRoutine callback = portCallback_.load();
  for (uint32_t i = 0; i < kMaxPorts; ++i) {
    const uint32_t bit = mask & (1u << i);
    muted_[i].store(bit, kRelaxed);
    if (i < count && callback != nullptr) callback(i, bit == 0);
    if (bit == 0) problem_[i].store(0, kRelaxed);
  }
  NotifyControlChange(0);
}

void EthernetMidiAdapter::SetMute(uint32_t index, uint32_t value) {
  if (index >= kMaxPorts) return;
  muted_[index].store(value, kRelaxed);
  if (value == 0) problem_[index].store(0, kRelaxed);
  PortConnectCallbackRoutine callback = portCallback_.load();
  if (callback != nullptr && callback(index, value == 0) != STATUS_SUCCESS) {
    muted_[index].store(1, kRelaxed);
    problem_[index].store(1, kRelaxed);
  }
  NotifyControlChange(index);
}

uint32_t EthernetMidiAdapter::GetProblem(uint32_t index) {
  return index < kMaxPorts ? problem_[index].load(kRelaxed) : 0;
}

uint32_t EthernetMidiAdapter::GetStatusWord() {
  uint32_t word = 0;
  for (uint32_t i = 0; i < kMaxPorts; ++i) {
    if (problem_[i].load(kRelaxed) != 0) word |= 1u << i;
  }
  if (loopback_.load(kRelaxed) != 0) word |= 0x80000000u;
  return word;
}

void EthernetMidiAdapter::SetProblem(uint32_t index, uint32_t value) {
  if (index >= kMaxPorts) return;
  problem_[index].store(value, kRelaxed);
  if (value != 0) muted_[index].store(1, kRelaxed);
  NotifyControlChange(index);
}

void EthernetMidiAdapter::SetPortCount(uint32_t count) { portCount_.store(count < kMaxPorts ? count : kMaxPorts); }

void EthernetMidiAdapter::SetLoopback(uint32_t value) {
  loopback_.store(value, kRelaxed);
  NotifyControlChange(0);
}

uint32_t EthernetMidiAdapter::GetLoopback() { return loopback_.load(kRelaxed); }

void EthernetMidiAdapter::SetPortCallback(PortConnectCallbackRoutine callback) { portCallback_.store(callback); }

void EthernetMidiAdapter::PowerChangeState(PowerState newState) {
  const uint32_t state = newState.deviceState;
  if (state != powerState_.load() && state >= PowerDeviceD0 && state <= PowerDeviceD3) powerState_.store(state);
}

NtStatus EthernetMidiAdapter::QueryPowerChangeState(PowerState) { return STATUS_SUCCESS; }

NtStatus EthernetMidiAdapter::QueryDeviceCapabilities(DeviceCapabilities*) { return STATUS_SUCCESS; }

}  // namespace mirelo

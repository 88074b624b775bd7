#pragma once
// The adapter object: state shared by all ports of one started device (mute
// and network-problem flags per port, loop-back, the installed port count)
// and the link between the control filter and the MIDI miniports.

#include <atomic>
#include <cstdint>

#include "platform/kernel/wdm/port_class.h"

namespace mirelo {

using namespace platform::wdm;

// Port indexes the per-port tables and the control filter's masks cover.
inline constexpr uint32_t kMaxPorts = 20;

inline constexpr uint32_t kDriverTag = poolTag("MRLO");   // the driver's own allocations
inline constexpr uint32_t kObjectTag = poolTag("PcCr");   // adapter and miniports
inline constexpr uint32_t kStreamTag = poolTag("PcNw");   // stream objects

// Asks the miniport of a port index to connect or disconnect its network side.
using PortConnectCallbackRoutine = NtStatus (*)(uint32_t index, bool connect);

inline constexpr platform::Guid IID_IEthernetMidiAdapter = {
    0x57F8A2B0, 0xC572, 0x46FF, {0xB9, 0xC1, 0x2D, 0x5F, 0x9B, 0xF0, 0x54, 0xB6}};

struct IEthernetMidiAdapter : IUnknown {
  virtual NtStatus Init(DeviceObject* deviceObject) = 0;
  virtual DeviceObject* GetDeviceObject() = 0;
  virtual IPortMidi** MidiPortSlot() = 0;
  virtual IPortTopology** TopologyPortSlot() = 0;
  virtual void SetPortEvents(IPortEvents* portEvents) = 0;
  virtual void NotifyControlChange(uint32_t index) = 0;
  virtual uint32_t GetMuteMask() = 0;
  virtual uint32_t IsMuted(uint32_t index) = 0;
  virtual void SetMuteMask(uint32_t mask) = 0;
  virtual void SetMute(uint32_t index, uint32_t value) = 0;
  virtual uint32_t GetProblem(uint32_t index) = 0;
  virtual uint32_t GetStatusWord() = 0;
  virtual void SetProblem(uint32_t index, uint32_t value) = 0;
  virtual void SetPortCount(uint32_t count) = 0;
  virtual void SetLoopback(uint32_t value) = 0;
  virtual uint32_t GetLoopback() = 0;
  virtual void SetPortCallback(PortConnectCallbackRoutine callback) = 0;
};

// The flags are single 32-bit values read and written without a lock from
// control requests, the data paths and the send thread; no operation needs
// two of them to agree. Indexes from kMaxPorts on are ignored (read as
// muted, without problem).
class EthernetMidiAdapter final : public IEthernetMidiAdapter, public IAdapterPowerManagement, public CUnknown {
 public:
  explicit EthernetMidiAdapter(IUnknown* outer) : CUnknown(outer) {}
  ~EthernetMidiAdapter() override;

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const platform::Guid& iid, void** object) override;

  NtStatus Init(DeviceObject* deviceObject) override;
  DeviceObject* GetDeviceObject() override { return deviceObject_; }
  IPortMidi** MidiPortSlot() override { return &midiPort_; }
  IPortTopology** TopologyPortSlot() override { return &topologyPort_; }
  void SetPortEvents(IPortEvents* portEvents) override;
  void NotifyControlChange(uint32_t index) override;
  uint32_t GetMuteMask() override;
  uint32_t IsMuted(uint32_t index) override;
  void SetMuteMask(uint32_t mask) override;
  void SetMute(uint32_t index, uint32_t value) override;
  uint32_t GetProblem(uint32_t index) override;
  uint32_t GetStatusWord() override;
  void SetProblem(uint32_t index, uint32_t value) override;
  void SetPortCount(uint32_t count) override;
  void SetLoopback(uint32_t value) override;
  uint32_t GetLoopback() override;
  void SetPortCallback(PortConnectCallbackRoutine callback) override;

  // IAdapterPowerManagement
  void PowerChangeState(PowerState newState) override;
  NtStatus QueryPowerChangeState(PowerState newStateQuery) override;
  NtStatus QueryDeviceCapabilities(DeviceCapabilities* capabilities) override;

  uint32_t powerState() const { return powerState_.load(); }

 private:
  IPortMidi* midiPort_ = nullptr;
  IPortTopology* topologyPort_ = nullptr;
  DeviceObject* deviceObject_ = nullptr;
  std::atomic<uint32_t> powerState_{PowerDeviceD0};
  std::atomic<IPortEvents*> portEvents_{nullptr};
  std::atomic<PortConnectCallbackRoutine> portCallback_{nullptr};
  std::atomic<uint32_t> muted_[kMaxPorts] = {};
  std::atomic<uint32_t> problem_[kMaxPorts] = {};
  std::atomic<uint32_t> loopback_{0};
  std::atomic<uint32_t> portCount_{0};
};

}  // namespace mirelo

#pragma once
// One Ethernet MIDI port: the MIDI miniport with its render streams (bytes
// from applications to the network) and capture streams (datagrams received
// for the port, kept in a capture ring that every capture stream reads on
// its own), and the work items that open and close its network side.

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ethernet-midi-driver/ethernet_midi_adapter.h"
#include "ethernet-midi-driver/udp_transport.h"

namespace mirelo {

inline constexpr uint32_t kFirstUdpPort = 21928;
inline constexpr uint8_t kMulticastGroup[4] = {225, 0, 0, 37};
inline constexpr uint32_t kStreamLimit = 8;

class EthernetMidiMiniport;

// The miniport of each port index, for PortConnectCallback.
extern std::atomic<EthernetMidiMiniport*> g_Miniports[kMaxPorts];

NtStatus PortConnectCallback(uint32_t index, bool connect);

// The filter descriptor every port exposes.
extern const PCFILTER_DESCRIPTOR kMidiFilterDescriptor;
extern const platform::KSDATARANGE_MUSIC kMidiStreamRange;
extern const KSDATARANGE kMidiBusRange;

class EthernetMidiMiniport final : public IMiniportMidi, public CUnknown {
 public:
  EthernetMidiMiniport(IUnknown* outer, uint32_t portIndex);
  ~EthernetMidiMiniport() override;

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const platform::Guid& iid, void** object) override;

  // IMiniport
  NtStatus GetDescription(const PCFILTER_DESCRIPTOR** description) override;
  NtStatus DataRangeIntersection(uint32_t pinId, const KSDATARANGE* dataRange, const KSDATARANGE* matchingDataRange,
                                 uint32_t outputBufferLength, void* resultantFormat,
                                 uint32_t* resultantFormatLength) override;
  // IMiniportMidi
  NtStatus Init(IUnknown* unknownAdapter, IResourceList* resourceList, IPortMidi* port,
                IServiceGroup** serviceGroup) override;
  void Service() override {}
  NtStatus NewStream(IMiniportMidiStream** stream, IUnknown* outerUnknown, PoolType poolType, uint32_t pin,
                     bool capture, const KSDATAFORMAT* dataFormat, IServiceGroup** serviceGroup) override;

  // For the streams.
  void StreamClosed(bool capture);
  NtStatus ReadCapture(uint64_t* readPosition, uint8_t* buffer, uint32_t length, uint32_t* bytesRead);
  NtStatus WriteRender(const uint8_t* buffer, uint32_t length, uint32_t* bytesWritten);
  uint64_t CapturePosition();

  // Routines the transport and the adapter call.
  static NtStatus ReceiveBytes(void* context, const uint8_t* bytes, uint32_t count, bool fromThisComputer);
  static void ReportSendFailure(void* context, uint32_t, uint32_t, uint32_t);
  void ScheduleConnect();
  void ScheduleDisconnect(WorkQueueType queue);

  NtStatus ConnectPort();
  NtStatus DisconnectPort();

  uint32_t PortIndex() const { return portIndex_; }
  UdpTransport& Transport() { return transport_; }
  bool Connected() { return keReadStateEvent(&connected_) != 0; }
  // A connect is queued or running.
  bool ConnectPending() const { return connectWork_.outstanding.load() != 0; }
  uint32_t StreamCount(bool capture);
  uint64_t LostCaptureBytes() const { return lostCaptureBytes_.load(); }

 private:
  // A queued request to run ConnectPort (kind 1) or DisconnectPort (kind 0).
  struct WorkRecord {
    EthernetMidiMiniport* miniport = nullptr;
    uint32_t kind = 0;
    IoWorkItem* workItem = nullptr;
    Event idle;  // signalled while the record is not queued
    std::atomic<uint32_t> outstanding{0};  // runs queued or running
  };

  void Schedule(WorkRecord& record, WorkQueueType queue);
  static void WorkRoutine(DeviceObject* device, void* context);
  void FullClose();

  uint16_t renderCount_ = 0;
  uint16_t captureCount_ = 0;
  // Bytes ever received: the capture ring's write position is this modulo
  // the ring size, and a stream that reads up to it has read everything.
  uint64_t captureWritePosition_ = 0;
  uint8_t captureRing_[kRingSize] = {};
  SpinLock captureLock_;
  WorkRecord disconnectWork_;
  WorkRecord connectWork_;
  UdpTransport transport_;
  Event connected_;
  IEthernetMidiAdapter* adapter_ = nullptr;
  IPortMidi* port_ = nullptr;
  const PCFILTER_DESCRIPTOR* descriptor_ = nullptr;
  IServiceGroup* serviceGroup_ = nullptr;
  uint32_t renderLimit_ = kStreamLimit;
  uint32_t captureLimit_ = kStreamLimit;
  uint32_t portIndex_ = 0;
  // Connect and disconnect runs of this port, one at a time.
  std::mutex networkMutex_;
  std::atomic<uint64_t> lostCaptureBytes_{0};
};

class EthernetMidiStream final : public IMiniportMidiStream, public CUnknown {
 public:
  EthernetMidiStream(IUnknown* outer, EthernetMidiMiniport* miniport, bool capture, uint32_t pin,
                     uint64_t readPosition);
  ~EthernetMidiStream() override;

  PORTCLS_DELEGATING_UNKNOWN

  NtStatus NonDelegatingQueryInterface(const platform::Guid& iid, void** object) override;

  NtStatus SetFormat(const KSDATAFORMAT* format) override;
  NtStatus SetState(KSSTATE state) override;
  NtStatus Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  NtStatus Write(const void* buffer, uint32_t length, uint32_t* bytesWritten) override;

  KSSTATE State() const { return state_; }

 private:
  EthernetMidiMiniport* miniport_;
  bool capture_;
  KSSTATE state_ = platform::KSSTATE_STOP;
  uint32_t pin_;
  uint64_t readPosition_;  // guarded by the miniport's capture lock
};

}  // namespace mirelo

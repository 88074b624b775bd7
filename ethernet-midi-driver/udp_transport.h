#pragma once
// The network side of one port: a UDP address object of the system's UDP
// transport bound to the port's UDP port, a send ring drained by a send
// thread that puts everything queued into one datagram to the multicast
// group, and the receive handler that passes each datagram to the miniport
// and tells whether it came from this computer.

#include <cstdint>

#include "platform/kernel/wdm/tdi.h"

namespace mirelo {

using namespace platform::wdm;

inline constexpr uint32_t kRingSize = 1024;
// Addresses of this computer the receive handler compares sources with.
inline constexpr uint32_t kMaxLocalAddresses = 32;

// `ReceiveBytes` of the owning miniport: called at dispatch level for each
// datagram while reception is enabled.
using ReceiveRoutine = NtStatus (*)(void* context, const uint8_t* bytes, uint32_t count, bool fromThisComputer);
// `ReportSendFailure` of the owning miniport: called once, at dispatch
// level, when the send thread gives up.
using ErrorRoutine = void (*)(void* context, uint32_t, uint32_t, uint32_t);

class UdpTransport {
 public:
  UdpTransport();
  ~UdpTransport() = default;
  UdpTransport(const UdpTransport&) = delete;
  UdpTransport& operator=(const UdpTransport&) = delete;

  // group and port in network byte order.
  NtStatus OpenAddress(uint32_t group, uint16_t port, ReceiveRoutine receiveRoutine, ErrorRoutine errorRoutine,
                       void* context);
  void CloseAddress();
  NtStatus StartSendThread();
  void StopSendThread();
  NtStatus EnableReceive();
  void DisableReceive();
  // Copies as many bytes as the ring has room for (at dispatch level) and
  // wakes the send thread; `taken` receives the count.
  NtStatus EnqueueSend(const uint8_t* bytes, uint32_t count, uint32_t* taken);

  NtStatus TdiDeviceIoControl(uint32_t code, void* input, uint32_t inputLength, void* output, uint32_t outputLength);
  NtStatus SetTdiInformation(uint32_t entity, uint32_t infoClass, uint32_t type, uint32_t id, const void* buffer,
                             uint32_t length);
  NtStatus SetEventHandler(int32_t eventType, void* handler, void* handlerContext);

  bool IsOpen() const { return fileObject_ != nullptr; }
  bool ReceiveEnabled() { return keReadStateEvent(&receiveEnabled_) != 0; }
  // A send thread was started and has not been stopped (it may have ended).
  bool HasSendThread() const { return sendThread_ != nullptr; }
  // The started send thread has ended by itself (after a failure).
  bool SendThreadEnded();

  uint32_t LocalAddressCount() const { return localAddressCount_; }
  const uint32_t* LocalAddresses() const { return localAddresses_; }

 private:
  // What the receive handler is registered with.
  struct ReceiveBlock {
    ReceiveRoutine routine = nullptr;
    void* context = nullptr;
    Event idle;
    const uint32_t* count = nullptr;
    const uint32_t* addresses = nullptr;
  };

  static NtStatus ReceiveHandler(void* context, int32_t sourceAddressLength, void* sourceAddress,
                                 int32_t optionsLength, void* options, uint32_t flags, uint32_t bytesIndicated,
                                 uint32_t bytesAvailable, uint32_t* bytesTaken, void* data, Irp** request);
  static NtStatus ErrorExHandler(void* context, NtStatus status, void* buffer);
  static void SendThread(void* context);
  // One datagram; false when it failed or did not complete within 5 s.
  bool SendDatagram(uint8_t* buffer, uint32_t count);
  void ReadLocalAddresses();

  uint32_t group_ = 0;
  uint32_t port_ = 0;
  TDI_CONNECTION_INFORMATION sendInformation_;
  TA_IP_ADDRESS remoteAddress_{};
  Handle addressHandle_ = nullptr;
  FileObject* fileObject_ = nullptr;
  DeviceObject* deviceObject_ = nullptr;
  uint32_t localAddresses_[kMaxLocalAddresses] = {};
  uint32_t localAddressCount_ = 0;
  Event receiveEnabled_;
  ReceiveBlock receive_;
  ErrorRoutine errorRoutine_ = nullptr;
  void* errorContext_ = nullptr;
  ThreadObject* sendThread_ = nullptr;
  Event stop_;
  Event data_;
  SpinLock sendLock_;
  uint8_t sendRing_[kRingSize] = {};
  uint32_t writeIndex_ = 0;
  // The reader's side, under the send lock too, so that the writer never
  // overwrites bytes that have not been sent.
  uint32_t readIndex_ = 0;
  uint32_t pending_ = 0;
};

}  // namespace mirelo

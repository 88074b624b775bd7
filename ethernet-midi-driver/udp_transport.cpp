#include "ethernet-midi-driver/udp_transport.h"

#include <algorithm>
#include <cstring>

namespace mirelo {

namespace {

constexpr int64_t kSendTimeout = relativeMilliseconds(5000);
constexpr int64_t kIdleWait = relativeMilliseconds(50);
constexpr uint32_t kEaBufferLength = 50;

NtStatus SendCompletion(DeviceObject*, Irp*, void* context) {
  keSetEvent(static_cast<Event*>(context));
  return STATUS_MORE_PROCESSING_REQUIRED;  // the send thread frees the request
}

}  // namespace

UdpTransport::UdpTransport() {
  keInitializeEvent(&receiveEnabled_, NotificationEvent, false);
  keInitializeEvent(&receive_.idle, NotificationEvent, true);
  keInitializeEvent(&stop_, NotificationEvent, false);
  keInitializeEvent(&data_, SynchronizationEvent, false);
  keInitializeSpinLock(&sendLock_);
  receive_.count = &localAddressCount_;
  receive_.addresses = localAddresses_;
}

// ================================================================ address object

NtStatus UdpTransport::OpenAddress(uint32_t group, uint16_t port, ReceiveRoutine receiveRoutine,
                                   ErrorRoutine errorRoutine, void* context) {
  group_ = group;
  port_ = port;

  // The extended attribute: "TransportAddress" and a TA_IP_ADDRESS on all
  // local addresses at the port.
  alignas(8) uint8_t ea[kEaBufferLength] = {};
  auto* header = reinterpret_cast<FILE_FULL_EA_INFORMATION*>(ea);
  header->nextEntryOffset = 0;
  header->flags = 0;
  header->eaNameLength = TDI_TRANSPORT_ADDRESS_LENGTH;
  header->eaValueLength = sizeof(TA_IP_ADDRESS);
  std::memcpy(ea + kEaNameOffset, kTransportAddressName, TDI_TRANSPORT_ADDRESS_LENGTH + 1);
  TA_IP_ADDRESS local{};
  local.taAddressCount = 1;
  local.address[0].addressLength = TDI_ADDRESS_LENGTH_IP;
  local.address[0].addressType = TDI_ADDRESS_TYPE_IP;
  local.address[0].address.sinPort = port;
  local.address[0].address.inAddr = 0;
  std::memcpy(ea + kEaNameOffset + TDI_TRANSPORT_ADDRESS_LENGTH + 1, &local, sizeof local);

  UnicodeString name;
  rtlInitUnicodeString(&name, u"\\Device\\Udp");
  ObjectAttributes attributes;
  initializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE);
  IoStatusBlock iosb;
  Handle handle = nullptr;
  NtStatus status = zwCreateFile(&handle, 0, &attributes, &iosb, nullptr, FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN, 0, ea,
                                 kEaBufferLength);
  if (status != STATUS_SUCCESS) return status;

  void* file = nullptr;
  status = obReferenceObjectByHandle(handle, GENERIC_READ | GENERIC_WRITE, platform::wdm::ObjectType::File,
                                     KernelMode, &file, nullptr);
  if (status != STATUS_SUCCESS) {
    zwClose(handle);
    return status;
  }
  addressHandle_ = handle;
  fileObject_ = static_cast<FileObject*>(file);

  remoteAddress_.taAddressCount = 1;
  remoteAddress_.address[0].addressLength = TDI_ADDRESS_LENGTH_IP;
  remoteAddress_.address[0].addressType = TDI_ADDRESS_TYPE_IP;
  remoteAddress_.address[0].address.sinPort = port;
  remoteAddress_.address[0].address.inAddr = group;
  sendInformation_ = TDI_CONNECTION_INFORMATION{};
  sendInformation_.remoteAddressLength = sizeof(TA_IP_ADDRESS);
  sendInformation_.remoteAddress = &remoteAddress_;
  deviceObject_ = ioGetRelatedDeviceObject(fileObject_);
  receive_.routine = receiveRoutine;
  receive_.context = context;
  errorRoutine_ = errorRoutine;
  errorContext_ = context;
  ReadLocalAddresses();
  return STATUS_SUCCESS;
}

void UdpTransport::ReadLocalAddresses() {
  MibUnicastIpAddressTable* table = nullptr;
  if (getUnicastIpAddressTable(AF_INET_FAMILY, &table) != STATUS_SUCCESS || table == nullptr) return;
  const uint32_t count = std::min(table->numEntries, kMaxLocalAddresses);
  for (uint32_t i = 0; i < count; ++i) localAddresses_[i] = table->table[i].ipv4Address;
  localAddressCount_ = count;
  freeMibTable(table);
}

void UdpTransport::CloseAddress() {
  if (fileObject_ != nullptr) obDereferenceObject(fileObject_);
  // The handle goes only when no indication runs on it; an indication ends
  // quickly (it copies the bytes), so this waits in short rounds.
  bool reported = false;
  while (keWaitForSingleObject(&receive_.idle, Executive, KernelMode, false, &kIdleWait) != STATUS_SUCCESS) {
    if (!reported) dbgPrint("CloseAddress: waiting for a receive indication to end\n");
    reported = true;
  }
  if (addressHandle_ != nullptr) zwClose(addressHandle_);
  addressHandle_ = nullptr;
  fileObject_ = nullptr;
  deviceObject_ = nullptr;
}

// ================================================================ requests to the transport

NtStatus UdpTransport::TdiDeviceIoControl(uint32_t code, void* input, uint32_t inputLength, void* output,
                                          uint32_t outputLength) {
  Event event;
  keInitializeEvent(&event, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = ioBuildDeviceIoControlRequest(code, deviceObject_, input, inputLength, output, outputLength, false,
                                           &event, &iosb);
  if (irp == nullptr) {
    dbgPrint("TdiDeviceIoControl: Unable to allocate IRP\n");
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ioGetNextIrpStackLocation(irp)->fileObject = fileObject_;
  NtStatus status = ioCallDriver(deviceObject_, irp);
  if (status == STATUS_PENDING) {
    keWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    return iosb.status;
  }
  if (status != STATUS_SUCCESS) dbgPrint("TdiDeviceIoControl: Status = %x, Irp Status = 0x%08x\n", status, iosb.status);
  return status;
}

NtStatus UdpTransport::SetTdiInformation(uint32_t entity, uint32_t infoClass, uint32_t type, uint32_t id,
                                         const void* buffer, uint32_t length) {
  const uint32_t size = 27 + length;
  auto* request = static_cast<uint8_t*>(exAllocatePoolWithTag(NonPagedPool, size, poolTag("MRLO")));
  if (request == nullptr) {
    dbgPrint("SetTdiInformation is unable to allocate memory %d bytes\n", size);
    return STATUS_NO_MEMORY;
  }
  std::memset(request, 0, size);
  TCP_REQUEST_SET_INFORMATION_EX head{};
  head.id.toiEntity.teiEntity = entity;
  head.id.toiEntity.teiInstance = 0;
  head.id.toiClass = infoClass;
  head.id.toiType = type;
  head.id.toiId = id;
  head.bufferSize = length;
  std::memcpy(request, &head, kSetInformationHeaderSize);
  std::memcpy(request + kSetInformationHeaderSize, buffer, length);
  const NtStatus status = TdiDeviceIoControl(IOCTL_TCP_SET_INFORMATION_EX, request, size, nullptr, 0);
  exFreePoolWithTag(request, poolTag("MRLO"));
  if (status != STATUS_SUCCESS) dbgPrint("SetTdiInformation: DeviceIoControl failed\n");
  return status;
}

NtStatus UdpTransport::SetEventHandler(int32_t eventType, void* handler, void* handlerContext) {
  Event event;
  keInitializeEvent(&event, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = tdiBuildInternalDeviceControlIrp(TDI_SET_EVENT_HANDLER, deviceObject_, fileObject_, &event, &iosb);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  tdiBuildSetEventHandler(irp, deviceObject_, fileObject_, nullptr, nullptr, eventType, handler, handlerContext);
  NtStatus status = ioCallDriver(deviceObject_, irp);
  if (status == STATUS_PENDING) {
    keWaitForSingleObject(&event, Executive, KernelMode, false, nullptr);
    status = STATUS_SUCCESS;
  }
  return status != STATUS_SUCCESS ? status : iosb.status;
}

// ================================================================ reception

NtStatus UdpTransport::EnableReceive() {
  NtStatus status =
      SetEventHandler(TDI_EVENT_RECEIVE_DATAGRAM, reinterpret_cast<void*>(&UdpTransport::ReceiveHandler), &receive_);
  if (status != STATUS_SUCCESS) return status;
  status = SetEventHandler(TDI_EVENT_ERROR_EX, reinterpret_cast<void*>(&UdpTransport::ErrorExHandler), nullptr);
  if (status != STATUS_SUCCESS) return status;
  const UDPMCastReq join{group_, 0};
  status = SetTdiInformation(CL_TL_ENTITY, INFO_CLASS_PROTOCOL, INFO_TYPE_ADDRESS_OBJECT, AO_OPTION_ADD_MCAST, &join,
                             sizeof join);
  if (status != STATUS_SUCCESS) return status;
  keSetEvent(&receiveEnabled_);
  return STATUS_SUCCESS;
}

void UdpTransport::DisableReceive() {
  SetEventHandler(TDI_EVENT_RECEIVE_DATAGRAM, nullptr, nullptr);
  SetEventHandler(TDI_EVENT_ERROR_EX, nullptr, nullptr);
  keClearEvent(&receiveEnabled_);
}

NtStatus UdpTransport::ReceiveHandler(void* context, int32_t sourceAddressLength, void* sourceAddress, int32_t,
                                      void*, uint32_t, uint32_t bytesIndicated, uint32_t, uint32_t* bytesTaken,
                                      void* data, Irp** request) {
  auto* block = static_cast<ReceiveBlock*>(context);
  keClearEvent(&block->idle);
  bool fromThisComputer = false;
  if (sourceAddress != nullptr && sourceAddressLength >= 14) {
    uint32_t source;
    std::memcpy(&source, static_cast<const uint8_t*>(sourceAddress) + 10, sizeof source);
    for (uint32_t i = 0; i < *block->count && !fromThisComputer; ++i) fromThisComputer = block->addresses[i] == source;
  }
  block->routine(block->context, static_cast<const uint8_t*>(data), bytesIndicated, fromThisComputer);
  *bytesTaken = bytesIndicated;
  *request = nullptr;
  keSetEvent(&block->idle);
  return STATUS_SUCCESS;
}

NtStatus UdpTransport::ErrorExHandler(void*, NtStatus status, void*) {
  dbgPrint("ErrorEx = %lx\n", status);
  return STATUS_SUCCESS;
}

// ================================================================ sending

NtStatus UdpTransport::EnqueueSend(const uint8_t* bytes, uint32_t count, uint32_t* taken) {
  uint32_t copied = 0;
  if (count != 0 && bytes != nullptr) {
    keAcquireSpinLockAtDpcLevel(&sendLock_);
    copied = std::min(count, kRingSize - pending_);
    for (uint32_t i = 0; i < copied; ++i) {
      sendRing_[writeIndex_] = bytes[i];
      writeIndex_ = (writeIndex_ + 1) % kRingSize;
    }
    pending_ += copied;
    keReleaseSpinLockFromDpcLevel(&sendLock_);
  }
  keSetEvent(&data_);
  if (taken != nullptr) *taken = copied;
  return STATUS_SUCCESS;
}

NtStatus UdpTransport::StartSendThread() {
  keClearEvent(&stop_);
  Handle thread = nullptr;
  NtStatus status = psCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                         &UdpTransport::SendThread, this);
  if (status != STATUS_SUCCESS) return status;
  void* object = nullptr;
  status = obReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, platform::wdm::ObjectType::Thread, KernelMode,
                                     &object, nullptr);
  zwClose(thread);
  if (status != STATUS_SUCCESS) return status;
  sendThread_ = static_cast<ThreadObject*>(object);
  return STATUS_SUCCESS;
}

void UdpTransport::StopSendThread() {
  if (sendThread_ == nullptr) return;
  keSetEvent(&stop_);
  keWaitForSingleObject(sendThread_, Executive, KernelMode, false, nullptr);
  obDereferenceObject(sendThread_);
  sendThread_ = nullptr;
  // Bytes the thread did not send belong to the session that ended.
  Irql old;
  keAcquireSpinLock(&sendLock_, &old);
  writeIndex_ = readIndex_ = pending_ = 0;
  keReleaseSpinLock(&sendLock_, old);
}

bool UdpTransport::SendThreadEnded() {
  if (sendThread_ == nullptr) return false;
  const int64_t poll = 0;
  return keWaitForSingleObject(sendThread_, Executive, KernelMode, false, &poll) == STATUS_SUCCESS;
}

bool UdpTransport::SendDatagram(uint8_t* buffer, uint32_t count) {
  Event done;
  keInitializeEvent(&done, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = tdiBuildInternalDeviceControlIrp(TDI_SEND_DATAGRAM, deviceObject_, fileObject_, &done, &iosb);
  if (irp == nullptr) return false;
  Mdl* mdl = ioAllocateMdl(buffer, count, false, false, irp);
  if (mdl == nullptr) {
    ioFreeIrp(irp);
    return false;
  }
  mmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
  tdiBuildSendDatagram(irp, deviceObject_, fileObject_, SendCompletion, &done, mdl, count, &sendInformation_);

  bool sent = true;
  if (ioCallDriver(deviceObject_, irp) == STATUS_PENDING &&
      keWaitForSingleObject(&done, Executive, KernelMode, false, &kSendTimeout) != STATUS_SUCCESS) {
    // The request must not outlive the buffer, descriptor and event it uses:
    // cancel it and wait until the transport has finished with it.
    ioCancelIrp(irp);
    keWaitForSingleObject(&done, Executive, KernelMode, false, nullptr);
    sent = false;
  }
  if (!ntSuccess(irp->ioStatus.status)) sent = false;
  mmUnlockPages(mdl);
  irp->mdlAddress = nullptr;
  ioFreeMdl(mdl);
  ioFreeIrp(irp);
  return sent;
}

void UdpTransport::SendThread(void* context) {
  auto* transport = static_cast<UdpTransport*>(context);
  uint8_t buffer[kRingSize];
  bool failed = false;
  DispatcherObject* objects[] = {&transport->stop_, &transport->data_};
  for (bool stopping = false; !stopping;) {
    const NtStatus woken = keWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, false, nullptr);
    if (woken != STATUS_WAIT_0 && woken != STATUS_WAIT_0 + 1) break;  // the wait failed
    // Asked to stop, the thread still sends what was queued before: a writer
    // that closes its stream right after writing loses nothing.
    stopping = woken == STATUS_WAIT_0;
    Irql old;
    keAcquireSpinLock(&transport->sendLock_, &old);
    const uint32_t count = transport->pending_;
    for (uint32_t i = 0; i < count; ++i) {
      buffer[i] = transport->sendRing_[transport->readIndex_];
      transport->readIndex_ = (transport->readIndex_ + 1) % kRingSize;
    }
    transport->pending_ = 0;
    keReleaseSpinLock(&transport->sendLock_, old);
    if (count == 0) continue;
    if (!transport->SendDatagram(buffer, count)) {
      failed = true;
      break;
    }
  }
  keClearEvent(&transport->stop_);
  if (failed) {
    Irql old;
    keRaiseIrql(DISPATCH_LEVEL, &old);
    transport->errorRoutine_(transport->errorContext_, 0, 0, 0);
    keLowerIrql(old);
  }
  psTerminateSystemThread(STATUS_SUCCESS);
}

}  // namespace mirelo

// The UDP transport "\Device\Udp": each address object is a non-blocking UDP
// socket; one thread per process waits on all of them with epoll, indicates
// received datagrams to the installed handler at dispatch level and finishes
// sends that had to wait for room in the socket.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/kernel/wdm/tdi.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform::wdm {

// ================================================================ TDI request builders

Irp* tdiBuildInternalDeviceControlIrp(uint8_t minorFunction, DeviceObject* device, FileObject* file, Event* event,
                                      IoStatusBlock* iosb) {
  Irp* irp = ioBuildDeviceIoControlRequest(0x3, device, nullptr, 0, nullptr, 0, true, event, iosb);
  if (irp == nullptr) return nullptr;
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->minorFunction = minorFunction;
  next->fileObject = file;
  return irp;
}

namespace {

void prepareTdiRequest(Irp* irp, FileObject* file, uint8_t minorFunction, IoCompletionRoutine completion,
                       void* context) {
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->majorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  next->minorFunction = minorFunction;
  next->fileObject = file;
  if (completion != nullptr) {
    ioSetCompletionRoutine(irp, completion, context, true, true, true);
  } else {
    next->completionRoutine = nullptr;
    next->control = 0;
  }
}

}  // namespace

void tdiBuildSendDatagram(Irp* irp, DeviceObject*, FileObject* file, IoCompletionRoutine completion, void* context,
                          Mdl* mdl, uint32_t sendLength, TDI_CONNECTION_INFORMATION* information) {
  prepareTdiRequest(irp, file, TDI_SEND_DATAGRAM, completion, context);
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->parameters.tdiSendDatagram.sendLength = sendLength;
  next->parameters.tdiSendDatagram.sendDatagramInformation = information;
  irp->mdlAddress = mdl;
}

void tdiBuildSetEventHandler(Irp* irp, DeviceObject*, FileObject* file, IoCompletionRoutine completion,
                             void* context, int32_t eventType, void* handler, void* handlerContext) {
  prepareTdiRequest(irp, file, TDI_SET_EVENT_HANDLER, completion, context);
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->parameters.tdiSetEventHandler.eventType = eventType;
  next->parameters.tdiSetEventHandler.eventHandler = handler;
  next->parameters.tdiSetEventHandler.eventContext = handlerContext;
}

// ================================================================ configuration

namespace {

// The configured multicast interface (network byte order), 0 when none is
// configured. False with a debug message for a value that is no address.
bool configuredInterface(uint32_t* address) {
  *address = 0;
  RegistryKey key;
  if (RegistryKey::open(RegistryHive::LocalMachine, kTcpipParametersKey, KEY_READ, key) != ERROR_SUCCESS) return true;
  std::u16string text;
  if (key.getString(kMulticastInterfaceValue, text) != ERROR_SUCCESS) return true;
  in_addr parsed{};
  if (::inet_pton(AF_INET, toUtf8(text).c_str(), &parsed) != 1) {
    dbgPrint("Tcpip: MulticastInterface \"%s\" is not an IPv4 address\n", toUtf8(text));
    return false;
  }
  *address = parsed.s_addr;
  return true;
}

NtStatus statusFromErrno(int error) {
  switch (error) {
    case EADDRINUSE: return STATUS_ADDRESS_ALREADY_EXISTS;
    case EADDRNOTAVAIL:
    case ENODEV: return STATUS_INVALID_ADDRESS;
    case EACCES:
    case EPERM: return STATUS_ACCESS_DENIED;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN: return STATUS_NETWORK_UNREACHABLE;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM: return STATUS_INSUFFICIENT_RESOURCES;
    case EINVAL:
    case EMSGSIZE: return STATUS_INVALID_PARAMETER;
    default: return STATUS_UNSUCCESSFUL;
  }
}

}  // namespace

// ================================================================ unicast address table

NtStatus getUnicastIpAddressTable(uint16_t family, MibUnicastIpAddressTable** table) {
  if (table == nullptr || family != AF_INET_FAMILY) return STATUS_INVALID_PARAMETER;
  *table = nullptr;
  std::vector<MibUnicastIpAddressRow> rows;
  uint32_t configured = 0;
  if (!configuredInterface(&configured)) return STATUS_INVALID_ADDRESS;
  if (configured != 0) {
    rows.push_back(MibUnicastIpAddressRow{AF_INET, configured, 0});
  } else {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return statusFromErrno(errno);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
      if ((entry->ifa_flags & IFF_UP) == 0) continue;
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      rows.push_back(MibUnicastIpAddressRow{AF_INET, address->sin_addr.s_addr, ::if_nametoindex(entry->ifa_name)});
    }
    ::freeifaddrs(list);
  }
  const size_t bytes = sizeof(MibUnicastIpAddressTable) + std::max<size_t>(rows.size(), 1) * sizeof(MibUnicastIpAddressRow);
  auto* result = static_cast<MibUnicastIpAddressTable*>(exAllocatePoolWithTag(NonPagedPool, bytes, poolTag("Ntio")));
  if (result == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  result->numEntries = static_cast<uint32_t>(rows.size());
  std::copy(rows.begin(), rows.end(), result->table);
  *table = result;
  return STATUS_SUCCESS;
}

void freeMibTable(void* table) {
  if (table != nullptr) exFreePoolWithTag(table, poolTag("Ntio"));
}

// ================================================================ address objects

namespace {

struct AddressObject {
  uint64_t id = 0;
  UniqueFd socket;
  uint16_t port = 0;  // network byte order
  uint32_t multicastInterface = 0;

  std::mutex mutex;  // guards everything below
  std::condition_variable idle;
  ClientEventReceiveDatagram receiveHandler = nullptr;
  void* receiveContext = nullptr;
  ClientEventErrorEx errorHandler = nullptr;
  void* errorContext = nullptr;
  std::deque<Irp*> pendingSends;
  bool closing = false;
  int indicating = 0;
};

// What the file object's context holds.
struct AddressReference {
  std::shared_ptr<AddressObject> address;
};

class UdpTransport {
 public:
  NtStatus start();
  void stop();

  NtStatus create(FileObject* file, const FILE_FULL_EA_INFORMATION* ea, uint32_t eaLength);
  void cleanup(FileObject* file);
  NtStatus setEventHandler(AddressObject& address, int32_t type, void* handler, void* context);
  NtStatus sendDatagram(AddressObject& address, Irp* irp);
  NtStatus setInformation(AddressObject& address, const uint8_t* input, uint32_t length);
  void watchForRoom(AddressObject& address, bool watch);

  static void cancelSend(DeviceObject* device, Irp* irp);

 private:
  void run();
  void receiveFrom(const std::shared_ptr<AddressObject>& address);
  void sendQueued(const std::shared_ptr<AddressObject>& address);
  void reportError(const std::shared_ptr<AddressObject>& address);
  std::shared_ptr<AddressObject> find(uint64_t id);

  std::mutex mutex_;
  DriverObject* driver_ = nullptr;
  DeviceObject* device_ = nullptr;
  UniqueFd epoll_;
  UniqueFd wake_;
  std::thread thread_;
  std::thread::id threadId_;
  uint64_t nextId_ = 1;
  std::unordered_map<uint64_t, std::shared_ptr<AddressObject>> addresses_;
};

UdpTransport& udpTransport() {
  static UdpTransport transport;
  return transport;
}

AddressObject* addressOf(FileObject* file) {
  if (file == nullptr || file->fsContext == nullptr) return nullptr;
  return static_cast<AddressReference*>(file->fsContext)->address.get();
}

NtStatus completeWith(Irp* irp, NtStatus status, uintptr_t information = 0) {
  irp->ioStatus.status = status;
  irp->ioStatus.information = information;
  ioCompleteRequest(irp);
  return status;
}

// Parses the TransportAddress attribute of a create request into an IPv4
// address and port (network byte order).
bool parseTransportAddress(const FILE_FULL_EA_INFORMATION* ea, uint32_t eaLength, uint32_t* address, uint16_t* port) {
  if (ea == nullptr || eaLength < kEaNameOffset) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(ea);
  const size_t valueOffset = kEaNameOffset + ea->eaNameLength + 1;
  if (valueOffset + ea->eaValueLength > eaLength) return false;
  if (ea->eaNameLength != TDI_TRANSPORT_ADDRESS_LENGTH ||
      std::memcmp(bytes + kEaNameOffset, kTransportAddressName, TDI_TRANSPORT_ADDRESS_LENGTH) != 0) {
    return false;
  }
  if (ea->eaValueLength < sizeof(TA_IP_ADDRESS)) return false;
  TA_IP_ADDRESS value;
  std::memcpy(&value, bytes + valueOffset, sizeof value);
  if (value.taAddressCount < 1 || value.address[0].addressType != TDI_ADDRESS_TYPE_IP ||
      value.address[0].addressLength < TDI_ADDRESS_LENGTH_IP) {
    return false;
  }
  *address = value.address[0].address.inAddr;
  *port = value.address[0].address.sinPort;
  return true;
}

bool parseRemoteAddress(const TDI_CONNECTION_INFORMATION* information, sockaddr_in* destination) {
  if (information == nullptr || information->remoteAddress == nullptr ||
      information->remoteAddressLength < static_cast<int32_t>(sizeof(TA_IP_ADDRESS))) {
    return false;
  }
  TA_IP_ADDRESS value;
  std::memcpy(&value, information->remoteAddress, sizeof value);
  if (value.taAddressCount < 1 || value.address[0].addressType != TDI_ADDRESS_TYPE_IP) return false;
  *destination = sockaddr_in{};
  destination->sin_family = AF_INET;
  destination->sin_port = value.address[0].address.sinPort;
  destination->sin_addr.s_addr = value.address[0].address.inAddr;
  return true;
}

// ---------------------------------------------------------------- dispatch routines

NtStatus dispatchCreate(DeviceObject*, Irp* irp) {
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  return completeWith(irp, udpTransport().create(stack->fileObject, stack->parameters.create.eaBuffer,
                                                 stack->parameters.create.eaLength));
}

NtStatus dispatchCleanup(DeviceObject*, Irp* irp) {
  udpTransport().cleanup(ioGetCurrentIrpStackLocation(irp)->fileObject);
  return completeWith(irp, STATUS_SUCCESS);
}

NtStatus dispatchClose(DeviceObject*, Irp* irp) {
  FileObject* file = ioGetCurrentIrpStackLocation(irp)->fileObject;
  delete static_cast<AddressReference*>(file->fsContext);
  file->fsContext = nullptr;
  return completeWith(irp, STATUS_SUCCESS);
}

NtStatus dispatchInternalControl(DeviceObject*, Irp* irp) {
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  AddressObject* address = addressOf(stack->fileObject);
  if (address == nullptr) return completeWith(irp, STATUS_INVALID_HANDLE);
  switch (stack->minorFunction) {
    case TDI_SET_EVENT_HANDLER:
      return completeWith(irp, udpTransport().setEventHandler(*address, stack->parameters.tdiSetEventHandler.eventType,
                                                              stack->parameters.tdiSetEventHandler.eventHandler,
                                                              stack->parameters.tdiSetEventHandler.eventContext));
    case TDI_SEND_DATAGRAM:
      return udpTransport().sendDatagram(*address, irp);
    default:
      return completeWith(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NtStatus dispatchControl(DeviceObject*, Irp* irp) {
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  AddressObject* address = addressOf(stack->fileObject);
  if (address == nullptr) return completeWith(irp, STATUS_INVALID_HANDLE);
  if (stack->parameters.deviceIoControl.ioControlCode != IOCTL_TCP_SET_INFORMATION_EX) {
    return completeWith(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
  return completeWith(irp, udpTransport().setInformation(*address, static_cast<const uint8_t*>(irp->systemBuffer),
                                                         stack->parameters.deviceIoControl.inputBufferLength));
}

// ---------------------------------------------------------------- the transport

NtStatus UdpTransport::start() {
  std::lock_guard lock(mutex_);
  if (device_ != nullptr) return STATUS_SUCCESS;
  epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
  wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!epoll_.valid() || !wake_.valid()) return STATUS_INSUFFICIENT_RESOURCES;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = 0;
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event);

  auto* driver = new DriverObject();
  driver->driverName = u"\\Driver\\Tcpip";
  driver->majorFunction[IRP_MJ_CREATE] = dispatchCreate;
  driver->majorFunction[IRP_MJ_CLEANUP] = dispatchCleanup;
  driver->majorFunction[IRP_MJ_CLOSE] = dispatchClose;
  driver->majorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = dispatchInternalControl;
  driver->majorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
  UnicodeString name;
  rtlInitUnicodeString(&name, u"\\Device\\Udp");
  DeviceObject* device = nullptr;
  const NtStatus status = ioCreateDevice(driver, 0, &name, FILE_DEVICE_NETWORK, 0, false, &device);
  if (status != STATUS_SUCCESS) {
    obDereferenceObject(driver);
    return status;
  }
  device->flags &= ~DO_DEVICE_INITIALIZING;
  driver_ = driver;
  device_ = device;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    ioDeleteDevice(device_);
    obDereferenceObject(driver_);
    device_ = nullptr;
    driver_ = nullptr;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  threadId_ = thread_.get_id();
  return STATUS_SUCCESS;
}

void UdpTransport::stop() {
  std::vector<std::shared_ptr<AddressObject>> open;
  {
    std::lock_guard lock(mutex_);
    if (device_ == nullptr) return;
    for (const auto& [id, address] : addresses_) open.push_back(address);
  }
  if (!open.empty()) dbgPrint("Tcpip: %d address object(s) still open at stop\n", static_cast<int>(open.size()));
  const uint64_t one = 1;
  {
    std::lock_guard lock(mutex_);
    DeviceObject* device = std::exchange(device_, nullptr);
    ioDeleteDevice(device);
    obDereferenceObject(std::exchange(driver_, nullptr));
  }
  [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  addresses_.clear();
  epoll_.reset();
  wake_.reset();
}

std::shared_ptr<AddressObject> UdpTransport::find(uint64_t id) {
  std::lock_guard lock(mutex_);
  auto it = addresses_.find(id);
  return it == addresses_.end() ? nullptr : it->second;
}

NtStatus UdpTransport::create(FileObject* file, const FILE_FULL_EA_INFORMATION* ea, uint32_t eaLength) {
  uint32_t bindAddress = 0;
  uint16_t port = 0;
  if (!parseTransportAddress(ea, eaLength, &bindAddress, &port)) return STATUS_INVALID_ADDRESS;
  auto address = std::make_shared<AddressObject>();
  if (!configuredInterface(&address->multicastInterface)) return STATUS_INVALID_ADDRESS;
  address->port = port;
  address->socket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!address->socket.valid()) return statusFromErrno(errno);
  const int fd = address->socket.get();
  // Several emulated computers may share one network: each binds the port,
  // and each receives only the groups it joined itself.
  const int on = 1;
  const int off = 0;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
  if (address->multicastInterface != 0) {
    in_addr interfaceAddress{address->multicastInterface};
    if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interfaceAddress, sizeof interfaceAddress) != 0) {
      dbgPrint("Tcpip: cannot send multicast through the configured interface: %s\n", std::strerror(errno));
      return statusFromErrno(errno);
    }
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = port;
  local.sin_addr.s_addr = bindAddress;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return statusFromErrno(errno);

  std::lock_guard lock(mutex_);
  if (device_ == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
  address->id = nextId_++;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = address->id;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) return statusFromErrno(errno);
  addresses_[address->id] = address;
  file->fsContext = new AddressReference{address};
  return STATUS_SUCCESS;
}

void UdpTransport::cleanup(FileObject* file) {
  AddressObject* raw = addressOf(file);
  if (raw == nullptr) return;
  std::shared_ptr<AddressObject> address = static_cast<AddressReference*>(file->fsContext)->address;
  {
    std::lock_guard lock(mutex_);
    if (epoll_.valid()) ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, address->socket.get(), nullptr);
    addresses_.erase(address->id);
  }
  std::deque<Irp*> cancelled;
  {
    std::unique_lock lock(address->mutex);
    address->closing = true;
    address->receiveHandler = nullptr;
    address->errorHandler = nullptr;
    for (Irp* irp : address->pendingSends) {
      if (ioSetCancelRoutine(irp, nullptr) != nullptr) cancelled.push_back(irp);
    }
    address->pendingSends.clear();
    // An indication in progress finishes before the socket goes, unless this
    // cleanup is called from inside it.
    if (std::this_thread::get_id() != threadId_) {
      address->idle.wait(lock, [&] { return address->indicating == 0; });
    }
  }
  for (Irp* irp : cancelled) completeWith(irp, STATUS_CANCELLED);
  // The socket closes with the last reference, so that the transport's thread
  // never reads a descriptor number that has been reused.
}

NtStatus UdpTransport::setEventHandler(AddressObject& address, int32_t type, void* handler, void* context) {
  std::lock_guard lock(address.mutex);
  if (address.closing) return STATUS_INVALID_HANDLE;
  switch (type) {
    case TDI_EVENT_RECEIVE_DATAGRAM:
      address.receiveHandler = reinterpret_cast<ClientEventReceiveDatagram>(handler);
      address.receiveContext = handler != nullptr ? context : nullptr;
      return STATUS_SUCCESS;
    case TDI_EVENT_ERROR_EX:
      address.errorHandler = reinterpret_cast<ClientEventErrorEx>(handler);
      address.errorContext = handler != nullptr ? context : nullptr;
      return STATUS_SUCCESS;
    default:
      return type >= 0 && type <= 12 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;  // events a datagram transport never raises
  }
}

NtStatus UdpTransport::setInformation(AddressObject& address, const uint8_t* input, uint32_t length) {
  if (input == nullptr || length < kSetInformationHeaderSize) return STATUS_INVALID_PARAMETER;
  TCP_REQUEST_SET_INFORMATION_EX request;
  std::memcpy(&request, input, kSetInformationHeaderSize);
  if (request.bufferSize > length - kSetInformationHeaderSize) return STATUS_INVALID_PARAMETER;
  if (request.id.toiEntity.teiEntity != CL_TL_ENTITY || request.id.toiClass != INFO_CLASS_PROTOCOL ||
      request.id.toiType != INFO_TYPE_ADDRESS_OBJECT) {
    return STATUS_INVALID_PARAMETER;
  }
  if (request.id.toiId != AO_OPTION_ADD_MCAST && request.id.toiId != AO_OPTION_DEL_MCAST) {
    return STATUS_NOT_IMPLEMENTED;
  }
  if (request.bufferSize < sizeof(UDPMCastReq)) return STATUS_BUFFER_TOO_SMALL;
  UDPMCastReq membership;
  std::memcpy(&membership, input + kSetInformationHeaderSize, sizeof membership);
  ip_mreq option{};
  option.imr_multiaddr.s_addr = membership.umrAddr;
  option.imr_interface.s_addr = membership.umrIf != 0 ? membership.umrIf : address.multicastInterface;
  const int name = request.id.toiId == AO_OPTION_ADD_MCAST ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
  if (::setsockopt(address.socket.get(), IPPROTO_IP, name, &option, sizeof option) == 0) return STATUS_SUCCESS;
  if (name == IP_ADD_MEMBERSHIP && errno == EADDRINUSE) return STATUS_SUCCESS;  // joined already
  if (errno == ENODEV) return STATUS_NETWORK_UNREACHABLE;  // no interface for the group
  return statusFromErrno(errno);
}

void UdpTransport::watchForRoom(AddressObject& address, bool watch) {
  std::lock_guard lock(mutex_);
  if (!epoll_.valid() || !address.socket.valid()) return;
  epoll_event event{};
  event.events = EPOLLIN | (watch ? static_cast<uint32_t>(EPOLLOUT) : 0u);
  event.data.u64 = address.id;
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, address.socket.get(), &event);
}

NtStatus UdpTransport::sendDatagram(AddressObject& address, Irp* irp) {
  IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
  const uint32_t length = stack->parameters.tdiSendDatagram.sendLength;
  const void* data = mmGetSystemAddressForMdlSafe(irp->mdlAddress, 0);
  sockaddr_in destination;
  if ((length > 0 && data == nullptr) || (irp->mdlAddress != nullptr && length > irp->mdlAddress->byteCount) ||
      !parseRemoteAddress(stack->parameters.tdiSendDatagram.sendDatagramInformation, &destination)) {
    return completeWith(irp, STATUS_INVALID_PARAMETER);
  }
  std::unique_lock lock(address.mutex);
  if (address.closing) {
    lock.unlock();
    return completeWith(irp, STATUS_INVALID_HANDLE);
  }
  if (address.pendingSends.empty()) {
    const ssize_t sent = ::sendto(address.socket.get(), data, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      const NtStatus status = sent >= 0 ? STATUS_SUCCESS : statusFromErrno(errno);
      lock.unlock();
      return completeWith(irp, status, sent >= 0 ? static_cast<uintptr_t>(sent) : 0);
    }
  }
  // No room in the socket: the request waits, in order, until there is.
  irp->driverContext[0] = &address;
  ioMarkIrpPending(irp);
  ioSetCancelRoutine(irp, &UdpTransport::cancelSend);
  address.pendingSends.push_back(irp);
  const bool first = address.pendingSends.size() == 1;
  lock.unlock();
  if (irp->cancel.load() && ioSetCancelRoutine(irp, nullptr) != nullptr) {
    lock.lock();
    address.pendingSends.erase(std::remove(address.pendingSends.begin(), address.pendingSends.end(), irp),
                               address.pendingSends.end());
    lock.unlock();
    completeWith(irp, STATUS_CANCELLED);
    return STATUS_PENDING;
  }
  if (first) watchForRoom(address, true);
  return STATUS_PENDING;
}

void UdpTransport::cancelSend(DeviceObject*, Irp* irp) {
  auto* address = static_cast<AddressObject*>(irp->driverContext[0]);
  bool removed = false;
  {
    std::lock_guard lock(address->mutex);
    auto& queue = address->pendingSends;
    auto it = std::find(queue.begin(), queue.end(), irp);
    if (it != queue.end()) {
      queue.erase(it);
      removed = true;
    }
  }
  if (removed) completeWith(irp, STATUS_CANCELLED);
}

void UdpTransport::sendQueued(const std::shared_ptr<AddressObject>& address) {
  std::vector<std::pair<Irp*, NtStatus>> finished;
  bool empty;
  {
    std::lock_guard lock(address->mutex);
    while (!address->pendingSends.empty()) {
      Irp* irp = address->pendingSends.front();
      IoStackLocation* stack = ioGetCurrentIrpStackLocation(irp);
      sockaddr_in destination;
      parseRemoteAddress(stack->parameters.tdiSendDatagram.sendDatagramInformation, &destination);
      const ssize_t sent =
          ::sendto(address->socket.get(), mmGetSystemAddressForMdlSafe(irp->mdlAddress, 0),
                   stack->parameters.tdiSendDatagram.sendLength, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      address->pendingSends.pop_front();
      // A request whose cancel routine already runs is finished by that routine.
      if (ioSetCancelRoutine(irp, nullptr) != nullptr) {
        irp->ioStatus.information = sent >= 0 ? static_cast<uintptr_t>(sent) : 0;
        finished.emplace_back(irp, sent >= 0 ? STATUS_SUCCESS : statusFromErrno(errno));
      }
    }
    empty = address->pendingSends.empty();
  }
  if (empty) watchForRoom(*address, false);
  for (auto& [irp, status] : finished) completeWith(irp, status, irp->ioStatus.information);
}

void UdpTransport::reportError(const std::shared_ptr<AddressObject>& address) {
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(address->socket.get(), SOL_SOCKET, SO_ERROR, &error, &size);
  if (error == 0) return;
  ClientEventErrorEx handler;
  void* context;
  {
    std::lock_guard lock(address->mutex);
    handler = address->errorHandler;
    context = address->errorContext;
    if (handler == nullptr || address->closing) return;
    ++address->indicating;
  }
  Irql old;
  keRaiseIrql(DISPATCH_LEVEL, &old);
  handler(context, statusFromErrno(error), nullptr);
  keLowerIrql(old);
  std::lock_guard lock(address->mutex);
  if (--address->indicating == 0) address->idle.notify_all();
}

void UdpTransport::receiveFrom(const std::shared_ptr<AddressObject>& address) {
  static thread_local std::vector<uint8_t> buffer(65536);
  // A bounded number per round, so that a flood on one address does not
  // starve the others.
  for (int round = 0; round < 64; ++round) {
    sockaddr_in source{};
    socklen_t sourceSize = sizeof source;
    const ssize_t received = ::recvfrom(address->socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&source), &sourceSize);
    if (received < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) reportError(address);
      return;
    }
    ClientEventReceiveDatagram handler;
    void* context;
    {
      std::lock_guard lock(address->mutex);
      handler = address->receiveHandler;
      context = address->receiveContext;
      if (handler == nullptr || address->closing) continue;  // nobody listens: dropped
      ++address->indicating;
    }
    TA_IP_ADDRESS from{};
    from.taAddressCount = 1;
    from.address[0].addressLength = TDI_ADDRESS_LENGTH_IP;
    from.address[0].addressType = TDI_ADDRESS_TYPE_IP;
    from.address[0].address.sinPort = source.sin_port;
    from.address[0].address.inAddr = source.sin_addr.s_addr;
    uint32_t taken = 0;
    Irp* request = nullptr;
    Irql old;
    keRaiseIrql(DISPATCH_LEVEL, &old);
    handler(context, static_cast<int32_t>(sizeof from), &from, 0, nullptr, TDI_RECEIVE_ENTIRE_MESSAGE,
            static_cast<uint32_t>(received), static_cast<uint32_t>(received), &taken, buffer.data(), &request);
    keLowerIrql(old);
    if (request != nullptr) {
      // This transport indicates whole datagrams; a receive request handed
      // back gets nothing more.
      completeWith(request, STATUS_SUCCESS);
    }
    std::lock_guard lock(address->mutex);
    if (--address->indicating == 0) address->idle.notify_all();
  }
}

void UdpTransport::run() {
  epoll_event events[32];
  for (;;) {
    const int count = ::epoll_wait(epoll_.get(), events, 32, -1);
    if (count < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u64 == 0) {
        std::lock_guard lock(mutex_);
        if (device_ == nullptr) return;
        continue;
      }
      std::shared_ptr<AddressObject> address = find(events[i].data.u64);
      if (address == nullptr) continue;
      if ((events[i].events & EPOLLERR) != 0) reportError(address);
      if ((events[i].events & EPOLLIN) != 0) receiveFrom(address);
      if ((events[i].events & EPOLLOUT) != 0) sendQueued(address);
    }
  }
}

}  // namespace

NtStatus startUdpTransport() { return udpTransport().start(); }

void stopUdpTransport() { udpTransport().stop(); }

}  // namespace platform::wdm

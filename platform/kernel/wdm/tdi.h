#pragma once
// The transport driver interface of the UDP transport ("\Device\Udp"):
// address objects opened with a TransportAddress extended attribute, event
// handlers for received datagrams and errors, datagram sends described by a
// memory descriptor, multicast membership through IOCTL_TCP_SET_INFORMATION_EX,
// and the unicast address table of this computer.
//
// The transport runs on BSD sockets (udp_device.cpp). Received datagrams are
// indicated on the transport's own thread at dispatch level.

#include <cstdint>

#include "platform/kernel/wdm/io.h"

namespace platform::wdm {

// Internal device control minor functions.
inline constexpr uint8_t TDI_SEND_DATAGRAM = 9;
inline constexpr uint8_t TDI_SET_EVENT_HANDLER = 11;

// Event types.
inline constexpr int32_t TDI_EVENT_RECEIVE_DATAGRAM = 4;
inline constexpr int32_t TDI_EVENT_ERROR_EX = 10;

inline constexpr uint32_t TDI_RECEIVE_ENTIRE_MESSAGE = 0x10;

inline constexpr uint32_t IOCTL_TCP_SET_INFORMATION_EX = 0x128004;
inline constexpr uint32_t CL_TL_ENTITY = 0x401;
inline constexpr uint32_t INFO_CLASS_PROTOCOL = 0x200;
inline constexpr uint32_t INFO_TYPE_ADDRESS_OBJECT = 0x200;
inline constexpr uint32_t AO_OPTION_ADD_MCAST = 6;
inline constexpr uint32_t AO_OPTION_DEL_MCAST = 7;

inline constexpr uint16_t TDI_ADDRESS_TYPE_IP = 2;
inline constexpr uint16_t TDI_ADDRESS_LENGTH_IP = 14;
inline constexpr char kTransportAddressName[] = "TransportAddress";
inline constexpr uint8_t TDI_TRANSPORT_ADDRESS_LENGTH = 16;  // the name without its terminator

#pragma pack(push, 1)
// One IPv4 transport address: port and address in network byte order.
struct TDI_ADDRESS_IP {
  uint16_t sinPort;
  uint32_t inAddr;
  uint8_t sinZero[8];
};
struct TA_ADDRESS_IP {
  uint16_t addressLength;  // 14
  uint16_t addressType;    // 2
  TDI_ADDRESS_IP address;
};
struct TA_IP_ADDRESS {
  int32_t taAddressCount;
  TA_ADDRESS_IP address[1];
};
#pragma pack(pop)
static_assert(sizeof(TA_IP_ADDRESS) == 22);

// Where a datagram goes.
struct TDI_CONNECTION_INFORMATION {
  int32_t userDataLength = 0;
  void* userData = nullptr;
  int32_t optionsLength = 0;
  void* options = nullptr;
  int32_t remoteAddressLength = 0;
  void* remoteAddress = nullptr;
};

struct TDIEntityID {
  uint32_t teiEntity;
  uint32_t teiInstance;
};
struct TDIObjectID {
  TDIEntityID toiEntity;
  uint32_t toiClass;
  uint32_t toiType;
  uint32_t toiId;
};
struct TCP_REQUEST_SET_INFORMATION_EX {
  TDIObjectID id;
  uint32_t bufferSize;
  uint8_t buffer[1];
};
inline constexpr uint32_t kSetInformationHeaderSize = 24;  // the fixed part before the buffer

// Multicast membership: group and interface address, network byte order.
struct UDPMCastReq {
  uint32_t umrAddr;
  uint32_t umrIf;
};

using ClientEventReceiveDatagram = NtStatus (*)(void* context, int32_t sourceAddressLength, void* sourceAddress,
                                                int32_t optionsLength, void* options, uint32_t receiveDatagramFlags,
                                                uint32_t bytesIndicated, uint32_t bytesAvailable,
                                                uint32_t* bytesTaken, void* tsdu, Irp** ioRequestPacket);
using ClientEventErrorEx = NtStatus (*)(void* context, NtStatus status, void* buffer);

// A request for an internal device control of the transport, ready for the
// build functions below and IoCallDriver.
Irp* tdiBuildInternalDeviceControlIrp(uint8_t minorFunction, DeviceObject* device, FileObject* file, Event* event,
                                      IoStatusBlock* iosb);
void tdiBuildSendDatagram(Irp* irp, DeviceObject* device, FileObject* file, IoCompletionRoutine completion,
                          void* context, Mdl* mdl, uint32_t sendLength, TDI_CONNECTION_INFORMATION* information);
void tdiBuildSetEventHandler(Irp* irp, DeviceObject* device, FileObject* file, IoCompletionRoutine completion,
                             void* context, int32_t eventType, void* handler, void* handlerContext);

// ---------------------------------------------------------------- the transport

// Creates "\Driver\Tcpip" with its device "\Device\Udp" and the transport's
// thread. Idempotent.
NtStatus startUdpTransport();
// Closes every address object still open and removes the device.
void stopUdpTransport();

// The configuration of the emulated computer's network side, in the
// registry under HKEY_LOCAL_MACHINE "System\CurrentControlSet\Services\Tcpip\Parameters":
// "MulticastInterface" (REG_SZ, a dotted IPv4 address) names the interface
// multicast datagrams leave by, joins default to and that is this computer's
// address. Without it the system's routing chooses, and every address of the
// machine's interfaces belongs to this computer.
inline constexpr char16_t kTcpipParametersKey[] = u"System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
inline constexpr char16_t kMulticastInterfaceValue[] = u"MulticastInterface";

// ---------------------------------------------------------------- unicast address table

inline constexpr uint16_t AF_INET_FAMILY = 2;

struct MibUnicastIpAddressRow {
  uint16_t family;       // AF_INET_FAMILY
  uint32_t ipv4Address;  // network byte order
  uint32_t interfaceIndex;
};
struct MibUnicastIpAddressTable {
  uint32_t numEntries;
  MibUnicastIpAddressRow table[1];
};

// The IPv4 unicast addresses of this computer, in the order of its
// interfaces (see the configuration above). Free the table with freeMibTable.
NtStatus getUnicastIpAddressTable(uint16_t family, MibUnicastIpAddressTable** table);
void freeMibTable(void* table);

}  // namespace platform::wdm

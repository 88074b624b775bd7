#pragma once
// The device connection wire format, spoken by the device host
// (platform/kernel/) and by the device files of the user side
// (platform/device_io.cpp). Both depend on this one definition; neither
// depends on the other.
//
// A connection is an AF_UNIX SOCK_SEQPACKET socket: every message arrives whole
// or not at all. A message is a 40-byte header followed by a payload (request
// input or reply output bytes). docs/device-host.md describes the exchange.
// The same file names the device interface files of the system root.

#include <sys/socket.h>
#include <sys/un.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/guid.h"
#include "platform/unique_fd.h"

namespace platform::wire {

static_assert(std::endian::native == std::endian::little, "the wire format is little-endian");

enum MessageType : uint16_t {
  kCreated = 1,     // host → caller: the create callback's status, first message of a connection
  kRequest = 2,     // caller → host: device I/O control (status = code, count = output capacity)
  kReply = 3,       // host → caller: status, count = bytes returned, payload = output bytes
  kCompletion = 4,  // host → caller: a pending request's final reply (same layout as kReply)
  kQuery = 5,       // host → caller: resolve a handle value or an address range during a request
  kAnswer = 6,      // caller → host: the query's result, with a descriptor attached on success
};

inline constexpr uint16_t kFlagPending = 1;      // kReply: the request completes later
inline constexpr uint16_t kFlagManualReset = 1;  // kAnswer to an event query

inline constexpr uint32_t kQueryEvent = 1;   // value = handle value
inline constexpr uint32_t kQueryMemory = 2;  // value = address, length = byte count

struct MessageHeader {
  uint32_t size = 0;  // whole message, header included; must equal the bytes received
  uint16_t type = 0;
  uint16_t flags = 0;
  uint32_t id = 0;      // request id chosen by the caller; queries and answers carry their request's id
  uint32_t status = 0;  // request: control code; reply, completion, created, answer: status; query: kind
  uint32_t count = 0;   // request: output capacity; reply and completion: bytes returned
  uint32_t serial = 0;  // query: its number on the connection; answer: the number of the query it answers
  uint64_t value = 0;   // query: handle value or address; answer: offset of the address in the block
  uint64_t length = 0;  // query: range length; answer: size of the block
};
static_assert(sizeof(MessageHeader) == 40);

inline constexpr size_t kHeaderSize = sizeof(MessageHeader);
// Largest input or output of one request; the biggest request in the system is
// under 40 KB. Kept within what a socket carries as one message by default.
inline constexpr uint32_t kMaxPayload = 256 * 1024;
inline constexpr size_t kMaxMessage = kHeaderSize + kMaxPayload;
inline constexpr int kSocketBufferSize = 1024 * 1024;

// Names of device interfaces: 1 to 80 characters of letters, digits and
// "{}-_#", compared without regard to ASCII case. The socket, metadata and
// lock files carry the lower-case form.
inline constexpr size_t kMaxLinkName = 80;
inline constexpr const char* kDevicesDirectory = "devices";
inline constexpr const char* kInfoSuffix = ".info";
inline constexpr const char* kLockSuffix = ".lock";

// The file name for a link name, or "" when the name is not acceptable.
std::string linkFileName(std::u16string_view link);

// The metadata file of an interface: "<file name>.<link name>.<class>.info".
// Everything a watcher reports is in the name itself, so that an interface
// removed at once after its arrival is still reported with its class.
std::string metadataFileName(std::u16string_view link, const Guid& interfaceClass);

// Reads a metadata file name back; false for any other name.
bool parseMetadataFileName(std::string_view fileName, std::u16string* link, Guid* interfaceClass);

// A socket address that reaches `name` inside the directory open as `dirFd`,
// whatever the directory's own path length.
bool socketAddressIn(int dirFd, const std::string& name, sockaddr_un* address);

void setSocketBuffers(int fd);

// Sends one record made of `count` pieces, with a descriptor when passFd >= 0.
// `flags` are added to MSG_NOSIGNAL (MSG_DONTWAIT for a sender that must not
// block). Returns the bytes sent, or -1 with errno set.
ssize_t sendRecord(int fd, iovec* pieces, size_t count, int passFd = -1, int flags = 0);

// Sends one message (header and payload); false with errno set.
bool sendMessage(int fd, MessageHeader header, const void* payload, size_t payloadSize, int passFd = -1,
                 int flags = 0);

// The bytes of one message (header and payload) as one block, for a sender
// that keeps it to send later.
std::vector<uint8_t> encodeMessage(MessageHeader header, const void* payload, size_t payloadSize);

struct Received {
  enum Kind { kMessage, kEndOfFile, kError } kind = kError;
  size_t size = 0;         // bytes of the message (also when it did not fit)
  bool truncated = false;  // the message was larger than the buffer
  std::vector<UniqueFd> fds;
};

// Receives one message into `buffer`. Descriptors that came with it are
// returned owned, so that unexpected ones are closed by the caller's scope.
// `flags` are added to the receive flags (MSG_DONTWAIT for a reader that
// must not block; kError with errno EAGAIN when nothing is waiting).
Received receiveMessage(int fd, void* buffer, size_t capacity, int flags = 0);

// The size of the next message without taking it: 0 at the end of the
// connection, -1 with errno set on an error (EAGAIN when nothing is waiting).
ssize_t nextMessageSize(int fd, int flags = 0);

}  // namespace platform::wire

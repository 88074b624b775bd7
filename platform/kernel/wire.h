#pragma once
// The device connection wire format, shared by the device host (kernel side)
// and the device file code of the user side. Header-only so that both sides
// use one definition without a link dependency between them.
//
// A connection is an AF_UNIX SOCK_SEQPACKET socket: every message arrives whole
// or not at all. A message is a 40-byte header followed by a payload (request
// input or reply output bytes). docs/device-host.md describes the exchange.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
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
  uint32_t reserved = 0;
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
inline std::string linkFileName(std::u16string_view link) {
  if (link.empty() || link.size() > kMaxLinkName) return {};
  std::string name;
  for (char16_t c : link) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                    c == u'{' || c == u'}' || c == u'-' || c == u'_' || c == u'#';
    if (!ok) return {};
    name.push_back(static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c));
  }
  return name;
}

// The metadata file of an interface: "<file name>.<link name>.<class>.info".
// Everything a watcher reports is in the name itself, so that an interface
// removed at once after its arrival is still reported with its class.
inline std::string metadataFileName(std::u16string_view link, const Guid& interfaceClass) {
  const std::string name = linkFileName(link);
  if (name.empty()) return {};
  return name + "." + std::string(link.begin(), link.end()) + "." + guidToString(interfaceClass) + kInfoSuffix;
}

// Reads a metadata file name back; false for any other name.
inline bool parseMetadataFileName(std::string_view fileName, std::u16string* link, Guid* interfaceClass) {
  const std::string_view suffix = kInfoSuffix;
  if (fileName.size() <= suffix.size() || fileName.substr(fileName.size() - suffix.size()) != suffix) return false;
  fileName.remove_suffix(suffix.size());
  const size_t classDot = fileName.rfind('.');
  if (classDot == std::string_view::npos || !parseGuid(fileName.substr(classDot + 1), interfaceClass)) return false;
  fileName = fileName.substr(0, classDot);
  const size_t linkDot = fileName.find('.');
  if (linkDot == std::string_view::npos) return false;
  const std::u16string parsed(fileName.begin() + static_cast<ptrdiff_t>(linkDot) + 1, fileName.end());
  if (linkFileName(parsed) != fileName.substr(0, linkDot)) return false;
  *link = parsed;
  return true;
}

// A socket address that reaches `name` inside the directory open as `dirFd`,
// whatever the directory's own path length.
inline bool socketAddressIn(int dirFd, const std::string& name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  const std::string path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

inline void setSocketBuffers(int fd) {
  const int size = kSocketBufferSize;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

// Sends one message, optionally passing a descriptor. False with errno set.
// Sends one record made of `count` pieces, with a descriptor when passFd >= 0.
// Returns the bytes sent, or -1 with errno set.
inline ssize_t sendRecord(int fd, iovec* pieces, size_t count, int passFd = -1) {
  msghdr msg{};
  msg.msg_iov = pieces;
  msg.msg_iovlen = count;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (passFd >= 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = SOL_SOCKET;
    cmsg->cmsg_type = SCM_RIGHTS;
    cmsg->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cmsg), &passFd, sizeof(int));
  }
  for (;;) {
    const ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (sent >= 0 || errno != EINTR) return sent;
  }
}

inline bool sendMessage(int fd, MessageHeader header, const void* payload, size_t payloadSize, int passFd = -1) {
  header.size = static_cast<uint32_t>(kHeaderSize + payloadSize);
  iovec iov[2] = {{&header, kHeaderSize}, {const_cast<void*>(payload), payloadSize}};
  return sendRecord(fd, iov, payloadSize > 0 ? 2 : 1, passFd) >= 0;
}

struct Received {
  enum Kind { kMessage, kEndOfFile, kError } kind = kError;
  size_t size = 0;         // bytes of the message (also when it did not fit)
  bool truncated = false;  // the message was larger than the buffer
  std::vector<UniqueFd> fds;
};

// Receives one message into `buffer`. Descriptors that came with it are
// returned owned, so that unexpected ones are closed by the caller's scope.
inline Received receiveMessage(int fd, void* buffer, size_t capacity) {
  constexpr int kMaxFds = 8;
  iovec iov{buffer, capacity};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxFds)];
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  Received result;
  ssize_t n;
  do {
    n = ::recvmsg(fd, &msg, MSG_TRUNC | MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return result;
  for (cmsghdr* cmsg = CMSG_FIRSTHDR(&msg); cmsg != nullptr; cmsg = CMSG_NXTHDR(&msg, cmsg)) {
    if (cmsg->cmsg_level != SOL_SOCKET || cmsg->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (cmsg->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int received;
      std::memcpy(&received, CMSG_DATA(cmsg) + i * sizeof(int), sizeof(int));
      result.fds.emplace_back(received);
    }
  }
  if (n == 0) {
    result.kind = Received::kEndOfFile;
    return result;
  }
  result.kind = Received::kMessage;
  result.size = static_cast<size_t>(n);
  result.truncated = (msg.msg_flags & MSG_TRUNC) != 0 || static_cast<size_t>(n) > capacity;
  return result;
}

}  // namespace platform::wire

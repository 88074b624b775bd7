#include "platform/device_wire.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace platform::wire {

std::string linkFileName(std::u16string_view link) {
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

std::string metadataFileName(std::u16string_view link, const Guid& interfaceClass) {
  const std::string name = linkFileName(link);
  if (name.empty()) return {};
  return name + "." + std::string(link.begin(), link.end()) + "." + guidToString(interfaceClass) + kInfoSuffix;
}

bool parseMetadataFileName(std::string_view fileName, std::u16string* link, Guid* interfaceClass) {
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

bool socketAddressIn(int dirFd, const std::string& name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  const std::string path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

void setSocketBuffers(int fd) {
  const int size = kSocketBufferSize;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

ssize_t sendRecord(int fd, iovec* pieces, size_t count, int passFd, int flags) {
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
    const ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL | flags);
    if (sent >= 0 || errno != EINTR) return sent;
  }
}

bool sendMessage(int fd, MessageHeader header, const void* payload, size_t payloadSize, int passFd, int flags) {
  header.size = static_cast<uint32_t>(kHeaderSize + payloadSize);
  iovec iov[2] = {{&header, kHeaderSize}, {const_cast<void*>(payload), payloadSize}};
  return sendRecord(fd, iov, payloadSize > 0 ? 2 : 1, passFd, flags) >= 0;
}

std::vector<uint8_t> encodeMessage(MessageHeader header, const void* payload, size_t payloadSize) {
  header.size = static_cast<uint32_t>(kHeaderSize + payloadSize);
  std::vector<uint8_t> bytes(kHeaderSize + payloadSize);
  std::memcpy(bytes.data(), &header, kHeaderSize);
  if (payloadSize > 0) std::memcpy(bytes.data() + kHeaderSize, payload, payloadSize);
  return bytes;
}

Received receiveMessage(int fd, void* buffer, size_t capacity, int flags) {
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
    n = ::recvmsg(fd, &msg, MSG_TRUNC | MSG_CMSG_CLOEXEC | flags);
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

ssize_t nextMessageSize(int fd, int flags) {
  char probe;
  for (;;) {
    const ssize_t n = ::recv(fd, &probe, sizeof probe, MSG_PEEK | MSG_TRUNC | flags);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace platform::wire

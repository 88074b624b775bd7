#pragma once
// A connection to the test driver that speaks the wire format by hand, for
// tests that send what the device files never would. Free of test-framework
// assertions, so that hostile callers in child processes can use it too:
// every step returns whether it worked.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/device_wire.h"
#include "platform/system_root.h"
#include "platform/unique_fd.h"
#include "tests/kernel/test_driver_protocol.h"

namespace kernel_testing {

class RawConnection {
 public:
  // Connects and reads the host's "created" message; see connected().
  RawConnection() {
    namespace wire = platform::wire;
    platform::UniqueFd dir(::open((platform::systemRoot() / wire::kDevicesDirectory).c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    sockaddr_un address;
    if (!wire::socketAddressIn(dir.get(), wire::linkFileName(test_driver::kLinkName), &address)) return;
    fd_.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    wire::setSocketBuffers(fd_.get());
    if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return;
    wire::MessageHeader created;
    connected_ = receive(&created) && created.type == wire::kCreated && created.status == 0;
  }

  bool connected() const { return connected_; }
  int fd() const { return fd_.get(); }
  void close() { fd_.reset(); }

  bool sendBytes(const void* data, size_t size, int passFd = -1) {
    iovec iov{const_cast<void*>(data), size};
    return platform::wire::sendRecord(fd_.get(), &iov, 1, passFd) == static_cast<ssize_t>(size);
  }

  // `flags` MSG_DONTWAIT: false with errno EAGAIN once the host stops reading.
  bool request(uint32_t id, uint32_t code, const void* input, size_t inputSize, uint32_t capacity, int flags = 0) {
    platform::wire::MessageHeader header;
    header.type = platform::wire::kRequest;
    header.id = id;
    header.status = code;
    header.count = capacity;
    return platform::wire::sendMessage(fd_.get(), header, input, inputSize, -1, flags);
  }

  // An answer to the query numbered `serial` of request `id`.
  bool answer(uint32_t id, uint32_t serial, uint32_t status, uint64_t value, uint64_t length, int passFd) {
    platform::wire::MessageHeader header;
    header.type = platform::wire::kAnswer;
    header.id = id;
    header.serial = serial;
    header.status = status;
    header.value = value;
    header.length = length;
    return platform::wire::sendMessage(fd_.get(), header, nullptr, 0, passFd);
  }

  // Asks the test driver to keep an event (request `id`, handle value 0x40)
  // and receives the host's query about it.
  bool requestEventQuery(uint32_t id, platform::wire::MessageHeader* query) {
    const uint64_t handle = 0x40;
    return request(id, test_driver::kKeepEvent, &handle, sizeof handle, 0) && receive(query) &&
           query->type == platform::wire::kQuery && query->id == id;
  }

  // The next message within `timeoutMs`.
  bool receive(platform::wire::MessageHeader* header, std::vector<uint8_t>* payload = nullptr,
               int timeoutMs = 5000) {
    namespace wire = platform::wire;
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    std::vector<uint8_t> buffer(wire::kMaxMessage);
    const wire::Received received = wire::receiveMessage(fd_.get(), buffer.data(), buffer.size());
    if (received.kind != wire::Received::kMessage || received.size < wire::kHeaderSize) return false;
    std::memcpy(header, buffer.data(), wire::kHeaderSize);
    if (payload != nullptr) payload->assign(buffer.begin() + wire::kHeaderSize, buffer.begin() + received.size);
    return true;
  }

 private:
  platform::UniqueFd fd_;
  bool connected_ = false;
};

// A memory file of `size` bytes (sparse), sealed with `seals` when non-zero.
inline platform::UniqueFd memoryFile(uint64_t size, int seals, unsigned extraFlags = 0) {
  platform::UniqueFd fd(::memfd_create("test", MFD_CLOEXEC | MFD_ALLOW_SEALING | extraFlags));
  if (!fd.valid() || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return {};
  if (seals != 0 && ::fcntl(fd.get(), F_ADD_SEALS, seals) != 0) return {};
  return fd;
}

}  // namespace kernel_testing

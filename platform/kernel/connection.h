#pragma once
// Host side of one connection to a device interface: the file object, its
// thread, and the request, query and completion exchange with the caller.

#include <sys/types.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/driver.h"
#include "platform/kernel/wire.h"
#include "platform/unique_fd.h"

namespace platform::kernel {

// What a connection needs of its interface; shared so that a connection
// outlives a withdrawn interface safely.
struct InterfaceEndpoint {
  DeviceInterfaceInfo info;
  DeviceCallbacks callbacks;
};

// The endpoint whose connection the calling thread serves, or null.
const InterfaceEndpoint* servingEndpoint();

class Connection final : public FileObject, public std::enable_shared_from_this<Connection> {
 public:
  Connection(std::shared_ptr<const InterfaceEndpoint> endpoint, UniqueFd fd, uint32_t processId);
  ~Connection() override;

  const std::u16string& linkName() const override { return endpoint_->info.linkName; }
  uint32_t processId() const override { return processId_; }

  // Starts the connection's thread: create, then requests until end of file.
  void start();
  // Ends the connection from the host's side; the thread runs the cleanup.
  void shutdown();
  void join();
  bool finished() const { return finished_.load(); }

  // Used by the request objects.
  NtStatus resolve(uint32_t requestId, uint32_t kind, uint64_t value, uint64_t length, UniqueFd* fd,
                   wire::MessageHeader* answer);
  void send(const wire::MessageHeader& header, const void* payload, size_t size, int passFd = -1);

  const InterfaceEndpoint& endpoint() const { return *endpoint_; }

 private:
  void run();
  void serve();
  // Checks a received message; sends a failure reply for a malformed one.
  bool accept(const wire::Received& received, const uint8_t* buffer, wire::MessageHeader* header);
  void failRequest(const uint8_t* buffer, size_t size, NtStatus status);
  void handleRequest(const wire::MessageHeader& header, const uint8_t* input);

  std::shared_ptr<const InterfaceEndpoint> endpoint_;
  UniqueFd fd_;
  uint32_t processId_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> endOfFile_{false};
  std::mutex sendMutex_;
  std::mutex resolveMutex_;
  std::vector<uint8_t> buffer_;        // the message being served
  std::vector<uint8_t> queryBuffer_;   // messages read while waiting for an answer
  std::deque<std::vector<uint8_t>> backlog_;  // requests that arrived while waiting for an answer
  std::vector<uint8_t> output_;
};

}  // namespace platform::kernel

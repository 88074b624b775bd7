#pragma once
// Host side of one connection to a device interface: the file object, its
// thread, and the request, query and completion exchange with the caller.
//
// The connection's thread is the only one that reads its socket; any thread
// may send on it (pending requests complete from driver threads). Sending
// never blocks: what the socket does not take at once waits in the
// connection's output queue, which its thread writes as the caller reads, and
// while anything waits there the thread reads no new request. A caller that
// does not read its answers so slows only itself.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/device_wire.h"
#include "platform/kernel/driver.h"
#include "platform/kernel/host_limits.h"
#include "platform/kernel/host_log.h"
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

// What the host gives every connection.
struct ConnectionSettings {
  HostLimits limits;
  std::shared_ptr<HostLog> log;
  // Called once on the connection's thread when it has finished serving,
  // before its socket closes.
  std::function<void()> finished;
};

class Connection final : public FileObject, public std::enable_shared_from_this<Connection> {
 public:
  Connection(std::shared_ptr<const InterfaceEndpoint> endpoint, UniqueFd fd, uint32_t processId,
             ConnectionSettings settings);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::u16string& linkName() const override { return endpoint_->info.linkName; }
  uint32_t processId() const override { return processId_; }

  // Starts the connection's thread: create, then requests until end of file.
  // 0, or the errno value of what could not be created (nothing runs then).
  int start();
  // Tells the caller that the connection is refused with `status`, and closes
  // it; for a connection that was never started.
  void refuse(NtStatus status);
  // Ends the connection from the host's side; the thread runs the cleanup.
  void shutdown();
  void join();
  bool finished() const { return finished_.load(); }

  // Used by the request objects. Sending never blocks (see above).
  void send(const wire::MessageHeader& header, const void* payload, size_t size);
  // A request's final answer has been sent: it no longer counts against the
  // connection's limits.
  void release(uint64_t weight);
  NtStatus resolve(uint32_t requestId, uint32_t kind, uint64_t value, uint64_t length, UniqueFd* fd,
                   wire::MessageHeader* answer);

 private:
  struct Message {
    wire::MessageHeader header;
    std::vector<uint8_t> bytes;  // the whole message, header included
    std::vector<UniqueFd> fds;
  };
  // kNothing: no message waiting; kSkipped: a malformed one was answered.
  enum class Next { kMessage, kEnd, kTimeout, kNothing, kSkipped };
  using Clock = std::chrono::steady_clock;

  void run();
  void serve();
  // Waits for the next well-formed message, writing queued output meanwhile.
  // Malformed ones are answered and skipped.
  Next nextMessage(Clock::time_point deadline, Message* message);
  // Takes one message off the socket.
  Next receive(Message* message);
  // Fills the header; answers a malformed message with a failure.
  bool wellFormed(Message* message, size_t receivedSize, bool truncated);
  // Accepts a request within the connection's limits, or fails it at once.
  bool admit(const Message& request);
  void failRequest(const uint8_t* bytes, size_t size, NtStatus status);
  void handleRequest(const Message& request);
  // Writes queued output while the socket takes it.
  void flushOutput();
  bool outputWaiting();
  void wake();
  void closeSocket();

  const std::shared_ptr<const InterfaceEndpoint> endpoint_;
  const uint32_t processId_;
  const ConnectionSettings settings_;
  std::thread thread_;
  std::atomic<bool> finished_{false};

  // Guards the socket's lifetime, the output queue and the limits' counts.
  std::mutex mutex_;
  UniqueFd fd_;
  UniqueFd wakeFd_;  // tells the thread that output was queued or the host ends the connection
  bool ending_ = false;
  std::deque<std::vector<uint8_t>> output_;
  uint32_t outstandingRequests_ = 0;
  uint64_t outstandingBytes_ = 0;

  // The connection's thread only.
  bool endOfFile_ = false;
  uint32_t querySerial_ = 0;
  std::deque<Message> backlog_;  // requests that arrived while a query was open
};

}  // namespace platform::kernel

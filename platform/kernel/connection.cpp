#include "platform/kernel/connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <exception>
#include <system_error>

#include "platform/kernel/caller_event.h"
#include "platform/kernel/caller_memory.h"

namespace platform::kernel {

namespace {

thread_local const InterfaceEndpoint* t_servingEndpoint = nullptr;
thread_local const Connection* t_servingConnection = nullptr;

// What a request holds of its connection's limits until its final answer.
uint64_t weightOf(const wire::MessageHeader& header) { return uint64_t{header.size} + header.count; }

class PendingImpl final : public PendingRequest {
 public:
  PendingImpl(std::weak_ptr<Connection> connection, uint32_t id, uint32_t capacity, uint64_t weight)
      : connection_(std::move(connection)), id_(id), capacity_(capacity), weight_(weight) {}

  uint32_t outputCapacity() const override { return capacity_; }

  void complete(NtStatus status, const void* output, uint32_t size) override {
    std::lock_guard lock(mutex_);
    if (completed_) return;
    completed_ = true;
    size = output != nullptr ? std::min(size, capacity_) : 0;
    if (!announced_) {
      // Completed inside the dispatch: sent after the pending reply.
      earlyStatus_ = status;
      const auto* bytes = static_cast<const uint8_t*>(output);
      earlyOutput_.assign(bytes, bytes + size);
      return;
    }
    sendCompletion(status, output, size);
  }

  // Tells the caller the request is pending; runs after the dispatch returned.
  void announce() {
    std::lock_guard lock(mutex_);
    if (auto connection = connection_.lock()) {
      wire::MessageHeader reply;
      reply.type = wire::kReply;
      reply.flags = wire::kFlagPending;
      reply.id = id_;
      reply.status = STATUS_PENDING;
      connection->send(reply, nullptr, 0);
    }
    announced_ = true;
    if (completed_) sendCompletion(earlyStatus_, earlyOutput_.data(), earlyOutput_.size());
  }

 private:
  void sendCompletion(NtStatus status, const void* output, size_t size) {
    auto connection = connection_.lock();
    if (!connection) return;
    wire::MessageHeader message;
    message.type = wire::kCompletion;
    message.id = id_;
    message.status = status;
    message.count = static_cast<uint32_t>(size);
    connection->send(message, output, size);
    connection->release(weight_);
  }

  std::weak_ptr<Connection> connection_;
  const uint32_t id_;
  const uint32_t capacity_;
  const uint64_t weight_;
  std::mutex mutex_;
  bool announced_ = false;
  bool completed_ = false;
  NtStatus earlyStatus_ = STATUS_SUCCESS;
  std::vector<uint8_t> earlyOutput_;
};

class RequestImpl final : public IoRequest {
 public:
  RequestImpl(Connection& connection, const wire::MessageHeader& header, const uint8_t* input, uint8_t* output)
      : connection_(connection), header_(header), input_(input), output_(output) {}

  uint32_t code() const override { return header_.status; }
  const uint8_t* input() const override { return input_; }
  uint32_t inputSize() const override { return header_.size - static_cast<uint32_t>(wire::kHeaderSize); }
  uint8_t* output() override { return output_; }
  uint32_t outputCapacity() const override { return header_.count; }
  void setInformation(uint32_t bytes) override { information_ = std::min(bytes, header_.count); }
  uint32_t information() const { return information_; }

  NtStatus referenceEvent(uint64_t handleValue, std::shared_ptr<KernelEvent>* event) override {
    if (event == nullptr || !resolvable()) return STATUS_INVALID_PARAMETER;
    UniqueFd fd;
    wire::MessageHeader answer;
    const NtStatus status = connection_.resolve(header_.id, wire::kQueryEvent, handleValue, 0, &fd, &answer);
    if (status == STATUS_IO_TIMEOUT) return status;
    if (status != STATUS_SUCCESS || !isEventFd(fd.get())) return STATUS_INVALID_HANDLE;
    *event = std::make_shared<CallerEvent>(std::move(fd), (answer.flags & wire::kFlagManualReset) != 0);
    return STATUS_SUCCESS;
  }

  NtStatus mapUserMemory(uint64_t address, uint64_t length, std::shared_ptr<MappedMemory>* memory) override {
    if (memory == nullptr || !resolvable() || length == 0) return STATUS_INVALID_PARAMETER;
    UniqueFd fd;
    wire::MessageHeader answer;
    const NtStatus status = connection_.resolve(header_.id, wire::kQueryMemory, address, length, &fd, &answer);
    if (status == STATUS_IO_TIMEOUT) return status;
    if (status != STATUS_SUCCESS) return STATUS_INVALID_PARAMETER;
    return mapCallerMemory(fd.get(), answer.value, length, memory);
  }

  std::shared_ptr<PendingRequest> markPending() override {
    if (pending_) return nullptr;
    pending_ = std::make_shared<PendingImpl>(connection_.weak_from_this(), header_.id, header_.count,
                                             weightOf(header_));
    return pending_;
  }

  void endDispatch() { dispatching_ = false; }
  const std::shared_ptr<PendingImpl>& pending() const { return pending_; }

 private:
  // Questions to the caller go out only during the dispatch, from the
  // connection's own thread (which alone reads the answers).
  bool resolvable() const { return dispatching_ && t_servingConnection == &connection_; }

  Connection& connection_;
  wire::MessageHeader header_;
  const uint8_t* input_;
  uint8_t* output_;
  uint32_t information_ = 0;
  bool dispatching_ = true;
  std::shared_ptr<PendingImpl> pending_;
};

}  // namespace

const InterfaceEndpoint* servingEndpoint() { return t_servingEndpoint; }

Connection::Connection(std::shared_ptr<const InterfaceEndpoint> endpoint, UniqueFd fd, uint32_t processId,
                       ConnectionSettings settings)
    : endpoint_(std::move(endpoint)), processId_(processId), settings_(std::move(settings)), fd_(std::move(fd)) {}

Connection::~Connection() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      shutdown();
      thread_.join();
    }
  }
}

int Connection::start() {
  wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd_.valid()) return errno;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error& e) {
    wakeFd_.reset();
    return e.code().value() != 0 ? e.code().value() : EAGAIN;
  }
  return 0;
}

void Connection::refuse(NtStatus status) {
  wire::MessageHeader created;
  created.type = wire::kCreated;
  created.status = status;
  std::lock_guard lock(mutex_);
  // A fresh socket always has room for this one small message.
  wire::sendMessage(fd_.get(), created, nullptr, 0, -1, MSG_DONTWAIT);
  fd_.reset();
}

void Connection::shutdown() {
  std::lock_guard lock(mutex_);
  ending_ = true;
  if (fd_.valid()) ::shutdown(fd_.get(), SHUT_RDWR);
  if (wakeFd_.valid()) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
  }
}

void Connection::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Connection::wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
}

void Connection::send(const wire::MessageHeader& header, const void* payload, size_t size) {
  std::lock_guard lock(mutex_);
  if (!fd_.valid() || ending_) return;
  if (output_.empty()) {
    if (wire::sendMessage(fd_.get(), header, payload, size, -1, MSG_DONTWAIT)) return;
    // Any other failure means the caller is gone; its thread sees the end.
    if (errno != EAGAIN && errno != EWOULDBLOCK) return;
  }
  output_.push_back(wire::encodeMessage(header, payload, size));
  wake();
}

void Connection::release(uint64_t weight) {
  std::lock_guard lock(mutex_);
  if (outstandingRequests_ > 0) --outstandingRequests_;
  outstandingBytes_ -= std::min(outstandingBytes_, weight);
}

bool Connection::outputWaiting() {
  std::lock_guard lock(mutex_);
  return !output_.empty();
}

void Connection::flushOutput() {
  std::lock_guard lock(mutex_);
  while (!output_.empty() && fd_.valid()) {
    std::vector<uint8_t>& bytes = output_.front();
    iovec piece{bytes.data(), bytes.size()};
    if (wire::sendRecord(fd_.get(), &piece, 1, -1, MSG_DONTWAIT) < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      output_.clear();  // the caller is gone
      return;
    }
    output_.pop_front();
  }
}

void Connection::closeSocket() {
  std::lock_guard lock(mutex_);
  ending_ = true;
  output_.clear();
  fd_.reset();
}

void Connection::run() {
  t_servingEndpoint = endpoint_.get();
  t_servingConnection = this;
  const std::string who = "connection of process " + std::to_string(processId_) + " to " +
                          std::string(endpoint_->info.linkName.begin(), endpoint_->info.linkName.end());
  try {
    NtStatus status = STATUS_SUCCESS;
    if (endpoint_->callbacks.create) {
      try {
        status = endpoint_->callbacks.create(*this);
      } catch (...) {
        settings_.log->write(who + ": the driver's create callback failed: " +
                             describeException(std::current_exception()) + "; the open is refused");
        status = STATUS_UNSUCCESSFUL;
      }
    }
    wire::MessageHeader created;
    created.type = wire::kCreated;
    created.status = status;
    send(created, nullptr, 0);
    if (status == STATUS_SUCCESS) {
      serve();
      if (endpoint_->callbacks.cleanup) {
        try {
          endpoint_->callbacks.cleanup(*this);
        } catch (...) {
          settings_.log->write(who + ": the driver's cleanup callback failed: " +
                               describeException(std::current_exception()));
        }
      }
    }
    flushOutput();  // what the socket takes of the last answers
  } catch (...) {
    settings_.log->write(who + ": ended by a failure of the host: " + describeException(std::current_exception()));
  }
  finished_.store(true);
  if (settings_.finished) settings_.finished();
  closeSocket();
}

void Connection::serve() {
  while (!endOfFile_) {
    if (!backlog_.empty()) {
      Message request = std::move(backlog_.front());
      backlog_.pop_front();
      handleRequest(request);
      continue;
    }
    Message message;
    if (nextMessage(Clock::time_point::max(), &message) != Next::kMessage) break;
    if (message.header.type == wire::kAnswer) continue;  // no query is open: a stray answer is dropped
    if (admit(message)) handleRequest(message);
  }
}

Connection::Next Connection::nextMessage(Clock::time_point deadline, Message* message) {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (ending_) return Next::kEnd;
    }
    flushOutput();
    const bool blocked = outputWaiting();
    if (!blocked) {
      const Next next = receive(message);
      if (next == Next::kSkipped) continue;
      if (next != Next::kNothing) return next;
    }
    // Nothing to read, or output waiting for the caller to read: wait for the
    // socket, a wake-up or the deadline.
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Next::kTimeout;
      timeout = static_cast<int>(std::min<int64_t>(left, 60'000));
    }
    pollfd fds[2] = {{fd_.get(), static_cast<short>(blocked ? POLLOUT : POLLIN), 0}, {wakeFd_.get(), POLLIN, 0}};
    if (::poll(fds, 2, timeout) < 0 && errno != EINTR) return Next::kEnd;
    if (fds[1].revents != 0) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_.get(), &count, sizeof count);
    }
    // A caller that closed while its answers wait unread will never read them.
    if (blocked && (fds[0].revents & (POLLHUP | POLLERR)) != 0) return Next::kEnd;
  }
}

Connection::Next Connection::receive(Message* message) {
  const ssize_t size = wire::nextMessageSize(fd_.get(), MSG_DONTWAIT);
  if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? Next::kNothing : Next::kEnd;
  // A zero-length record counts as the end of the connection.
  if (size == 0) return Next::kEnd;
  // The buffer is as large as the message, so an idle connection holds none.
  const bool tooLarge = static_cast<size_t>(size) > wire::kMaxMessage;
  message->bytes.resize(tooLarge ? wire::kHeaderSize : static_cast<size_t>(size));
  wire::Received received =
      wire::receiveMessage(fd_.get(), message->bytes.data(), message->bytes.size(), MSG_DONTWAIT);
  if (received.kind != wire::Received::kMessage) return Next::kEnd;
  message->fds = std::move(received.fds);
  return wellFormed(message, received.size, received.truncated) ? Next::kMessage : Next::kSkipped;
}

bool Connection::wellFormed(Message* message, size_t receivedSize, bool truncated) {
  const size_t available = std::min(receivedSize, message->bytes.size());
  if (truncated || receivedSize < wire::kHeaderSize) {
    failRequest(message->bytes.data(), available, STATUS_INVALID_PARAMETER);
    return false;
  }
  wire::MessageHeader& header = message->header;
  std::memcpy(&header, message->bytes.data(), wire::kHeaderSize);
  const bool sizeMatches = header.size == receivedSize;
  const bool knownType = header.type == wire::kRequest || header.type == wire::kAnswer;
  const bool capacityOk = header.type != wire::kRequest || header.count <= wire::kMaxPayload;
  if (!sizeMatches || !knownType || !capacityOk) {
    failRequest(message->bytes.data(), available, STATUS_INVALID_PARAMETER);
    return false;
  }
  return true;
}

bool Connection::admit(const Message& request) {
  const uint64_t weight = weightOf(request.header);
  {
    std::lock_guard lock(mutex_);
    const HostLimits& limits = settings_.limits;
    const bool fits = outstandingRequests_ == 0 || (outstandingRequests_ < limits.requestsPerConnection &&
                                                     outstandingBytes_ + weight <= limits.bytesPerConnection);
    if (fits) {
      ++outstandingRequests_;
      outstandingBytes_ += weight;
      return true;
    }
  }
  failRequest(request.bytes.data(), request.bytes.size(), STATUS_INSUFFICIENT_RESOURCES);
  return false;
}

void Connection::failRequest(const uint8_t* bytes, size_t size, NtStatus status) {
  wire::MessageHeader reply;
  reply.type = wire::kReply;
  reply.status = status;
  if (size >= offsetof(wire::MessageHeader, id) + sizeof reply.id) {
    std::memcpy(&reply.id, bytes + offsetof(wire::MessageHeader, id), sizeof reply.id);
  }
  send(reply, nullptr, 0);
}

void Connection::handleRequest(const Message& request) {
  const wire::MessageHeader& header = request.header;
  std::vector<uint8_t> output(header.count, 0);
  RequestImpl dispatched(*this, header, request.bytes.data() + wire::kHeaderSize, output.data());
  NtStatus status = STATUS_INVALID_DEVICE_REQUEST;
  if (endpoint_->callbacks.deviceControl) {
    try {
      status = endpoint_->callbacks.deviceControl(*this, dispatched);
    } catch (...) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", header.status);
      settings_.log->write("connection of process " + std::to_string(processId_) +
                           ": the driver's device control callback failed on request " + code + ": " +
                           describeException(std::current_exception()) + "; the request fails");
      status = STATUS_UNSUCCESSFUL;
    }
  }
  dispatched.endDispatch();
  if (dispatched.pending()) {
    dispatched.pending()->announce();
    return;
  }
  wire::MessageHeader reply;
  reply.type = wire::kReply;
  reply.id = header.id;
  reply.status = status;
  reply.count = dispatched.information();
  send(reply, output.data(), reply.count);
  release(weightOf(header));
}

NtStatus Connection::resolve(uint32_t requestId, uint32_t kind, uint64_t value, uint64_t length, UniqueFd* fd,
                             wire::MessageHeader* answer) {
  if (endOfFile_) return STATUS_CANCELLED;
  wire::MessageHeader query;
  query.type = wire::kQuery;
  query.id = requestId;
  query.status = kind;
  query.serial = ++querySerial_;
  query.value = value;
  query.length = length;
  send(query, nullptr, 0);
  const Clock::time_point deadline = Clock::now() + settings_.limits.answerTimeout;
  for (;;) {
    Message message;
    switch (nextMessage(deadline, &message)) {
      case Next::kEnd:
        endOfFile_ = true;
        return STATUS_CANCELLED;
      case Next::kTimeout:
        settings_.log->writeThrottled("connection of process " + std::to_string(processId_) +
                                      ": no answer to the host's question within " +
                                      std::to_string(settings_.limits.answerTimeout.count()) + " ms");
        return STATUS_IO_TIMEOUT;
      default:
        break;
    }
    if (message.header.type == wire::kRequest) {
      if (admit(message)) backlog_.push_back(std::move(message));
      continue;
    }
    // Answers to an earlier question that timed out, or to nothing, are dropped.
    if (message.header.id != requestId || message.header.serial != query.serial) continue;
    if (message.header.status != 0 || message.fds.size() != 1) return STATUS_UNSUCCESSFUL;
    *fd = std::move(message.fds[0]);
    *answer = message.header;
    return STATUS_SUCCESS;
  }
}

}  // namespace platform::kernel

#include "platform/kernel/connection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>

namespace platform::kernel {

namespace {

constexpr size_t kMaxBacklog = 64;

thread_local const InterfaceEndpoint* t_servingEndpoint = nullptr;

class HostEvent final : public KernelEvent {
 public:
  HostEvent(UniqueFd fd, bool manualReset) : fd_(std::move(fd)), manualReset_(manualReset) {}
  void set() override {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_.get(), &one, sizeof one);
  }
  void reset() override {
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(fd_.get(), &count, sizeof count);
  }
  bool manualReset() const override { return manualReset_; }

 private:
  UniqueFd fd_;
  bool manualReset_;
};

class HostMapping final : public MappedMemory {
 public:
  HostMapping(void* base, size_t mapSize, size_t offset, size_t size)
      : base_(base), mapSize_(mapSize), offset_(offset), size_(size) {}
  ~HostMapping() override { ::munmap(base_, mapSize_); }
  uint8_t* data() override { return static_cast<uint8_t*>(base_) + offset_; }
  size_t size() const override { return size_; }

 private:
  void* base_;
  size_t mapSize_;
  size_t offset_;
  size_t size_;
};

bool isEventFd(int fd) {
  char target[64] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 && std::string_view(target, static_cast<size_t>(n)) == "anon_inode:[eventfd]";
}

// A block the caller offers must be a sealed memory file: a file that could
// shrink under our mapping would fault the host.
bool isSealedMemoryFile(int fd, size_t* size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0) return false;
  *size = static_cast<size_t>(st.st_size);
  return true;
}

class PendingImpl final : public PendingRequest {
 public:
  PendingImpl(std::weak_ptr<Connection> connection, uint32_t id, uint32_t capacity)
      : connection_(std::move(connection)), id_(id), capacity_(capacity) {}

  uint32_t outputCapacity() const override { return capacity_; }

  void complete(NtStatus status, const void* output, uint32_t size) override {
    std::lock_guard lock(mutex_);
    if (completed_) return;
    completed_ = true;
    size = std::min(size, capacity_);
    if (!announced_) {
      // Completed inside the dispatch: sent after the pending reply.
      earlyStatus_ = status;
      const auto* bytes = static_cast<const uint8_t*>(output);
      earlyOutput_.assign(bytes, bytes + (output != nullptr ? size : 0));
      return;
    }
    sendCompletion(status, output, output != nullptr ? size : 0);
  }

  // Tells the caller the request is pending; runs after the dispatch returned.
  void announce() {
    std::lock_guard lock(mutex_);
    auto connection = connection_.lock();
    if (connection) {
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
  }

  std::weak_ptr<Connection> connection_;
  uint32_t id_;
  uint32_t capacity_;
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
    if (event == nullptr || !dispatching_) return STATUS_INVALID_PARAMETER;
    UniqueFd fd;
    wire::MessageHeader answer;
    if (connection_.resolve(header_.id, wire::kQueryEvent, handleValue, 0, &fd, &answer) != STATUS_SUCCESS ||
        !isEventFd(fd.get())) {
      return STATUS_INVALID_HANDLE;
    }
    *event = std::make_shared<HostEvent>(std::move(fd), (answer.flags & wire::kFlagManualReset) != 0);
    return STATUS_SUCCESS;
  }

  NtStatus mapUserMemory(uint64_t address, uint64_t length, std::shared_ptr<MappedMemory>* memory) override {
    if (memory == nullptr || !dispatching_ || length == 0) return STATUS_INVALID_PARAMETER;
    UniqueFd fd;
    wire::MessageHeader answer;
    if (connection_.resolve(header_.id, wire::kQueryMemory, address, length, &fd, &answer) != STATUS_SUCCESS) {
      return STATUS_INVALID_PARAMETER;
    }
    size_t fileSize = 0;
    const uint64_t offset = answer.value;
    if (!isSealedMemoryFile(fd.get(), &fileSize) || offset >= fileSize || length > fileSize - offset) {
      return STATUS_INVALID_PARAMETER;
    }
    void* base = ::mmap(nullptr, fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (base == MAP_FAILED) return STATUS_INSUFFICIENT_RESOURCES;
    *memory = std::make_shared<HostMapping>(base, fileSize, static_cast<size_t>(offset), static_cast<size_t>(length));
    return STATUS_SUCCESS;
  }

  std::shared_ptr<PendingRequest> markPending() override {
    if (pending_) return nullptr;
    pending_ = std::make_shared<PendingImpl>(connection_.weak_from_this(), header_.id, header_.count);
    return pending_;
  }

  void endDispatch() { dispatching_ = false; }
  const std::shared_ptr<PendingImpl>& pending() const { return pending_; }

 private:
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

Connection::Connection(std::shared_ptr<const InterfaceEndpoint> endpoint, UniqueFd fd, uint32_t processId)
    : endpoint_(std::move(endpoint)), fd_(std::move(fd)), processId_(processId) {}

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

void Connection::start() {
  thread_ = std::thread([this] { run(); });
}

void Connection::shutdown() { ::shutdown(fd_.get(), SHUT_RDWR); }

void Connection::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Connection::send(const wire::MessageHeader& header, const void* payload, size_t size, int passFd) {
  std::lock_guard lock(sendMutex_);
  // A failed send means the caller is gone; the reader sees the end of file.
  wire::sendMessage(fd_.get(), header, payload, size, passFd);
}

void Connection::run() {
  t_servingEndpoint = endpoint_.get();
  NtStatus status = STATUS_SUCCESS;
  if (endpoint_->callbacks.create) {
    try {
      status = endpoint_->callbacks.create(*this);
    } catch (...) {
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
      }
    }
  }
  shutdown();
  finished_.store(true);
}

void Connection::serve() {
  buffer_.resize(wire::kMaxMessage);
  while (!endOfFile_.load()) {
    if (!backlog_.empty()) {
      const std::vector<uint8_t> message = std::move(backlog_.front());
      backlog_.pop_front();
      wire::MessageHeader header;
      std::memcpy(&header, message.data(), wire::kHeaderSize);
      handleRequest(header, message.data() + wire::kHeaderSize);
      continue;
    }
    const wire::Received received = wire::receiveMessage(fd_.get(), buffer_.data(), buffer_.size());
    if (received.kind != wire::Received::kMessage) break;
    wire::MessageHeader header;
    if (!accept(received, buffer_.data(), &header)) continue;
    if (header.type == wire::kAnswer) continue;  // no query is open: a stray answer is dropped
    handleRequest(header, buffer_.data() + wire::kHeaderSize);
  }
}

bool Connection::accept(const wire::Received& received, const uint8_t* buffer, wire::MessageHeader* header) {
  if (received.truncated || received.size < wire::kHeaderSize) {
    failRequest(buffer, received.size, STATUS_INVALID_PARAMETER);
    return false;
  }
  std::memcpy(header, buffer, wire::kHeaderSize);
  const bool sizeMatches = header->size == received.size;
  const bool knownType = header->type == wire::kRequest || header->type == wire::kAnswer;
  const bool capacityOk = header->type != wire::kRequest || header->count <= wire::kMaxPayload;
  if (!sizeMatches || !knownType || !capacityOk) {
    failRequest(buffer, received.size, STATUS_INVALID_PARAMETER);
    return false;
  }
  return true;
}

void Connection::failRequest(const uint8_t* buffer, size_t size, NtStatus status) {
  wire::MessageHeader reply;
  reply.type = wire::kReply;
  reply.status = status;
  if (size >= offsetof(wire::MessageHeader, id) + sizeof reply.id) {
    std::memcpy(&reply.id, buffer + offsetof(wire::MessageHeader, id), sizeof reply.id);
  }
  send(reply, nullptr, 0);
}

void Connection::handleRequest(const wire::MessageHeader& header, const uint8_t* input) {
  output_.assign(header.count, 0);
  RequestImpl request(*this, header, input, output_.data());
  NtStatus status = STATUS_INVALID_DEVICE_REQUEST;
  if (endpoint_->callbacks.deviceControl) {
    try {
      status = endpoint_->callbacks.deviceControl(*this, request);
    } catch (...) {
      status = STATUS_UNSUCCESSFUL;
    }
  }
  request.endDispatch();
  if (request.pending()) {
    request.pending()->announce();
    return;
  }
  wire::MessageHeader reply;
  reply.type = wire::kReply;
  reply.id = header.id;
  reply.status = status;
  reply.count = request.information();
  send(reply, output_.data(), reply.count);
}

NtStatus Connection::resolve(uint32_t requestId, uint32_t kind, uint64_t value, uint64_t length, UniqueFd* fd,
                             wire::MessageHeader* answer) {
  std::lock_guard lock(resolveMutex_);
  if (endOfFile_.load()) return STATUS_CANCELLED;
  wire::MessageHeader query;
  query.type = wire::kQuery;
  query.id = requestId;
  query.status = kind;
  query.value = value;
  query.length = length;
  send(query, nullptr, 0);
  queryBuffer_.resize(wire::kMaxMessage);
  for (;;) {
    wire::Received received = wire::receiveMessage(fd_.get(), queryBuffer_.data(), queryBuffer_.size());
    if (received.kind != wire::Received::kMessage) {
      endOfFile_.store(true);
      return STATUS_CANCELLED;
    }
    wire::MessageHeader header;
    if (!accept(received, queryBuffer_.data(), &header)) continue;
    if (header.type == wire::kRequest) {
      if (backlog_.size() < kMaxBacklog) {
        backlog_.emplace_back(queryBuffer_.begin(), queryBuffer_.begin() + static_cast<ptrdiff_t>(received.size));
      } else {
        failRequest(queryBuffer_.data(), received.size, STATUS_INSUFFICIENT_RESOURCES);
      }
      continue;
    }
    if (header.id != requestId) continue;  // an answer to nothing we asked
    if (header.status != 0 || received.fds.size() != 1) return STATUS_UNSUCCESSFUL;
    *fd = std::move(received.fds[0]);
    *answer = header;
    return STATUS_SUCCESS;
  }
}

}  // namespace platform::kernel

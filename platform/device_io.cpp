#include "platform/device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/device_wire.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/module_lifetime.h"
#include "platform/shared_memory.h"
#include "platform/system_root.h"
#include "platform/waits.h"

namespace platform {

namespace {

// How long closing a device handle waits for the driver's cleanup.
constexpr std::chrono::seconds kCleanupWait{5};

constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusInsufficientResources = 0xC000009A;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009D;
constexpr uint32_t kStatusCancelled = 0xC0000120;

// One request waiting for its reply or completion.
struct Outstanding {
  void* output = nullptr;
  uint32_t capacity = 0;
  Overlapped* overlapped = nullptr;
  bool pending = false;  // the host answered "pending"; the request completes later
  bool done = false;
  uint32_t status = 0;
  uint32_t information = 0;
};

void publish(Overlapped* overlapped, uint32_t status, uint32_t information) {
  if (overlapped == nullptr) return;
  std::atomic_ref<uint64_t>(overlapped->internalHigh).store(information, std::memory_order_relaxed);
  std::atomic_ref<uint64_t>(overlapped->internal).store(status, std::memory_order_release);
  if (overlapped->event != nullptr) {
    const uint32_t saved = lastError();
    setEvent(overlapped->event);
    setLastError(saved);
  }
}

class DeviceConnection;

// Reads the connections that have pending requests, so that those complete
// (event set) while their callers wait on the event rather than on the socket.
class IoThread {
 public:
  // The process's I/O thread, started on first use; null when it cannot be
  // started (no thread or descriptor left), and tried again next time. A
  // child forked from this process does not inherit the thread: it starts its
  // own (the parent's object is left alone).
  static IoThread* instance() {
    static std::mutex mutex;
    static IoThread* thread = nullptr;
    std::lock_guard lock(mutex);
    if (thread == nullptr || thread->pid_ != ::getpid()) {
      UniqueFd wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
      if (!wakeFd.valid()) return nullptr;
      try {
        thread = new IoThread(std::move(wakeFd));  // lives until exit
      } catch (const std::system_error&) {
        return nullptr;
      }
    }
    return thread;
  }
  void watch(const std::shared_ptr<DeviceConnection>& connection);

 private:
  explicit IoThread(UniqueFd wakeFd) : wakeFd_(std::move(wakeFd)) {
    keepModuleLoaded();
    std::thread([this] { loop(); }).detach();
  }
  void loop();
  void poke() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
  }

  const pid_t pid_ = ::getpid();
  UniqueFd wakeFd_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<DeviceConnection>> watched_;
};

class DeviceConnection : public std::enable_shared_from_this<DeviceConnection> {
 public:
  enum class ReadState { kIdle, kReaderBusy, kNeedsReading };

  explicit DeviceConnection(UniqueFd fd)
      : fd_(std::move(fd)), buffer_(std::make_unique_for_overwrite<uint8_t[]>(wire::kMaxMessage)) {}

  int fd() const { return fd_.get(); }

  // Sends a request and returns once it is done or pending.
  void issue(uint32_t code, const void* input, uint32_t inputSize, const std::shared_ptr<Outstanding>& request) {
    uint32_t id;
    {
      std::lock_guard lock(mutex_);
      if (broken_) {
        request->done = true;
        request->status = brokenStatus_;
        return;
      }
      id = nextId_++;
      if (nextId_ == 0) nextId_ = 1;
      outstanding_[id] = request;
    }
    wire::MessageHeader header;
    header.type = wire::kRequest;
    header.id = id;
    header.status = code;
    header.count = request->capacity;
    if (!send(header, input, inputSize)) {
      const int err = errno;
      std::lock_guard lock(mutex_);
      if (outstanding_.erase(id) > 0) {
        request->done = true;
        request->status = err == EMSGSIZE ? kStatusInsufficientResources : kStatusDeviceNotConnected;
      }
    }
    std::unique_lock lock(mutex_);
    awaitLocked(lock, [&] { return request->done || request->pending; });
  }

  void waitUntilDone(const std::shared_ptr<Outstanding>& request) {
    std::unique_lock lock(mutex_);
    awaitLocked(lock, [&] { return request->done; });
  }

  // Ends the connection from this side; requests in flight are cancelled.
  // Closing is synchronous, as on the original system: the host ends its side
  // only after the driver's cleanup has run, and this waits for that (bounded,
  // so a driver that never finishes its cleanup cannot hang the caller).
  void close() {
    closedLocally_.store(true);
    ::shutdown(fd_.get(), SHUT_WR);
    awaitHostClosed();
    ::shutdown(fd_.get(), SHUT_RDWR);
  }

  ReadState readState() {
    std::lock_guard lock(mutex_);
    if (broken_ || pendingCount_ == 0) return ReadState::kIdle;
    return readerBusy_ ? ReadState::kReaderBusy : ReadState::kNeedsReading;
  }

  // Called by the I/O thread when the socket is readable.
  void readForPending() {
    {
      std::lock_guard lock(mutex_);
      if (readerBusy_ || pendingCount_ == 0) return;
      readerBusy_ = true;
    }
    readOne();
    std::lock_guard lock(mutex_);
    readerBusy_ = false;
    changed_.notify_all();
  }

 private:
  void awaitHostClosed() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kCleanupWait;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return;
      pollfd p{fd_.get(), POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return;
      // Replies and queries that arrive meanwhile are no longer wanted.
      uint8_t discard[wire::kHeaderSize];
      const ssize_t n = ::recv(fd_.get(), discard, sizeof discard, MSG_DONTWAIT | MSG_TRUNC);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
  }

  bool send(const wire::MessageHeader& header, const void* payload, size_t size, int passFd = -1) {
    std::lock_guard lock(sendMutex_);
    return wire::sendMessage(fd_.get(), header, payload, size, passFd);
  }

  // Waits for `ready`, reading the socket itself while no one else does: the
  // common synchronous request costs no thread hop. While requests are
  // pending the I/O thread reads instead and wakes us.
  template <typename Ready>
  void awaitLocked(std::unique_lock<std::mutex>& lock, Ready ready) {
    while (!ready()) {
      if (readerBusy_ || pendingCount_ > 0) {
        changed_.wait(lock);
        continue;
      }
      readerBusy_ = true;
      lock.unlock();
      readOne();
      lock.lock();
      readerBusy_ = false;
      changed_.notify_all();
      if (pendingCount_ > 0 && !broken_) {
        lock.unlock();
        if (IoThread* io = IoThread::instance()) io->watch(shared_from_this());
        lock.lock();
      }
    }
  }

  // Reads and handles one message; only the current reader calls it.
  void readOne() {
    const wire::Received received = wire::receiveMessage(fd_.get(), buffer_.get(), wire::kMaxMessage);
    if (received.kind != wire::Received::kMessage) {
      breakConnection();
      return;
    }
    wire::MessageHeader header;
    if (received.truncated || received.size < wire::kHeaderSize) return;
    std::memcpy(&header, buffer_.get(), wire::kHeaderSize);
    if (header.size != received.size) return;
    const uint8_t* payload = buffer_.get() + wire::kHeaderSize;
    const size_t payloadSize = received.size - wire::kHeaderSize;
    switch (header.type) {
      case wire::kReply:
      case wire::kCompletion:
        settle(header, payload, payloadSize);
        break;
      case wire::kQuery:
        answer(header);
        break;
      default:
        break;
    }
  }

  void settle(const wire::MessageHeader& header, const uint8_t* payload, size_t payloadSize) {
    std::lock_guard lock(mutex_);
    auto it = outstanding_.find(header.id);
    if (it == outstanding_.end()) return;
    const std::shared_ptr<Outstanding> request = it->second;
    if (header.type == wire::kReply && (header.flags & wire::kFlagPending) != 0) {
      if (!request->pending) {
        request->pending = true;
        ++pendingCount_;
      }
      changed_.notify_all();
      return;
    }
    const uint32_t information = std::min(header.count, request->capacity);
    const size_t copied = std::min<size_t>(information, payloadSize);
    if (copied > 0) std::memcpy(request->output, payload, copied);
    outstanding_.erase(it);
    finish(*request, header.status, information);
    changed_.notify_all();
  }

  // Under the lock. A pending request's caller has returned: the record and
  // its event tell it the result.
  void finish(Outstanding& request, uint32_t status, uint32_t information) {
    request.status = status;
    request.information = information;
    request.done = true;
    if (request.pending) {
      --pendingCount_;
      publish(request.overlapped, status, information);
    }
  }

  void breakConnection() {
    std::lock_guard lock(mutex_);
    broken_ = true;
    brokenStatus_ = closedLocally_.load() ? kStatusCancelled : kStatusDeviceNotConnected;
    for (auto& [id, request] : outstanding_) finish(*request, brokenStatus_, 0);
    outstanding_.clear();
    pendingCount_ = 0;
    changed_.notify_all();
  }

  // The host resolves one of our handles or addresses for the driver.
  void answer(const wire::MessageHeader& query) {
    const uint32_t savedError = lastError();
    wire::MessageHeader reply;
    reply.type = wire::kAnswer;
    reply.id = query.id;
    reply.serial = query.serial;
    reply.status = ERROR_INVALID_PARAMETER;
    if (query.status == wire::kQueryEvent) {
      auto event = eventFromHandle(reinterpret_cast<Handle>(static_cast<uintptr_t>(query.value)));
      if (event) {
        reply.status = ERROR_SUCCESS;
        reply.flags = event->manualReset() ? wire::kFlagManualReset : 0;
        send(reply, nullptr, 0, event->fd());
      } else {
        reply.status = ERROR_INVALID_HANDLE;
        send(reply, nullptr, 0);
      }
    } else if (query.status == wire::kQueryMemory) {
      auto block = findShareable(reinterpret_cast<const void*>(static_cast<uintptr_t>(query.value)),
                                 static_cast<size_t>(query.length));
      if (block && query.length > 0) {
        reply.status = ERROR_SUCCESS;
        reply.value = block->offset;
        reply.length = block->size;
        send(reply, nullptr, 0, block->fd);
      } else {
        send(reply, nullptr, 0);
      }
    } else {
      send(reply, nullptr, 0);
    }
    setLastError(savedError);
  }

  UniqueFd fd_;
  std::unique_ptr<uint8_t[]> buffer_;  // used by the current reader only
  std::mutex sendMutex_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool readerBusy_ = false;
  bool broken_ = false;
  uint32_t brokenStatus_ = kStatusDeviceNotConnected;
  std::atomic<bool> closedLocally_{false};
  uint32_t nextId_ = 1;
  size_t pendingCount_ = 0;
  std::unordered_map<uint32_t, std::shared_ptr<Outstanding>> outstanding_;
};

void IoThread::watch(const std::shared_ptr<DeviceConnection>& connection) {
  {
    std::lock_guard lock(mutex_);
    if (std::find(watched_.begin(), watched_.end(), connection) == watched_.end()) watched_.push_back(connection);
  }
  poke();
}

void IoThread::loop() {
  for (;;) {
    std::vector<std::shared_ptr<DeviceConnection>> watched;
    {
      std::lock_guard lock(mutex_);
      // Connections without pending requests leave the set; the check runs
      // under our lock so that a concurrent watch() is not lost.
      std::erase_if(watched_, [](const auto& c) { return c->readState() == DeviceConnection::ReadState::kIdle; });
      watched = watched_;
    }
    std::vector<pollfd> fds{pollfd{wakeFd_.get(), POLLIN, 0}};
    std::vector<DeviceConnection*> polled;
    for (const auto& connection : watched) {
      if (connection->readState() != DeviceConnection::ReadState::kNeedsReading) continue;
      fds.push_back(pollfd{connection->fd(), POLLIN, 0});
      polled.push_back(connection.get());
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents != 0) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_.get(), &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents != 0) polled[i - 1]->readForPending();
    }
  }
}

// The handle table's object for an open device file.
class DeviceFileObject final : public KernelObject {
 public:
  explicit DeviceFileObject(std::shared_ptr<DeviceConnection> connection) : connection_(std::move(connection)) {}
  ~DeviceFileObject() override { connection_->close(); }
  int readinessFd() const override { return -1; }
  bool tryAcquire() override { return false; }
  const std::shared_ptr<DeviceConnection>& connection() const { return connection_; }

 private:
  std::shared_ptr<DeviceConnection> connection_;
};

bool fail(uint32_t error) {
  setLastError(error);
  return false;
}

// Fills the caller's results from a finished request.
bool report(const Outstanding& request, uint32_t* bytes) {
  if (bytes != nullptr) *bytes = request.information;
  if (statusSucceeded(request.status)) return true;
  return fail(errorFromStatus(request.status));
}

}  // namespace

uint32_t errorFromStatus(uint32_t status) {
  switch (status) {
    case 0x00000000: return ERROR_SUCCESS;
    case 0x00000102: return ERROR_TIMEOUT;
    case 0x00000103: return ERROR_IO_PENDING;
    case 0x80000005: return ERROR_MORE_DATA;
    case 0xC0000001: return ERROR_GEN_FAILURE;
    case 0xC0000002: return ERROR_INVALID_FUNCTION;
    case 0xC0000008: return ERROR_INVALID_HANDLE;
    case 0xC000000D: return ERROR_INVALID_PARAMETER;
    case 0xC0000010: return ERROR_INVALID_FUNCTION;
    case 0xC0000017: return ERROR_NOT_ENOUGH_MEMORY;
    case 0xC0000023: return ERROR_INSUFFICIENT_BUFFER;
    case 0xC0000034: return ERROR_FILE_NOT_FOUND;
    case 0xC0000044: return ERROR_NOT_ENOUGH_QUOTA;
    case 0xC000009A: return ERROR_NO_SYSTEM_RESOURCES;
    case 0xC000009D: return ERROR_DEVICE_NOT_CONNECTED;
    case 0xC00000B5: return ERROR_TIMEOUT;
    case 0xC0000120: return ERROR_OPERATION_ABORTED;
    default: return status;
  }
}

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, 60'000));
}

// Connects to the interface's socket. A host that does not accept (stopped,
// or busy) leaves its listening queue full, which a non-blocking connect
// reports at once: it is retried until the deadline.
uint32_t connectBefore(int fd, const sockaddr_un& address, Clock::time_point deadline) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return ERROR_SUCCESS;
    if (errno == EINTR) continue;
    // No socket, or a stale one whose host has gone: there is no such device.
    if (errno == ENOENT || errno == ECONNREFUSED) return ERROR_FILE_NOT_FOUND;
    if (errno != EAGAIN) return errorFromErrno(errno);
    if (Clock::now() >= deadline) return ERROR_TIMEOUT;
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - Clock::now()));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

// Waits for the host's "created" message: 0, or the error the open fails with.
uint32_t awaitCreated(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return errorFromErrno(errno);
    if (ready == 0) return ERROR_TIMEOUT;
    break;
  }
  wire::MessageHeader created;
  const wire::Received received = wire::receiveMessage(fd, &created, sizeof created, MSG_DONTWAIT);
  if (received.kind != wire::Received::kMessage || received.size != sizeof created || created.type != wire::kCreated) {
    return ERROR_FILE_NOT_FOUND;  // the interface went away while we connected
  }
  return created.status == 0 ? ERROR_SUCCESS : errorFromStatus(created.status);
}

}  // namespace

Handle openDevice(std::u16string_view path) { return openDevice(path, kOpenDeviceTimeoutMilliseconds); }

Handle openDevice(std::u16string_view path, uint32_t timeoutMilliseconds) {
  constexpr std::u16string_view kPrefix = u"\\\\.\\";
  const std::string name =
      path.substr(0, kPrefix.size()) == kPrefix ? wire::linkFileName(path.substr(kPrefix.size())) : std::string();
  if (name.empty()) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return kInvalidHandle;
  }
  const std::filesystem::path dir = systemRoot() / wire::kDevicesDirectory;
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  sockaddr_un address;
  if (!dirFd.valid() || !wire::socketAddressIn(dirFd.get(), name, &address)) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return kInvalidHandle;
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) {
    setLastErrorFromErrno(errno);
    return kInvalidHandle;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  uint32_t error = connectBefore(fd.get(), address, deadline);
  if (error == ERROR_SUCCESS) {
    wire::setSocketBuffers(fd.get());
    error = awaitCreated(fd.get(), deadline);
  }
  if (error != ERROR_SUCCESS) {
    setLastError(error);
    return kInvalidHandle;
  }
  // From here on the connection's readers block in their reads.
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return insertHandle(std::make_shared<DeviceFileObject>(std::make_shared<DeviceConnection>(std::move(fd))));
}

bool deviceIoControl(Handle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped) {
  std::shared_ptr<DeviceConnection> connection;
  if (auto file = lookupHandleAs<DeviceFileObject>(device)) connection = file->connection();
  if (!connection) return fail(ERROR_INVALID_HANDLE);
  // A request the driver makes pending completes through the I/O thread.
  if (IoThread::instance() == nullptr) return fail(ERROR_NO_SYSTEM_RESOURCES);
  if (inputSize > wire::kMaxPayload || outputSize > wire::kMaxPayload || (inputSize > 0 && input == nullptr) ||
      (outputSize > 0 && output == nullptr)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (overlapped != nullptr) {
    if (overlapped->event != nullptr) resetEvent(overlapped->event);
    overlapped->internalHigh = 0;
    std::atomic_ref<uint64_t>(overlapped->internal).store(STATUS_PENDING_VALUE, std::memory_order_relaxed);
  }

  auto request = std::make_shared<Outstanding>();
  request->output = output;
  request->capacity = outputSize;
  request->overlapped = overlapped;
  connection->issue(code, input, inputSize, request);
  if (!request->done) {
    if (overlapped != nullptr) return fail(ERROR_IO_PENDING);
    connection->waitUntilDone(request);
  }
  publish(overlapped, request->status, request->information);
  return report(*request, bytesReturned);
}

bool getOverlappedResult(Handle device, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait) {
  if (!lookupHandleAs<DeviceFileObject>(device)) return fail(ERROR_INVALID_HANDLE);
  if (overlapped == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::atomic_ref<uint64_t> status(overlapped->internal);
  if (status.load(std::memory_order_acquire) == STATUS_PENDING_VALUE) {
    if (!wait) return fail(ERROR_IO_INCOMPLETE);
    if (overlapped->event == nullptr) return fail(ERROR_INVALID_PARAMETER);
    while (status.load(std::memory_order_acquire) == STATUS_PENDING_VALUE) {
      if (waitForSingle(overlapped->event, INFINITE) == WAIT_FAILED) return false;
    }
  }
  Outstanding result;
  result.status = static_cast<uint32_t>(status.load(std::memory_order_acquire));
  result.information = static_cast<uint32_t>(std::atomic_ref<uint64_t>(overlapped->internalHigh).load());
  return report(result, bytesTransferred);
}

}  // namespace platform

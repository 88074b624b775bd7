// The service program's side of the service control manager: the dispatcher
// that connects to the monitor which started the program, runs the service's
// main function on a thread of its own, and calls the registered handler on
// the dispatcher's thread for controls, device events and SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/service_runtime.h"
#include "platform/services.h"
#include "platform/text.h"

namespace platform {

namespace rt = service_runtime;

namespace {

// How long the dispatcher waits for a main function to return after its
// service reported SERVICE_STOPPED.
constexpr auto kMainReturnGrace = std::chrono::seconds(30);
constexpr int kStatusAnswerTimeoutMs = 10000;
constexpr size_t kMaxDeviceRecord = 4096;

int g_wakeFd = -1;  // the dispatcher's eventfd; written by the SIGTERM handler too
std::atomic<bool> g_terminateRequested{false};

void onTerminateSignal(int) {
  const int saved = errno;
  g_terminateRequested = true;
  const uint64_t one = 1;
  (void)::write(g_wakeFd, &one, sizeof one);
  errno = saved;
}

class StatusHandleObject;

struct PostedDeviceEvent {
  StatusHandleObject* service;
  uint32_t eventType;
  std::vector<uint8_t> record;
};

// The dispatcher of this process (at most one runs at a time).
class Dispatcher {
 public:
  static Dispatcher& instance() {
    static Dispatcher* dispatcher = new Dispatcher;  // status handles may be used until the process ends
    return *dispatcher;
  }

  bool run(const ServiceTableEntry* table);
  StatusHandleObject* registerHandler(const char16_t* serviceName, HandlerFunction handler, void* context);
  bool reportStatus(StatusHandleObject* service, const ServiceStatus& status);
  bool isStatusHandle(ServiceStatusHandle handle);
  void postDeviceEvent(StatusHandleObject* service, uint32_t eventType, const uint8_t* record);

 private:
  bool connect(const ServiceTableEntry* table);
  bool serve();
  void onControlMessage();
  void deliverPosted();
  uint32_t callHandler(uint32_t control, uint32_t eventType, void* eventData);
  void startMain(const std::u16string& text);
  void wake();
  bool finished();
  void noteMonitorGone() {
    if (!monitorGone_) monitorGoneAt_ = std::chrono::steady_clock::now();
    monitorGone_ = true;
  }

  std::mutex mutex_;  // everything below but the channels
  bool running_ = false;
  std::vector<ServiceTableEntry> table_;
  std::map<std::u16string, std::unique_ptr<StatusHandleObject>> services_;  // by folded name; kept for good
  StatusHandleObject* started_ = nullptr;
  std::deque<PostedDeviceEvent> posted_;
  bool stoppedReported_ = false;
  std::chrono::steady_clock::time_point stoppedAt_;
  std::atomic<bool> mainReturned_{false};
  std::thread main_;

  std::mutex statusMutex_;  // one status report at a time on the status channel
  UniqueFd control_;
  UniqueFd status_;
  UniqueFd wake_;
  bool monitorGone_ = false;
  std::chrono::steady_clock::time_point monitorGoneAt_;
  bool shutdownDelivered_ = false;
};

class StatusHandleObject final : public DeviceNotificationRecipient {
 public:
  explicit StatusHandleObject(std::u16string name) : name_(std::move(name)) {}

  void onDeviceChange(uint32_t eventType, const uint8_t* record) override {
    Dispatcher::instance().postDeviceEvent(this, eventType, record);
  }

  const std::u16string& name() const { return name_; }
  HandlerFunction handler = nullptr;
  void* context = nullptr;

 private:
  std::u16string name_;
};

int descriptorFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) return -1;
  char* end = nullptr;
  const long fd = std::strtol(value, &end, 10);
  struct stat st{};
  if (end == value || *end != 0 || fd < 0 || fd > 1024 || ::fstat(static_cast<int>(fd), &st) != 0 ||
      !S_ISSOCK(st.st_mode)) {
    return -1;
  }
  return static_cast<int>(fd);
}

bool Dispatcher::run(const ServiceTableEntry* table) {
  if (table == nullptr || table[0].serviceName == nullptr || table[0].serviceProc == nullptr) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (running_) {
      setLastError(ERROR_SERVICE_ALREADY_RUNNING);
      return false;
    }
    running_ = true;
  }
  const bool served = connect(table) && serve();
  const uint32_t error = lastError();
  if (main_.joinable()) {
    if (mainReturned_) {
      main_.join();
    } else {
      main_.detach();  // still busy after its grace: it ends with the process
    }
  }
  struct sigaction restore{};
  restore.sa_handler = SIG_DFL;
  ::sigaction(SIGTERM, &restore, nullptr);
  std::lock_guard lock(mutex_);
  control_.reset();
  status_.reset();
  g_wakeFd = -1;
  wake_.reset();
  running_ = false;
  setLastError(error);
  return served;
}

bool Dispatcher::connect(const ServiceTableEntry* table) {
  const int control = descriptorFromEnvironment(rt::kControlChannelVariable);
  const int status = descriptorFromEnvironment(rt::kStatusChannelVariable);
  if (control < 0 || status < 0) {
    setLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return false;
  }
  ::unsetenv(rt::kControlChannelVariable);  // programs the service starts are no services
  ::unsetenv(rt::kStatusChannelVariable);
  ::fcntl(control, F_SETFD, FD_CLOEXEC);
  ::fcntl(status, F_SETFD, FD_CLOEXEC);
  std::vector<std::u16string> names;
  {
    std::lock_guard lock(mutex_);
    control_.reset(control);
    status_.reset(status);
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    g_wakeFd = wake_.get();
    table_.clear();
    for (const ServiceTableEntry* entry = table; entry->serviceName != nullptr; ++entry) {
      table_.push_back(*entry);
      names.emplace_back(entry->serviceName);
    }
    stoppedReported_ = false;
    mainReturned_ = false;
    started_ = nullptr;
    monitorGone_ = false;
    shutdownDelivered_ = false;
  }
  g_terminateRequested = false;
  struct sigaction action{};
  action.sa_handler = onTerminateSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);

  std::lock_guard statusLock(statusMutex_);
  rt::ChannelHeader answer{};
  if (!rt::sendChannel(status_.get(), rt::ChannelMessage::kHello, 0, {}, rt::joinList(names)) ||
      !rt::receiveChannel(status_.get(), &answer, nullptr) || answer.kind != rt::ChannelMessage::kAnswer) {
    setLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return false;
  }
  if (answer.value != 0) {
    setLastError(answer.value);
    return false;
  }
  return true;
}

bool Dispatcher::serve() {
  while (!finished()) {
    pollfd fds[2] = {{wake_.get(), POLLIN, 0}, {monitorGone_ ? -1 : control_.get(), POLLIN, 0}};
    if (::poll(fds, 2, 1000) < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) onControlMessage();
    if (fds[0].revents != 0) {
      uint64_t count;
      (void)::read(wake_.get(), &count, sizeof count);
    }
    deliverPosted();
    if ((g_terminateRequested.exchange(false) || monitorGone_) && !shutdownDelivered_) {
      // SIGTERM, or the monitor ended: the machine is going down.
      shutdownDelivered_ = true;
      bool stopped;
      {
        std::lock_guard lock(mutex_);
        stopped = stoppedReported_;
      }
      if (!stopped) (void)callHandler(SERVICE_CONTROL_SHUTDOWN, 0, nullptr);
    }
    if (monitorGone_) {
      std::lock_guard lock(mutex_);
      if (started_ == nullptr) break;  // nothing was started: nothing to wait for
      if (std::chrono::steady_clock::now() - monitorGoneAt_ > kMainReturnGrace) break;  // it ignores the shutdown
    }
  }
  return true;
}

bool Dispatcher::finished() {
  std::lock_guard lock(mutex_);
  if (!stoppedReported_) return false;
  return mainReturned_ || std::chrono::steady_clock::now() - stoppedAt_ > kMainReturnGrace;
}

void Dispatcher::onControlMessage() {
  rt::ChannelHeader message{};
  std::u16string text;
  if (!rt::receiveChannel(control_.get(), &message, &text)) {
    noteMonitorGone();
    return;
  }
  uint32_t result = ERROR_INVALID_PARAMETER;
  if (message.kind == rt::ChannelMessage::kStart) {
    startMain(text);
    std::lock_guard lock(mutex_);
    result = started_ != nullptr ? 0 : ERROR_SERVICE_NOT_IN_EXE;
  } else if (message.kind == rt::ChannelMessage::kControl) {
    result = callHandler(message.value, 0, nullptr);
  }
  if (!rt::sendChannel(control_.get(), rt::ChannelMessage::kAnswer, result, {})) noteMonitorGone();
}

void Dispatcher::startMain(const std::u16string& text) {
  const std::vector<std::u16string> arguments = rt::splitList(text);
  if (arguments.empty()) return;
  std::lock_guard lock(mutex_);
  if (started_ != nullptr) return;  // an own-process program runs one service
  const std::u16string folded = foldCase(arguments[0]);
  for (const ServiceTableEntry& entry : table_) {
    if (foldCase(entry.serviceName) != folded) continue;
    auto& service = services_[folded];
    if (!service) service = std::make_unique<StatusHandleObject>(entry.serviceName);
    started_ = service.get();
    const ServiceMainFunction proc = entry.serviceProc;
    main_ = std::thread([this, proc, arguments] {
      std::vector<std::u16string> owned = arguments;
      std::vector<char16_t*> pointers;
      for (std::u16string& argument : owned) pointers.push_back(argument.data());
      pointers.push_back(nullptr);
      proc(static_cast<uint32_t>(owned.size()), pointers.data());
      mainReturned_ = true;
      wake();
    });
    return;
  }
}

uint32_t Dispatcher::callHandler(uint32_t control, uint32_t eventType, void* eventData) {
  HandlerFunction handler = nullptr;
  void* context = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (started_ != nullptr) {
      handler = started_->handler;
      context = started_->context;
    }
  }
  if (handler == nullptr) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  return handler(control, eventType, eventData, context);
}

void Dispatcher::deliverPosted() {
  for (;;) {
    PostedDeviceEvent event;
    {
      std::lock_guard lock(mutex_);
      if (posted_.empty()) return;
      event = std::move(posted_.front());
      posted_.pop_front();
      if (event.service != started_) continue;
    }
    (void)callHandler(SERVICE_CONTROL_DEVICEEVENT, event.eventType, event.record.data());
  }
}

void Dispatcher::wake() {
  std::lock_guard lock(mutex_);
  if (!wake_.valid()) return;
  const uint64_t one = 1;
  (void)::write(wake_.get(), &one, sizeof one);
}

StatusHandleObject* Dispatcher::registerHandler(const char16_t* serviceName, HandlerFunction handler, void* context) {
  std::lock_guard lock(mutex_);
  if (!running_ || started_ == nullptr || serviceName == nullptr || foldCase(serviceName) != foldCase(started_->name())) {
    setLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  started_->handler = handler;
  started_->context = context;
  return started_;
}

bool Dispatcher::isStatusHandle(ServiceStatusHandle handle) {
  std::lock_guard lock(mutex_);
  for (const auto& [name, service] : services_) {
    if (service.get() == handle) return true;
  }
  return false;
}

bool Dispatcher::reportStatus(StatusHandleObject* service, const ServiceStatus& status) {
  if (status.currentState < SERVICE_STOPPED || status.currentState > SERVICE_PAUSED) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  bool answered = false;
  uint32_t result = 0;
  {
    std::lock_guard statusLock(statusMutex_);
    int fd;
    {
      std::lock_guard lock(mutex_);
      fd = running_ && service == started_ ? status_.get() : -1;
    }
    if (fd >= 0 && rt::sendChannel(fd, rt::ChannelMessage::kStatus, 0, status)) {
      pollfd p{fd, POLLIN, 0};
      rt::ChannelHeader answer{};
      if (::poll(&p, 1, kStatusAnswerTimeoutMs) > 0 && rt::receiveChannel(fd, &answer, nullptr)) {
        answered = true;
        result = answer.value;
      }
    }
  }
  if (status.currentState == SERVICE_STOPPED) {
    {
      std::lock_guard lock(mutex_);
      if (service == started_ && !stoppedReported_) {
        stoppedReported_ = true;
        stoppedAt_ = std::chrono::steady_clock::now();
      }
    }
    wake();
  }
  if (!answered) {
    setLastError(ERROR_INVALID_HANDLE);  // no manager to report to
    return false;
  }
  if (result != 0) setLastError(result);
  return result == 0;
}

void Dispatcher::postDeviceEvent(StatusHandleObject* service, uint32_t eventType, const uint8_t* record) {
  uint32_t size = 0;
  std::memcpy(&size, record, sizeof size);
  size = std::min<uint32_t>(std::max<uint32_t>(size, kDeviceInterfaceRecordMinimumSize), kMaxDeviceRecord);
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    posted_.push_back({service, eventType, std::vector<uint8_t>(record, record + size)});
  }
  wake();
}

}  // namespace

bool startServiceCtrlDispatcher(const ServiceTableEntry* table) { return Dispatcher::instance().run(table); }

ServiceStatusHandle registerServiceCtrlHandlerEx(const char16_t* serviceName, HandlerFunction handler, void* context) {
  return Dispatcher::instance().registerHandler(serviceName, handler, context);
}

bool setServiceStatus(ServiceStatusHandle statusHandle, const ServiceStatus* status) {
  if (statusHandle == nullptr || !Dispatcher::instance().isStatusHandle(statusHandle)) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (status == nullptr) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return Dispatcher::instance().reportStatus(static_cast<StatusHandleObject*>(statusHandle), *status);
}

DeviceNotificationRecipient* serviceNotificationRecipient(ServiceStatusHandle statusHandle) {
  if (statusHandle == nullptr || !Dispatcher::instance().isStatusHandle(statusHandle)) return nullptr;
  return static_cast<StatusHandleObject*>(statusHandle);
}

}  // namespace platform

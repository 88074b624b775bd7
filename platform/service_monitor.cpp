// The monitor of one running service program: the part of the service
// control manager that starts the program, records the status it reports,
// passes controls to its dispatcher and learns at once when it ends. One
// monitor process per running service; it holds the entry's lock while it
// runs, so that a monitor that died is noticed too.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/service_runtime.h"
#include "platform/services.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/waits.h"

namespace platform {

namespace rt = service_runtime;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char16_t kEventSource[] = u"Service Control Manager";
constexpr char16_t kEventLog[] = u"System";
// Event identifiers of the monitor's messages (service-monitor/main.cpp).
constexpr uint32_t kEventStateChanged = 0x40001B7C;  // %1 service, %2 state
constexpr uint32_t kEventEndedUnexpectedly = 0xC0001B7A;  // %1 service, %2 exit code
constexpr uint32_t kEventConnectTimeout = 0xC0001B61;  // %1 milliseconds, %2 service
constexpr uint32_t kEventStartFailed = 0xC0001B58;  // %1 service, %2 error

// The time limits; tests shorten them with WN_SERVICE_START_TIMEOUT_MS and
// WN_SERVICE_CONTROL_TIMEOUT_MS.
std::chrono::milliseconds limitFromEnvironment(const char* variable, uint32_t standard) {
  const char* value = std::getenv(variable);
  const long parsed = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
  return std::chrono::milliseconds(parsed > 0 ? parsed : standard);
}

struct Client {
  UniqueFd fd;
  bool gone = false;
  uint32_t control = 0;
};

class Monitor {
 public:
  Monitor(std::u16string name, int resultFd, std::vector<std::u16string> arguments)
      : name_(std::move(name)), result_(resultFd), arguments_(std::move(arguments)) {}

  int run() {
    if (!prepare()) return 1;
    loop();
    finish();
    return 0;
  }

 private:
  enum class Phase { kConnecting, kStarting, kRunning, kFailed };

  bool prepare();
  bool takeLock();
  void endLeftover();
  void registerOwnEventSource();
  bool launch();
  void loop();
  int pollTimeout() const;
  void onStatusChannel();
  void onStatusMessage(const rt::ChannelHeader& message, const std::u16string& text);
  void onControlChannel();
  void onTimeouts();
  void acceptClients();
  void onClient(Client& client);
  void forwardNextControl();
  void reply(Client& client, uint32_t error);
  void finish();
  void reportResult(uint32_t result);
  void failStart(uint32_t error);
  void record(const ServiceStatus& status);
  void logEvent(uint16_t type, uint32_t id, const std::vector<std::u16string>& strings);

  std::u16string name_;
  UniqueFd result_;
  std::vector<std::u16string> arguments_;
  rt::EntryInfo entry_;
  UniqueFd directory_;
  UniqueFd lock_;
  UniqueFd listen_;
  UniqueFd control_;
  UniqueFd status_;
  UniqueFd pidFd_;
  Handle process_ = nullptr;
  Phase phase_ = Phase::kConnecting;
  Clock::time_point startDeadline_;
  uint32_t startFailure_ = 0;  // what kept the start from succeeding
  rt::RuntimeStatus current_;
  bool wasRunning_ = false;
  std::list<Client> clients_;
  std::deque<Client*> queued_;
  Client* inFlight_ = nullptr;
  std::optional<Clock::time_point> controlDeadline_;
  uint32_t staleAnswers_ = 0;  // answers still due for controls given up on
};

bool Monitor::prepare() {
  directory_ = rt::openDirectory();
  if (!directory_.valid()) {
    reportResult(lastError());
    return false;
  }
  if (!takeLock()) {
    reportResult(ERROR_SERVICE_ALREADY_RUNNING);
    return false;
  }
  if (const uint32_t error = rt::readEntry(name_, &entry_); error != 0 || entry_.markedForDelete) {
    reportResult(error != 0 ? error : ERROR_SERVICE_MARKED_FOR_DELETE);
    return false;
  }
  name_ = entry_.name;
  endLeftover();
  registerOwnEventSource();
  listen_ = rt::listenControl(directory_.get(), name_);
  if (!listen_.valid()) {
    reportResult(lastError());
    return false;
  }
  ::fcntl(listen_.get(), F_SETFL, O_NONBLOCK);
  current_.status.serviceType = entry_.config.serviceType;
  current_.status.currentState = SERVICE_START_PENDING;
  (void)rt::writeStatus(directory_.get(), name_, current_);
  if (!launch()) {
    (void)rt::writeStatus(directory_.get(), name_, current_);
    rt::removeControl(directory_.get(), name_);
    return false;
  }
  return true;
}

// The lock of the entry. A run that reported SERVICE_STOPPED may still be
// ending (its program finishing, its monitor writing the last status): that
// is waited for, within the start time limit. Another run is refused.
bool Monitor::takeLock() {
  const Clock::time_point deadline =
      Clock::now() + limitFromEnvironment("WN_SERVICE_START_TIMEOUT_MS", kServiceStartTimeoutMs);
  for (;;) {
    lock_ = rt::takeLock(directory_.get(), name_);
    if (lock_.valid()) return true;
    if (rt::readStoredStatus(directory_.get(), name_).status.currentState != SERVICE_STOPPED ||
        Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A program of an earlier run whose monitor died may still run: it would
// hold what the new one needs (its single-instance lock, its connections).
void Monitor::endLeftover() {
  const rt::RuntimeStatus stored = rt::readStoredStatus(directory_.get(), name_);
  if (stored.processId == 0 || stored.processStartTime == 0 ||
      rt::processStartTime(stored.processId) != stored.processStartTime) {
    return;
  }
  const Handle leftover = openProcess(stored.processId);
  if (leftover == nullptr) return;
  ::kill(static_cast<pid_t>(stored.processId), SIGKILL);
  (void)waitForSingle(leftover, 5000);
  closeHandle(leftover);
}

void Monitor::registerOwnEventSource() {
  std::u16string program;
  if (programPath(program) != 0) return;
  RegistryKey key;
  if (RegistryKey::create(RegistryHive::LocalMachine,
                          std::u16string(kEventLogKey) + u"\\" + kEventLog + u"\\" + kEventSource, KEY_ALL_ACCESS,
                          key) != 0) {
    return;
  }
  std::u16string stored;
  if (key.getString(u"EventMessageFile", stored) == 0 && stored == program) return;
  (void)key.setString(u"EventMessageFile", program, REG_EXPAND_SZ);
  (void)key.setDword(u"TypesSupported", 7);
}

bool Monitor::launch() {
  int controlPair[2];
  int statusPair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, controlPair) != 0) {
    failStart(errorFromErrno(errno));
    return false;
  }
  control_.reset(controlPair[0]);
  const UniqueFd controlChild(controlPair[1]);
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, statusPair) != 0) {
    failStart(errorFromErrno(errno));
    return false;
  }
  status_.reset(statusPair[0]);
  const UniqueFd statusChild(statusPair[1]);
  ::fcntl(status_.get(), F_SETFL, O_NONBLOCK);

  std::vector<std::string> command;
  for (const std::u16string& word : commandLineToArguments(entry_.config.binaryPathName)) command.push_back(toUtf8(word));
  const UniqueFd output = rt::openOutputLog(directory_.get(), name_);
  ProcessOptions options;
  options.workingDirectory = systemRoot().string();
  options.descriptors = {{controlChild.get(), rt::kControlChannelFd}, {statusChild.get(), rt::kStatusChannelFd}};
  options.environment = {{rt::kControlChannelVariable, std::to_string(rt::kControlChannelFd)},
                         {rt::kStatusChannelVariable, std::to_string(rt::kStatusChannelFd)}};
  options.standardOutput = output.get();
  options.standardError = output.get();
  ProcessInformation info;
  if (const uint32_t error = startProcess(command, options, info); error != 0) {
    failStart(error);
    return false;
  }
  process_ = info.process;
  pidFd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, info.processId, 0)));
  current_.processId = info.processId;
  current_.processStartTime = rt::processStartTime(info.processId);
  (void)rt::writeStatus(directory_.get(), name_, current_);
  startDeadline_ = Clock::now() + limitFromEnvironment("WN_SERVICE_START_TIMEOUT_MS", kServiceStartTimeoutMs);
  return true;
}

void Monitor::failStart(uint32_t error) {
  current_.status.currentState = SERVICE_STOPPED;
  current_.status.win32ExitCode = error;
  current_.processId = 0;
  current_.processStartTime = 0;
  logEvent(EVENTLOG_ERROR_TYPE, kEventStartFailed, {entry_.config.displayName, toWide(std::to_string(error))});
  reportResult(error);
}

int Monitor::pollTimeout() const {
  std::optional<Clock::time_point> next;
  if (phase_ == Phase::kConnecting || phase_ == Phase::kStarting || phase_ == Phase::kFailed) next = startDeadline_;
  if (controlDeadline_ && (!next || *controlDeadline_ < *next)) next = controlDeadline_;
  if (!next) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left + 1, 0, 60000));
}

void Monitor::loop() {
  for (;;) {
    std::vector<pollfd> fds = {{pidFd_.get(), POLLIN, 0},
                               {status_.get(), POLLIN, 0},
                               {control_.get(), POLLIN, 0},
                               {listen_.get(), POLLIN, 0}};
    for (const Client& client : clients_) fds.push_back({client.gone ? -1 : client.fd.get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), pollTimeout()) < 0 && errno != EINTR) return;
    // The program's reports come first, so that what a client learns
    // afterwards includes every status reported before it asked.
    if (fds[1].revents != 0) onStatusChannel();
    if (fds[2].revents != 0) onControlChannel();
    if (fds[0].revents != 0) return;  // the program ended
    if (fds[3].revents != 0) acceptClients();
    size_t index = 4;
    for (Client& client : clients_) {
      if (index < fds.size() && fds[index].revents != 0 && !client.gone) onClient(client);
      ++index;
    }
    clients_.remove_if([this](const Client& client) {
      return client.gone && &client != inFlight_ && std::find(queued_.begin(), queued_.end(), &client) == queued_.end();
    });
    onTimeouts();
  }
}

void Monitor::onStatusChannel() {
  for (;;) {
    rt::ChannelHeader message{};
    std::u16string text;
    std::vector<uint8_t> buffer(rt::kMaxChannelMessage);
    const ssize_t peeked = ::recv(status_.get(), buffer.data(), 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (peeked <= 0 || !rt::receiveChannel(status_.get(), &message, &text)) {
      status_.reset();  // the program closed it or ended
      return;
    }
    onStatusMessage(message, text);
  }
}

void Monitor::onStatusMessage(const rt::ChannelHeader& message, const std::u16string& text) {
  uint32_t answer = ERROR_INVALID_PARAMETER;
  if (message.kind == rt::ChannelMessage::kHello && phase_ == Phase::kConnecting) {
    const std::u16string wanted = foldCase(name_);
    const std::vector<std::u16string> names = rt::splitList(text);
    const bool runsIt = std::any_of(names.begin(), names.end(), [&](const auto& n) { return foldCase(n) == wanted; });
    answer = runsIt ? 0 : ERROR_SERVICE_NOT_IN_EXE;
    (void)rt::sendChannel(status_.get(), rt::ChannelMessage::kAnswer, answer, {});
    if (!runsIt) {
      startFailure_ = ERROR_SERVICE_NOT_IN_EXE;
      reportResult(ERROR_SERVICE_NOT_IN_EXE);
      phase_ = Phase::kFailed;  // the program gets a moment to end by itself
      startDeadline_ = Clock::now() + std::chrono::seconds(5);
      return;
    }
    std::vector<std::u16string> start = {name_};
    start.insert(start.end(), arguments_.begin(), arguments_.end());
    (void)rt::sendChannel(control_.get(), rt::ChannelMessage::kStart, 0, {}, rt::joinList(start));
    phase_ = Phase::kStarting;
    return;
  }
  if (message.kind == rt::ChannelMessage::kStatus && phase_ != Phase::kConnecting) {
    const uint32_t state = message.status.currentState;
    answer = state >= SERVICE_STOPPED && state <= SERVICE_PAUSED ? 0 : ERROR_INVALID_PARAMETER;
    if (answer == 0) record(message.status);
  }
  (void)rt::sendChannel(status_.get(), rt::ChannelMessage::kAnswer, answer, {});
}

void Monitor::record(const ServiceStatus& status) {
  const uint32_t previous = current_.status.currentState;
  current_.status = status;
  (void)rt::writeStatus(directory_.get(), name_, current_);
  if (status.currentState == SERVICE_RUNNING && previous != SERVICE_RUNNING) {
    wasRunning_ = true;
    logEvent(EVENTLOG_INFORMATION_TYPE, kEventStateChanged, {entry_.config.displayName, u"running"});
  }
}

void Monitor::onControlChannel() {
  rt::ChannelHeader message{};
  if (!rt::receiveChannel(control_.get(), &message, nullptr)) {
    control_.reset();
    return;
  }
  if (message.kind != rt::ChannelMessage::kAnswer) return;
  if (phase_ == Phase::kStarting) {
    if (message.value == 0) {
      phase_ = Phase::kRunning;
      reportResult(0);
    } else {
      startFailure_ = message.value;
      reportResult(message.value);
      phase_ = Phase::kFailed;
      startDeadline_ = Clock::now() + std::chrono::seconds(5);
    }
    return;
  }
  if (staleAnswers_ > 0) {
    --staleAnswers_;
    return;
  }
  if (inFlight_ == nullptr) return;
  Client* client = inFlight_;
  inFlight_ = nullptr;
  controlDeadline_.reset();
  if (!client->gone) reply(*client, message.value);
  forwardNextControl();
}

void Monitor::onTimeouts() {
  const Clock::time_point now = Clock::now();
  if ((phase_ == Phase::kConnecting || phase_ == Phase::kStarting) && now >= startDeadline_) {
    startFailure_ = ERROR_SERVICE_REQUEST_TIMEOUT;
    const auto limit = limitFromEnvironment("WN_SERVICE_START_TIMEOUT_MS", kServiceStartTimeoutMs);
    logEvent(EVENTLOG_ERROR_TYPE, kEventConnectTimeout, {toWide(std::to_string(limit.count())), name_});
    reportResult(ERROR_SERVICE_REQUEST_TIMEOUT);
    phase_ = Phase::kFailed;
    (void)terminateProcess(process_, ERROR_SERVICE_REQUEST_TIMEOUT);
  } else if (phase_ == Phase::kFailed && now >= startDeadline_) {
    (void)terminateProcess(process_, startFailure_);
    startDeadline_ = now + std::chrono::seconds(60);
  }
  if (controlDeadline_ && now >= *controlDeadline_ && inFlight_ != nullptr) {
    ++staleAnswers_;
    Client* client = inFlight_;
    inFlight_ = nullptr;
    controlDeadline_.reset();
    if (!client->gone) reply(*client, ERROR_SERVICE_REQUEST_TIMEOUT);
    forwardNextControl();
  }
}

void Monitor::acceptClients() {
  for (;;) {
    UniqueFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.valid()) return;
    clients_.push_back(Client{std::move(fd)});
  }
}

bool acceptsControl(uint32_t accepted, uint32_t control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      return (accepted & SERVICE_ACCEPT_STOP) != 0;
    case SERVICE_CONTROL_SHUTDOWN:
      return (accepted & SERVICE_ACCEPT_SHUTDOWN) != 0;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
      return (accepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
    case SERVICE_CONTROL_INTERROGATE:
      return true;
    default:
      return control >= 128 || (accepted & 0x08) != 0;  // parameter changes: accept bit 8
  }
}

void Monitor::onClient(Client& client) {
  rt::MonitorRequestMessage request{};
  const ssize_t n = ::recv(client.fd.get(), &request, sizeof request, 0);
  if (n != static_cast<ssize_t>(sizeof request)) {
    client.gone = true;
    return;
  }
  onStatusChannel();  // reports that came before this request
  if (request.kind == rt::MonitorRequest::kQuery) {
    reply(client, 0);
    return;
  }
  const uint32_t state = current_.status.currentState;
  if (state == SERVICE_STOPPED) {
    reply(client, ERROR_SERVICE_NOT_ACTIVE);
  } else if (phase_ != Phase::kRunning || state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
    reply(client, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  } else if (!acceptsControl(current_.status.controlsAccepted, request.control)) {
    reply(client, ERROR_INVALID_SERVICE_CONTROL);
  } else {
    client.control = request.control;
    queued_.push_back(&client);
    forwardNextControl();
  }
}

void Monitor::forwardNextControl() {
  while (inFlight_ == nullptr && !queued_.empty()) {
    Client* client = queued_.front();
    queued_.pop_front();
    if (client->gone) continue;
    if (!control_.valid() ||
        !rt::sendChannel(control_.get(), rt::ChannelMessage::kControl, client->control, current_.status)) {
      reply(*client, ERROR_SERVICE_NOT_ACTIVE);
      continue;
    }
    inFlight_ = client;
    controlDeadline_ = Clock::now() + limitFromEnvironment("WN_SERVICE_CONTROL_TIMEOUT_MS", kServiceControlTimeoutMs);
  }
}

void Monitor::reply(Client& client, uint32_t error) {
  const rt::MonitorReplyMessage message{error, current_.status,
                                        current_.status.currentState == SERVICE_STOPPED ? 0 : current_.processId};
  if (::send(client.fd.get(), &message, sizeof message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof message)) {
    client.gone = true;
  }
}

void Monitor::finish() {
  if (status_.valid()) onStatusChannel();  // what it reported before it ended
  uint32_t exitCode = 0;
  (void)waitForSingle(process_, INFINITE);
  (void)getExitCodeProcess(process_, &exitCode);
  closeHandle(process_);
  if (phase_ == Phase::kConnecting || phase_ == Phase::kStarting) {
    startFailure_ = ERROR_PROCESS_ABORTED;
    reportResult(ERROR_PROCESS_ABORTED);
  }
  if (current_.status.currentState != SERVICE_STOPPED) {
    current_.status.currentState = SERVICE_STOPPED;
    current_.status.win32ExitCode = startFailure_ != 0 ? startFailure_ : ERROR_PROCESS_ABORTED;
    current_.status.serviceSpecificExitCode = startFailure_ != 0 ? 0 : exitCode;
    if (startFailure_ == 0) {
      logEvent(EVENTLOG_ERROR_TYPE, kEventEndedUnexpectedly,
               {entry_.config.displayName, toWide(std::to_string(exitCode))});
    }
  }
  current_.status.controlsAccepted = 0;
  current_.status.checkPoint = 0;
  current_.status.waitHint = 0;
  current_.processId = 0;
  current_.processStartTime = 0;
  (void)rt::writeStatus(directory_.get(), name_, current_);
  if (wasRunning_) logEvent(EVENTLOG_INFORMATION_TYPE, kEventStateChanged, {entry_.config.displayName, u"stopped"});
  for (Client& client : clients_) {
    if (client.gone) continue;
    // A stop that the program answered by ending has done what it asked.
    const bool stopDone = &client == inFlight_ && (client.control == SERVICE_CONTROL_STOP ||
                                                   client.control == SERVICE_CONTROL_SHUTDOWN);
    if (&client == inFlight_ || std::find(queued_.begin(), queued_.end(), &client) != queued_.end()) {
      reply(client, stopDone ? 0 : ERROR_SERVICE_NOT_ACTIVE);
    }
  }
  rt::EntryInfo entry;
  if (rt::readEntry(name_, &entry) == 0 && entry.markedForDelete) (void)rt::removeEntry(entry.name);
  rt::removeControl(directory_.get(), name_);
}

void Monitor::reportResult(uint32_t result) {
  if (!result_.valid()) return;
  (void)::write(result_.get(), &result, sizeof result);
  result_.reset();
}

void Monitor::logEvent(uint16_t type, uint32_t id, const std::vector<std::u16string>& strings) {
  const EventSourceHandle source = platform::registerEventSource(nullptr, kEventSource);
  if (source == nullptr) return;
  std::vector<const char16_t*> pointers;
  for (const std::u16string& text : strings) pointers.push_back(text.c_str());
  (void)reportEvent(source, type, 0, id, nullptr, static_cast<uint16_t>(pointers.size()), 0, pointers.data(), nullptr);
  deregisterEventSource(source);
}

}  // namespace

int runServiceMonitor(int argc, char** argv) {
  std::u16string name;
  int resultFd = -1;
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--service" && i + 1 < argc) {
      name = toWide(argv[++i]);
    } else if (argument == "--result-fd" && i + 1 < argc) {
      resultFd = std::atoi(argv[++i]);
    } else if (argument == "--") {
      for (++i; i < argc; ++i) arguments.push_back(toWide(argv[i]));
    } else {
      std::fprintf(stderr, "service-monitor: unexpected argument %s\n", argv[i]);
      return 2;
    }
  }
  if (name.empty()) {
    std::fprintf(stderr,
                 "usage: service-monitor --service NAME [--result-fd FD] [-- ARGUMENT ...]\n"
                 "Runs a service of the machine's service database; started by the service control manager.\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  Monitor monitor(std::move(name), resultFd, std::move(arguments));
  return monitor.run();
}

}  // namespace platform

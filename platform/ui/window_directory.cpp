#include "platform/ui/window_directory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/device_wire.h"
#include "platform/errors.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/window.h"
#include "platform/unique_fd.h"

namespace platform::ui {

namespace {

constexpr char kDirectoryName[] = "windows";
constexpr char kMessagesFile[] = "messages.txt";
// The longest a request waits for the owning GUI thread.
constexpr uint32_t kLongestServe = 60000;

struct Request {
  uint32_t operation;
  uint32_t serial;
  uint32_t message;
  uint32_t timeoutMs;
  uint64_t wParam;
  int64_t lParam;
};

struct Answer {
  uint32_t error;
  uint32_t reserved;
  int64_t result;
};

std::string entryName(WindowHandle window) {
  return "w" + std::to_string(window.process()) + "-" + std::to_string(window.serial());
}

std::string serverName(uint32_t process) { return "p" + std::to_string(process) + ".sock"; }

bool parseEntryName(const std::string& name, WindowHandle* window) {
  unsigned long process = 0;
  unsigned long serial = 0;
  char tail = 0;
  if (std::sscanf(name.c_str(), "w%lu-%lu%c", &process, &serial, &tail) != 2) return false;
  *window = WindowHandle::make(static_cast<uint32_t>(process), static_cast<uint32_t>(serial));
  return true;
}

UniqueFd openDirectory(const std::filesystem::path& path) {
  return UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Removes what a process that no longer runs left behind.
void removeLeftovers(const std::filesystem::path& directory, uint32_t process) {
  std::error_code error;
  const std::string prefix = "w" + std::to_string(process) + "-";
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) std::filesystem::remove(entry.path(), error);
  }
  std::filesystem::remove(directory / serverName(process), error);
}

// Runs one request for a window of this process on the GUI thread.
Answer execute(const Request& request) {
  struct Outcome {
    uint32_t error = ERROR_INVALID_WINDOW_HANDLE;
    int64_t result = 0;
  };
  auto outcome = std::make_shared<Outcome>();
  const WindowHandle window = WindowHandle::make(static_cast<uint32_t>(::getpid()), request.serial);
  const auto operation = static_cast<WindowDirectory::Operation>(request.operation);
  const bool ran = runOnGuiThread(
      [outcome, window, operation, request] {
        Window* target = windowFromHandle(window);
        if (target == nullptr || target->className().empty()) return;
        outcome->error = 0;
        using Operation = WindowDirectory::Operation;
        switch (operation) {
          case Operation::exists:
            outcome->result = 1;
            break;
          case Operation::sendMessage:
            outcome->result = target->dispatch(request.message, static_cast<WParam>(request.wParam),
                                               static_cast<LParam>(request.lParam));
            break;
          case Operation::showWindow:
            outcome->result = showWindow(window, static_cast<int>(request.wParam)) ? 1 : 0;
            break;
          case Operation::isIconic:
            outcome->result = isIconic(window) ? 1 : 0;
            break;
          case Operation::isVisible:
            outcome->result = isWindowVisible(window) ? 1 : 0;
            break;
          case Operation::setForeground:
            outcome->result = setForegroundWindow(window) ? 1 : 0;
            break;
          case Operation::lastActivePopup:
            outcome->result = static_cast<int64_t>(getLastActivePopup(window).value);
            break;
          default:
            outcome->error = ERROR_INVALID_PARAMETER;
            break;
        }
      },
      std::min(request.timeoutMs, kLongestServe));
  if (!ran) return Answer{ERROR_TIMEOUT, 0, 0};
  return Answer{outcome->error, 0, outcome->result};
}

// Serves this process's windows to other processes: one socket, one thread,
// one request per connection.
class Server {
 public:
  // Starts serving in the current system root (again, after a fork or when
  // the root changed). Returns the directory, or an empty path.
  std::filesystem::path ensureRunning() {
    const std::filesystem::path directory = systemDirectory(kDirectoryName);
    if (directory.empty()) return {};
    if (running_ && process_ == ::getpid() && directory_ == directory) return directory;
    if (process_ == ::getpid()) stop();
    else abandon();
    UniqueFd dirFd = openDirectory(directory);
    UniqueFd listener(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    UniqueFd stopEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    sockaddr_un address{};
    const std::string name = serverName(static_cast<uint32_t>(::getpid()));
    if (!dirFd.valid() || !listener.valid() || !stopEvent.valid() ||
        !wire::socketAddressIn(dirFd.get(), name, &address)) {
      return {};
    }
    ::unlinkat(dirFd.get(), name.c_str(), 0);  // left by a dead process of the same number
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 16) != 0) {
      return {};
    }
    listener_ = std::move(listener);
    stop_ = std::move(stopEvent);
    directory_ = directory;
    process_ = ::getpid();
    running_ = true;
    thread_ = std::thread([this] { serve(); });
    return directory;
  }

  void stop() {
    if (!running_ || process_ != ::getpid()) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(stop_.get(), &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    std::error_code error;
    std::filesystem::remove(directory_ / serverName(static_cast<uint32_t>(process_)), error);
    listener_.reset();
    stop_.reset();
    running_ = false;
  }

  const std::filesystem::path& directory() const { return directory_; }

 private:
  // A forked child does not have the parent's thread.
  void abandon() {
    if (thread_.joinable()) thread_.detach();
    listener_.reset();
    stop_.reset();
    running_ = false;
  }

  void serve() {
    for (;;) {
      pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (connection.valid()) serveOne(connection.get());
    }
  }

  static void serveOne(int fd) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 2000) <= 0) return;
    Request request{};
    if (::recv(fd, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return;
    const Answer answer = execute(request);
    ::send(fd, &answer, sizeof answer, MSG_NOSIGNAL);
  }

  bool running_ = false;
  pid_t process_ = 0;
  std::filesystem::path directory_;
  UniqueFd listener_;
  UniqueFd stop_;
  std::thread thread_;
};

std::mutex directoryMutex;
Server server;                                             // guarded by directoryMutex
std::map<uint64_t, std::filesystem::path> enteredWindows;  // guarded by directoryMutex

bool writeEntry(const std::filesystem::path& path, std::u16string_view className) {
  const std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << toUtf8(className);
    if (!file) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

struct Candidate {
  WindowHandle window;
  std::u16string className;
  std::filesystem::file_time_type created;
};

std::vector<Candidate> listCandidates() {
  std::vector<Candidate> candidates;
  const std::filesystem::path directory = systemDirectory(kDirectoryName);
  if (directory.empty()) return candidates;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    Candidate candidate;
    if (!parseEntryName(entry.path().filename().string(), &candidate.window)) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    candidate.className = toWide(content.str());
    candidate.created = entry.last_write_time(error);
    candidates.push_back(std::move(candidate));
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.created != b.created) return a.created > b.created;
    return a.window.value > b.window.value;
  });
  return candidates;
}

bool exchange(uint32_t process, const Request& request, Answer* answer);

bool isLive(WindowHandle window) {
  return WindowDirectory::request(window, WindowDirectory::Operation::exists, 0, 0, 0, 2000, nullptr);
}

}  // namespace

void WindowDirectory::enter(WindowHandle window, std::u16string_view className) {
  std::lock_guard lock(directoryMutex);
  const std::filesystem::path directory = server.ensureRunning();
  if (directory.empty()) return;
  const std::filesystem::path path = directory / entryName(window);
  if (writeEntry(path, className)) enteredWindows[window.value] = path;
}

void WindowDirectory::withdraw(WindowHandle window) {
  std::lock_guard lock(directoryMutex);
  auto it = enteredWindows.find(window.value);
  if (it == enteredWindows.end()) return;
  std::error_code error;
  std::filesystem::remove(it->second, error);
  enteredWindows.erase(it);
}

void WindowDirectory::shutDown() {
  std::lock_guard lock(directoryMutex);
  std::error_code error;
  for (const auto& [value, path] : enteredWindows) std::filesystem::remove(path, error);
  enteredWindows.clear();
  server.stop();
}

bool WindowDirectory::request(WindowHandle window, Operation operation, uint32_t message, WParam wParam,
                              LParam lParam, uint32_t timeoutMs, LResult* result) {
  const Request request{static_cast<uint32_t>(operation), window.serial(), message, timeoutMs,
                        static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
  Answer answer{};
  if (window.process() == static_cast<uint32_t>(::getpid())) {
    answer = execute(request);
  } else if (!exchange(window.process(), request, &answer)) {
    return false;
  }
  if (answer.error != 0) {
    setLastError(answer.error);
    return false;
  }
  if (result != nullptr) *result = static_cast<LResult>(answer.result);
  return true;
}

namespace {

bool exchange(uint32_t process, const Request& request, Answer* answer) {
  const std::filesystem::path directory = systemDirectory(kDirectoryName);
  UniqueFd dirFd = openDirectory(directory);
  UniqueFd connection(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  if (!dirFd.valid() || !connection.valid() ||
      !wire::socketAddressIn(dirFd.get(), serverName(process), &address)) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (::connect(connection.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno == ECONNREFUSED || errno == ENOENT) removeLeftovers(directory, process);
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (::send(connection.get(), &request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  // The owner answers within the time-out (it answers 1460 itself when its
  // GUI thread did not run the request in time); a margin covers the trip.
  const int waitMs = request.timeoutMs >= kLongestServe ? -1 : static_cast<int>(request.timeoutMs) + 2000;
  pollfd wait{connection.get(), POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&wait, 1, waitMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    setLastError(ERROR_TIMEOUT);
    return false;
  }
  if (::recv(connection.get(), answer, sizeof *answer, 0) != static_cast<ssize_t>(sizeof *answer)) {
    setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return true;
}

}  // namespace

WindowHandle findWindow(std::u16string_view className) {
  const std::u16string wanted = foldCase(className);
  for (const Candidate& candidate : listCandidates()) {
    if (foldCase(candidate.className) == wanted && isLive(candidate.window)) return candidate.window;
  }
  return {};
}

std::vector<WindowHandle> enumTopLevelWindows() {
  std::vector<WindowHandle> windows;
  for (const Candidate& candidate : listCandidates()) {
    if (isLive(candidate.window)) windows.push_back(candidate.window);
  }
  return windows;
}

std::u16string getClassName(WindowHandle window) {
  if (Window* local = windowFromHandle(window)) return local->className();
  const std::filesystem::path directory = systemDirectory(kDirectoryName);
  std::ifstream file(directory / entryName(window), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return toWide(content.str());
}

uint32_t registerWindowMessage(std::u16string_view name) {
  if (name.empty()) {
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::filesystem::path directory = systemDirectory(kDirectoryName);
  if (directory.empty()) return 0;
  UniqueFd file(::open((directory / kMessagesFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!file.valid() || ::flock(file.get(), LOCK_EX) != 0) {
    setLastErrorFromErrno(errno);
    return 0;
  }
  std::string content;
  char buffer[4096];
  for (ssize_t n; (n = ::read(file.get(), buffer, sizeof buffer)) > 0;) content.append(buffer, static_cast<size_t>(n));
  const std::u16string wanted = foldCase(name);
  uint32_t index = 0;
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line); ++index) {
    if (foldCase(toWide(line)) == wanted) return kFirstRegisteredMessage + index;
  }
  if (index > kLastRegisteredMessage - kFirstRegisteredMessage) {
    setLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const std::string line = toUtf8(name) + "\n";
  if (::write(file.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    setLastErrorFromErrno(errno);
    return 0;
  }
  return kFirstRegisteredMessage + index;
}

}  // namespace platform::ui

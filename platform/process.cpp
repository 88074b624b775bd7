#include "platform/process.h"

#include <link.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/module_lifetime.h"
#include "platform/threads.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace platform {

namespace {

int openPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

bool pidFdExited(int pidFd) {
  pollfd p{pidFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

uint32_t exitCodeFromStatus(const siginfo_t& info) {
  if (info.si_code == CLD_EXITED) return static_cast<uint32_t>(info.si_status);
  return 128u + static_cast<uint32_t>(info.si_status);
}

// Children whose handle was closed while they still ran: waited for on a
// thread of their own, so that none stays behind as a zombie.
class Reaper {
 public:
  static Reaper& instance() {
    static Reaper* reaper = new Reaper;  // lives as long as the process; its thread may outlive statics
    return *reaper;
  }

  void adopt(UniqueFd pidFd) {
    std::lock_guard lock(mutex_);
    if (owner_ != ::getpid()) {  // a forked child inherits no thread
      owner_ = ::getpid();
      pending_.clear();
      wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
      keepModuleLoaded();
      std::thread([this] { run(); }).detach();
    }
    pending_.push_back(std::move(pidFd));
    const uint64_t one = 1;
    (void)::write(wake_.get(), &one, sizeof one);
  }

 private:
  void run() {
    std::vector<UniqueFd> watched;
    int wake;
    {
      std::lock_guard lock(mutex_);
      wake = wake_.get();
    }
    for (;;) {
      std::vector<pollfd> fds{{wake, POLLIN, 0}};
      for (const UniqueFd& fd : watched) fds.push_back({fd.get(), POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents != 0) {
        uint64_t count;
        (void)::read(wake, &count, sizeof count);
        std::lock_guard lock(mutex_);
        for (UniqueFd& fd : pending_) watched.push_back(std::move(fd));
        pending_.clear();
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        siginfo_t info{};
        ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(fds[i].fd), &info, WEXITED | WNOHANG);
        for (auto it = watched.begin(); it != watched.end(); ++it) {
          if (it->get() == fds[i].fd) {
            watched.erase(it);
            break;
          }
        }
      }
    }
  }

  std::mutex mutex_;
  pid_t owner_ = 0;
  UniqueFd wake_;
  std::vector<UniqueFd> pending_;
};

class ProcessObject final : public KernelObject {
 public:
  ProcessObject(pid_t pid, UniqueFd pidFd, bool child) : pid_(pid), pidFd_(std::move(pidFd)), child_(child) {}

  ~ProcessObject() override {
    if (child_ && !reaped_ && !reap()) Reaper::instance().adopt(std::move(pidFd_));
  }

  int readinessFd() const override { return pidFd_.get(); }
  bool tryAcquire() override { return pidFdExited(pidFd_.get()); }

  pid_t pid() const { return pid_; }

  // STILL_ACTIVE while running; false (last error 50) when the code is unknown.
  bool exitCode(uint32_t* code) {
    std::lock_guard lock(mutex_);
    if (!reaped_ && !pidFdExited(pidFd_.get())) {
      *code = STILL_ACTIVE;
      return true;
    }
    if (!child_) {
      setLastError(ERROR_NOT_SUPPORTED);
      return false;
    }
    if (!reaped_) reap();
    *code = exitCode_;
    return true;
  }

  bool terminate(uint32_t code) {
    std::lock_guard lock(mutex_);
    if (reaped_ || pidFdExited(pidFd_.get())) {
      setLastError(ERROR_ACCESS_DENIED);  // as for a process that has ended
      return false;
    }
    if (::syscall(SYS_pidfd_send_signal, pidFd_.get(), SIGKILL, nullptr, 0) != 0) {
      setLastErrorFromErrno(errno);
      return false;
    }
    terminatedWith_ = code;
    terminated_ = true;
    return true;
  }

 private:
  // Collects the exit status of an ended child; false while it runs.
  bool reap() {
    siginfo_t info{};
    if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidFd_.get()), &info, WEXITED | WNOHANG) != 0 ||
        info.si_pid == 0) {
      return false;
    }
    reaped_ = true;
    exitCode_ = terminated_ && info.si_code != CLD_EXITED && info.si_status == SIGKILL ? terminatedWith_
                                                                                       : exitCodeFromStatus(info);
    return true;
  }

  const pid_t pid_;
  UniqueFd pidFd_;
  const bool child_;
  std::mutex mutex_;
  bool reaped_ = false;
  bool terminated_ = false;
  uint32_t terminatedWith_ = 0;
  uint32_t exitCode_ = 0;
};

std::shared_ptr<ProcessObject> processFromHandle(Handle handle) {
  auto process = lookupHandleAs<ProcessObject>(handle);
  if (!process) setLastError(ERROR_INVALID_HANDLE);
  return process;
}

uint32_t spawnError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOEXEC:
    case EISDIR:
      return ERROR_BAD_EXE_FORMAT;
    default:
      return errorFromErrno(err);
  }
}

std::vector<std::string> buildEnvironment(const ProcessOptions& options) {
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [key, value] : options.environment) replaced = replaced || key == name;
    if (!replaced) result.emplace_back(text);
  }
  for (const auto& [key, value] : options.environment) result.push_back(key + "=" + value);
  return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Spawn attributes and file actions, released with the object.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes_);
    posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int prepare(const ProcessOptions& options) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.detached) flags |= POSIX_SPAWN_SETSID;
    int err = posix_spawnattr_setflags(&attributes_, flags);
    if (err == 0) err = posix_spawnattr_setsigmask(&attributes_, &none);
    if (err == 0) err = posix_spawnattr_setsigdefault(&attributes_, &all);
    if (err == 0) err = redirectStandard(options.standardInput, 0, options.detached, O_RDONLY);
    if (err == 0) err = redirectStandard(options.standardOutput, 1, options.detached, O_WRONLY);
    if (err == 0) err = redirectStandard(options.standardError, 2, options.detached, O_WRONLY);
    // Handed-on descriptors first move above every number in play, so that
    // no target overwrites a source still to be copied; then every other
    // descriptor is closed.
    int highest = 2;
    for (const auto& [from, to] : options.descriptors) highest = std::max({highest, from, to});
    int spare = highest + 1;
    std::vector<std::pair<int, int>> moves;
    for (const auto& [from, to] : options.descriptors) {
      if (err == 0) err = posix_spawn_file_actions_adddup2(&actions_, from, spare);
      moves.emplace_back(spare++, to);
    }
    int highestTarget = 2;
    for (const auto& [from, to] : moves) {
      if (err == 0) err = posix_spawn_file_actions_adddup2(&actions_, from, to);
      highestTarget = std::max(highestTarget, to);
    }
    for (int fd = 3; fd <= highestTarget; ++fd) {
      bool target = false;
      for (const auto& move : moves) target = target || move.second == fd;
      if (!target && err == 0) err = posix_spawn_file_actions_addclose(&actions_, fd);
    }
    if (err == 0) err = posix_spawn_file_actions_addclosefrom_np(&actions_, highestTarget + 1);
    if (err == 0 && !options.workingDirectory.empty()) {
      err = posix_spawn_file_actions_addchdir_np(&actions_, options.workingDirectory.c_str());
    }
    return err;
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  int redirectStandard(int fd, int target, bool detached, int mode) {
    if (fd >= 0) return posix_spawn_file_actions_adddup2(&actions_, fd, target);
    if (detached) return posix_spawn_file_actions_addopen(&actions_, target, "/dev/null", mode, 0);
    return 0;
  }

  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

bool isExistingFile(const std::u16string& path) {
  struct stat st{};
  return ::stat(toUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The program named at the start of a command line: a quoted path, or an
// unquoted one that may contain blanks, taken up to the first blank after
// which the words so far name an existing file (the first word when none do).
// `consumed` receives the characters that named it.
std::u16string programOfCommandLine(std::u16string_view commandLine, size_t* consumed) {
  const size_t start = std::min(commandLine.find_first_not_of(u" \t"), commandLine.size());
  if (start < commandLine.size() && commandLine[start] == u'"') {
    const size_t close = commandLine.find(u'"', start + 1);
    *consumed = close == std::u16string_view::npos ? commandLine.size() : close + 1;
    return std::u16string(commandLine.substr(start + 1, std::min(close, commandLine.size()) - start - 1));
  }
  const size_t firstEnd = std::min(commandLine.find_first_of(u" \t", start), commandLine.size());
  for (size_t end = firstEnd; end <= commandLine.size();) {
    const std::u16string candidate(commandLine.substr(start, end - start));
    if (isExistingFile(candidate)) {
      *consumed = end;
      return candidate;
    }
    if (end == commandLine.size()) break;
    end = std::min(commandLine.find_first_of(u" \t", end + 1), commandLine.size());
  }
  *consumed = firstEnd;
  return std::u16string(commandLine.substr(start, firstEnd - start));
}

}  // namespace

uint32_t startProcess(const std::vector<std::string>& arguments, const ProcessOptions& options,
                      ProcessInformation& info) {
  info = ProcessInformation{};
  if (arguments.empty() || arguments[0].empty()) return ERROR_INVALID_PARAMETER;
  SpawnSetup setup;
  if (const int err = setup.prepare(options); err != 0) return errorFromErrno(err);
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = buildEnvironment(options);
  std::vector<char*> argv = pointersTo(argumentTexts);
  std::vector<char*> envp = pointersTo(environmentTexts);

  pid_t pid = 0;
  const bool searchPath = arguments[0].find('/') == std::string::npos;
  const int err = searchPath ? posix_spawnp(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), envp.data())
                             : posix_spawn(&pid, argv[0], setup.actions(), setup.attributes(), argv.data(), envp.data());
  if (err != 0) return spawnError(err);

  UniqueFd pidFd(openPidFd(pid));
  if (!pidFd.valid()) {
    const uint32_t error = errorFromErrno(errno);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return error;
  }
  info.processId = static_cast<uint32_t>(pid);
  info.process = insertHandle(std::make_shared<ProcessObject>(pid, std::move(pidFd), true));
  return 0;
}

std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine) {
  std::vector<std::u16string> arguments;
  size_t i = 0;
  const size_t n = commandLine.size();
  for (;;) {
    while (i < n && (commandLine[i] == u' ' || commandLine[i] == u'\t')) ++i;
    if (i >= n) break;
    std::u16string argument;
    bool quoted = false;
    while (i < n && (quoted || (commandLine[i] != u' ' && commandLine[i] != u'\t'))) {
      size_t backslashes = 0;
      while (i < n && commandLine[i] == u'\\') {
        ++backslashes;
        ++i;
      }
      if (i < n && commandLine[i] == u'"') {
        argument.append(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          argument += u'"';
        } else if (quoted && i + 1 < n && commandLine[i + 1] == u'"') {
          argument += u'"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        argument.append(backslashes, u'\\');
        if (i < n && (quoted || (commandLine[i] != u' ' && commandLine[i] != u'\t'))) argument += commandLine[i++];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::u16string quoteCommandLineArgument(std::u16string_view argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos) {
    return std::u16string(argument);
  }
  std::u16string quoted = u"\"";
  size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

std::vector<std::u16string> commandLineToArguments(std::u16string_view commandLine) {
  size_t consumed = 0;
  std::vector<std::u16string> arguments = {programOfCommandLine(commandLine, &consumed)};
  for (std::u16string& word : splitCommandLine(commandLine.substr(consumed))) arguments.push_back(std::move(word));
  return arguments;
}

bool createProcess(const char16_t* applicationName, const char16_t* commandLine, uint32_t creationFlags,
                   const char16_t* currentDirectory, ProcessInformation* info) {
  if (info == nullptr || ((applicationName == nullptr || *applicationName == 0) &&
                          (commandLine == nullptr || *commandLine == 0))) {
    setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::vector<std::string> arguments;
  if (applicationName != nullptr && *applicationName != 0) {
    arguments.push_back(toUtf8(applicationName));
    if (commandLine != nullptr) {
      const std::vector<std::u16string> words = splitCommandLine(commandLine);
      for (size_t i = 1; i < words.size(); ++i) arguments.push_back(toUtf8(words[i]));
    }
  } else {
    for (const std::u16string& word : commandLineToArguments(commandLine)) arguments.push_back(toUtf8(word));
  }
  ProcessOptions options;
  options.detached = (creationFlags & DETACHED_PROCESS) != 0;
  if (currentDirectory != nullptr) options.workingDirectory = toUtf8(currentDirectory);
  const uint32_t error = startProcess(arguments, options, *info);
  if (error != 0) {
    setLastError(error);
    return false;
  }
  return true;
}

Handle openProcess(uint32_t processId) {
  if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  UniqueFd pidFd(openPidFd(static_cast<pid_t>(processId)));
  if (!pidFd.valid()) {
    setLastError(errno == ESRCH ? ERROR_INVALID_PARAMETER : errorFromErrno(errno));
    return nullptr;
  }
  return insertHandle(std::make_shared<ProcessObject>(static_cast<pid_t>(processId), std::move(pidFd), false));
}

bool getExitCodeProcess(Handle process, uint32_t* exitCode) {
  const auto object = processFromHandle(process);
  if (!object || exitCode == nullptr) {
    if (object) setLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return object->exitCode(exitCode);
}

bool terminateProcess(Handle process, uint32_t exitCode) {
  const auto object = processFromHandle(process);
  return object && object->terminate(exitCode);
}

uint32_t processIdOf(Handle process) {
  const auto object = processFromHandle(process);
  return object ? static_cast<uint32_t>(object->pid()) : 0;
}

uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint32_t programPath(std::u16string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return errorFromErrno(error.value());
  path = toWide(resolved.string());
  return 0;
}

namespace {

struct ModuleSearch {
  uintptr_t address = 0;
  bool found = false;
  bool isProgram = false;
  std::string name;
};

int findModule(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    if (search->address >= begin && search->address < begin + segment.p_memsz) {
      search->found = true;
      search->name = info->dlpi_name != nullptr ? info->dlpi_name : "";
      search->isProgram = search->name.empty();
      return 1;
    }
  }
  return 0;
}

}  // namespace

uint32_t modulePathOf(const void* address, std::u16string& path) {
  ModuleSearch search;
  search.address = reinterpret_cast<uintptr_t>(address);
  if (address == nullptr || ::dl_iterate_phdr(findModule, &search) == 0 || !search.found) {
    return ERROR_INVALID_PARAMETER;
  }
  if (search.isProgram) return programPath(path);
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(search.name, error);
  if (error) return errorFromErrno(error.value());
  path = toWide(resolved.string());
  return 0;
}

}  // namespace platform

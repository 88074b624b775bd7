#include "platform/kernel/device_host.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/device_wire.h"
#include "platform/errors.h"
#include "platform/kernel/connection.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_dir.h"
#include "platform/unique_module.h"

namespace platform::kernel {

namespace {

using Clock = std::chrono::steady_clock;

// How long the host stops accepting when it cannot take a connection at all
// (no descriptor even for refusing it, no kernel memory).
constexpr std::chrono::milliseconds kAcceptPause{100};
// Connections taken from one interface before the others get their turn.
constexpr int kAcceptsPerRound = 16;
// Lines a driver logged during its entry that the failure reason repeats.
constexpr size_t kEntryLinesKept = 4;

class Driver;

struct Interface {
  Driver* owner = nullptr;
  std::shared_ptr<InterfaceEndpoint> endpoint;
  std::string fileName;
  std::string metadataName;
  UniqueFd listenFd;
  UniqueFd lockFd;
  std::mutex mutex;
  bool withdrawn = false;
  std::vector<std::shared_ptr<Connection>> connections;
};

std::string linkText(std::u16string_view link) { return std::string(link.begin(), link.end()); }

std::string hexStatus(NtStatus status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

// The status a driver gets for a file the host could not create.
NtStatus statusFromErrno(int error) {
  switch (error) {
    case EROFS: return 0xC00000A2;  // STATUS_MEDIA_WRITE_PROTECTED
    case EACCES:
    case EPERM: return 0xC0000022;  // STATUS_ACCESS_DENIED
    case ENOSPC:
    case EDQUOT: return 0xC000007F;  // STATUS_DISK_FULL
    default: return STATUS_INSUFFICIENT_RESOURCES;
  }
}

// Removes the metadata files of `name` left by an earlier owner.
void removeStaleMetadata(int dir, const std::string& name) {
  UniqueFd listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  UniqueDir stream(listing.valid() ? ::fdopendir(listing.get()) : nullptr);
  if (!stream.valid()) return;
  listing.release();  // the stream owns it now
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string file = entry->d_name;
    if (file.rfind(name + ".", 0) == 0 && file.find(wire::kInfoSuffix) != std::string::npos) stale.push_back(file);
  }
  for (const auto& file : stale) ::unlinkat(dir, file.c_str(), 0);
}

std::string metadataText(const DeviceInterfaceInfo& info) {
  return "link=" + toUtf8(info.linkName) + "\nclass=" + guidToString(info.interfaceClass) +
         "\ndescription=" + toUtf8(info.description) + "\npid=" + std::to_string(::getpid()) + "\n";
}

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

struct DeviceHost::Impl {
  mutable std::mutex mutex;
  UniqueFd dirFd;
  std::string devicesPath;
  UniqueFd wakeFd;
  std::thread acceptor;
  bool running = false;
  std::vector<std::shared_ptr<Interface>> interfaces;
  std::vector<std::unique_ptr<Driver>> drivers;
  HostLimits limits;
  const std::shared_ptr<HostLog> log = std::make_shared<HostLog>();

  // Open connections per caller process.
  std::mutex quotaMutex;
  std::unordered_map<uint32_t, uint32_t> connectionsOf;

  // The acceptor thread's own.
  UniqueFd spareFd;  // given up to refuse a connection when descriptors run out
  Clock::time_point pausedUntil{};

  NtStatus createInterface(Driver* owner, const DeviceInterfaceInfo& info, DeviceCallbacks callbacks);
  NtStatus removeInterface(Driver* owner, std::u16string_view linkName);
  void withdraw(const std::shared_ptr<Interface>& iface);
  NtStatus runEntry(std::unique_ptr<Driver> driver, DriverEntryFunction entry, std::string* error);
  void unloadDriver(Driver& driver);
  void wake();
  void acceptLoop();
  void acceptOn(const std::shared_ptr<Interface>& iface);
  bool refuseWithSpareDescriptor(const std::shared_ptr<Interface>& iface, int error);
  void admit(const std::shared_ptr<Interface>& iface, UniqueFd fd);
  bool takeQuota(uint32_t processId);
  void returnQuota(uint32_t processId);
  static void reap(Interface& iface);
};

namespace {

class Driver final : public DriverObject {
 public:
  Driver(DeviceHost::Impl& host, std::u16string serviceName, UniqueModule module)
      : host_(host), serviceName_(std::move(serviceName)), registryPath_(serviceRegistryPath(serviceName_)),
        module_(std::move(module)) {}
  ~Driver() override { unload_ = nullptr; }  // the module goes last

  const std::u16string& serviceName() const override { return serviceName_; }
  const std::u16string& registryPath() const override { return registryPath_; }
  NtStatus createInterface(const DeviceInterfaceInfo& info, DeviceCallbacks callbacks) override {
    return host_.createInterface(this, info, std::move(callbacks));
  }
  NtStatus removeInterface(std::u16string_view linkName) override { return host_.removeInterface(this, linkName); }
  void setUnload(std::function<void()> unload) override { unload_ = std::move(unload); }
  void log(std::string_view message) override { report(std::string(message)); }

  // A line of the log about this driver; kept for the failure reason while
  // the entry runs.
  void report(const std::string& line) {
    host_.log->write("driver " + toUtf8(serviceName_) + ": " + line);
    std::lock_guard lock(entryMutex_);
    if (!inEntry_) return;
    entryLines_.push_back(line);
    if (entryLines_.size() > kEntryLinesKept) entryLines_.pop_front();
  }

  void beginEntry() {
    std::lock_guard lock(entryMutex_);
    inEntry_ = true;
  }
  // The lines logged during the entry, joined for a failure reason.
  std::string endEntry() {
    std::lock_guard lock(entryMutex_);
    inEntry_ = false;
    std::string lines;
    for (const auto& line : entryLines_) lines += (lines.empty() ? "" : "; ") + line;
    entryLines_.clear();
    return lines;
  }

  void runUnload() {
    if (unload_) {
      try {
        unload_();
      } catch (...) {
        report("the unload routine failed: " + describeException(std::current_exception()));
      }
    }
    unload_ = nullptr;
  }

 private:
  DeviceHost::Impl& host_;
  std::u16string serviceName_;
  std::u16string registryPath_;
  UniqueModule module_;
  std::function<void()> unload_;
  std::mutex entryMutex_;
  bool inEntry_ = false;
  std::deque<std::string> entryLines_;
};

}  // namespace

std::u16string serviceRegistryPath(const std::u16string& serviceName) {
  return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + serviceName;
}

void DeviceHost::Impl::wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd.get(), &one, sizeof one);
}

NtStatus DeviceHost::Impl::createInterface(Driver* owner, const DeviceInterfaceInfo& info,
                                           DeviceCallbacks callbacks) {
  const std::string name = wire::linkFileName(info.linkName);
  if (name.empty()) return STATUS_INVALID_PARAMETER;
  std::lock_guard lock(mutex);
  if (!running) return STATUS_DEVICE_NOT_CONNECTED;
  for (const auto& existing : interfaces) {
    if (existing->fileName == name) return STATUS_OBJECT_NAME_COLLISION;
  }
  const int dir = dirFd.get();
  auto failed = [&](std::string_view what, const std::string& file, int error) {
    owner->report(fileError(what, devicesPath + "/" + file, error));
    return statusFromErrno(error);
  };

  // The lock file tells a live owner (held lock) from a stale socket left by a
  // host that was killed (lock released by the kernel).
  auto iface = std::make_shared<Interface>();
  const std::string lockName = name + wire::kLockSuffix;
  iface->lockFd.reset(::openat(dir, lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!iface->lockFd.valid()) return failed("cannot create", lockName, errno);
  if (::flock(iface->lockFd.get(), LOCK_EX | LOCK_NB) != 0) return STATUS_OBJECT_NAME_COLLISION;
  ::unlinkat(dir, name.c_str(), 0);
  removeStaleMetadata(dir, name);

  sockaddr_un address;
  if (!wire::socketAddressIn(dir, name, &address)) return STATUS_INVALID_PARAMETER;
  iface->listenFd.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!iface->listenFd.valid()) return failed("cannot create the socket", name, errno);
  if (::bind(iface->listenFd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(iface->listenFd.get(), SOMAXCONN) != 0) {
    const int error = errno;
    ::unlinkat(dir, name.c_str(), 0);
    return failed("cannot create the socket", name, error);
  }

  // The metadata appears last and whole (rename), so that a watcher that sees
  // it can open the interface at once.
  const std::string metadataName = wire::metadataFileName(info.linkName, info.interfaceClass);
  const std::string temporary = name + ".tmp";
  UniqueFd infoFd(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!infoFd.valid()) {
    const int error = errno;
    ::unlinkat(dir, name.c_str(), 0);
    return failed("cannot create", temporary, error);
  }
  if (!writeAll(infoFd.get(), metadataText(info)) ||
      ::renameat(dir, temporary.c_str(), dir, metadataName.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(dir, temporary.c_str(), 0);
    ::unlinkat(dir, name.c_str(), 0);
    return failed("cannot write", metadataName, error);
  }

  iface->owner = owner;
  iface->fileName = name;
  iface->metadataName = metadataName;
  iface->endpoint = std::make_shared<InterfaceEndpoint>(InterfaceEndpoint{info, std::move(callbacks)});
  interfaces.push_back(std::move(iface));
  wake();
  return STATUS_SUCCESS;
}

NtStatus DeviceHost::Impl::removeInterface(Driver* owner, std::u16string_view linkName) {
  const std::string name = wire::linkFileName(linkName);
  std::shared_ptr<Interface> iface;
  {
    std::lock_guard lock(mutex);
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const auto& candidate) { return candidate->fileName == name && candidate->owner == owner; });
    if (name.empty() || it == interfaces.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    if ((*it)->endpoint.get() == servingEndpoint()) {
      // Withdrawing would wait for the very thread that asks.
      return STATUS_INVALID_DEVICE_REQUEST;
    }
    iface = *it;
    interfaces.erase(it);
  }
  wake();
  withdraw(iface);
  return STATUS_SUCCESS;
}

// Stops accepting, ends every file object (cleanup runs), then removes the
// metadata, which tells watchers that the removal is complete.
void DeviceHost::Impl::withdraw(const std::shared_ptr<Interface>& iface) {
  const int dir = dirFd.get();
  ::unlinkat(dir, iface->fileName.c_str(), 0);
  std::vector<std::shared_ptr<Connection>> connections;
  {
    std::lock_guard lock(iface->mutex);
    iface->withdrawn = true;
    connections.swap(iface->connections);
  }
  for (const auto& connection : connections) connection->shutdown();
  for (const auto& connection : connections) connection->join();
  // No callback can run any more. They are code of the driver's module, so
  // they go now, not whenever the last holder of the endpoint lets go of it.
  iface->endpoint->callbacks = DeviceCallbacks{};
  if (::unlinkat(dir, iface->metadataName.c_str(), 0) != 0 && errno != ENOENT) {
    log->write(fileError("cannot remove", devicesPath + "/" + iface->metadataName, errno));
  }
  iface->lockFd.reset();
}

bool DeviceHost::Impl::takeQuota(uint32_t processId) {
  std::lock_guard lock(quotaMutex);
  uint32_t& count = connectionsOf[processId];
  if (count >= limits.connectionsPerProcess) return false;
  ++count;
  return true;
}

void DeviceHost::Impl::returnQuota(uint32_t processId) {
  std::lock_guard lock(quotaMutex);
  auto it = connectionsOf.find(processId);
  if (it == connectionsOf.end()) return;
  if (--it->second == 0) connectionsOf.erase(it);
}

// Joins and forgets the connections whose threads have finished; their
// sockets are closed already.
void DeviceHost::Impl::reap(Interface& iface) {
  std::vector<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard lock(iface.mutex);
    auto& list = iface.connections;
    auto split = std::partition(list.begin(), list.end(), [](const auto& c) { return !c->finished(); });
    finished.assign(std::make_move_iterator(split), std::make_move_iterator(list.end()));
    list.erase(split, list.end());
  }
  for (const auto& done : finished) done->join();
}

void DeviceHost::Impl::admit(const std::shared_ptr<Interface>& iface, UniqueFd fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length);
  const auto processId = static_cast<uint32_t>(peer.pid);
  wire::setSocketBuffers(fd.get());

  ConnectionSettings settings;
  settings.limits = limits;
  settings.log = log;
  settings.finished = [this, processId] {
    returnQuota(processId);
    wake();  // the acceptor forgets the finished connection
  };
  auto connection = std::make_shared<Connection>(iface->endpoint, std::move(fd), processId, std::move(settings));
  const std::string where = "a connection of process " + std::to_string(processId) + " to " +
                            linkText(iface->endpoint->info.linkName);
  if (!takeQuota(processId)) {
    log->writeThrottled("refused " + where + ": the process has " + std::to_string(limits.connectionsPerProcess) +
                        " open connections, the most one process may have");
    connection->refuse(STATUS_QUOTA_EXCEEDED);
    return;
  }
  std::lock_guard lock(iface->mutex);
  if (iface->withdrawn) {
    returnQuota(processId);
    return;  // closing `connection` tells the caller
  }
  if (const int error = connection->start(); error != 0) {
    returnQuota(processId);
    log->writeThrottled("refused " + where + ": cannot start its thread: " + systemMessage(error));
    connection->refuse(STATUS_INSUFFICIENT_RESOURCES);
    return;
  }
  iface->connections.push_back(std::move(connection));
}

// Out of descriptors: the spare one makes room to take the newest connection
// and refuse it with a status, so that its caller hears why and the listening
// socket does not stay readable (which would make the loop spin). False when
// no connection was waiting (accept reports the lack of descriptors first).
bool DeviceHost::Impl::refuseWithSpareDescriptor(const std::shared_ptr<Interface>& iface, int error) {
  spareFd.reset();
  UniqueFd fd(::accept4(iface->listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  const int acceptError = errno;
  const bool refused = fd.valid();
  if (refused) {
    wire::MessageHeader created;
    created.type = wire::kCreated;
    created.status = STATUS_INSUFFICIENT_RESOURCES;
    wire::sendMessage(fd.get(), created, nullptr, 0, -1, MSG_DONTWAIT);
    fd.reset();
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    log->writeThrottled("refused a connection to " + linkText(iface->endpoint->info.linkName) + ": " +
                        systemMessage(error) + " (the limit is " + std::to_string(files.rlim_cur) +
                        " open files)");
  } else if (acceptError != EAGAIN && acceptError != EWOULDBLOCK) {
    pausedUntil = Clock::now() + kAcceptPause;
  }
  spareFd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!spareFd.valid()) pausedUntil = Clock::now() + kAcceptPause;
  return refused;
}

void DeviceHost::Impl::acceptOn(const std::shared_ptr<Interface>& iface) {
  for (int accepted = 0; accepted < kAcceptsPerRound; ++accepted) {
    UniqueFd fd(::accept4(iface->listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.valid()) {
      try {
        admit(iface, std::move(fd));
      } catch (...) {
        log->writeThrottled("refused a connection to " + linkText(iface->endpoint->info.linkName) + ": " +
                            describeException(std::current_exception()));
      }
      continue;
    }
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) return;
    if (error == EINTR || error == ECONNABORTED) continue;
    if ((error == EMFILE || error == ENFILE) && spareFd.valid()) {
      if (!refuseWithSpareDescriptor(iface, error) || pausedUntil > Clock::now()) return;
      continue;
    }
    log->writeThrottled("cannot accept connections to " + linkText(iface->endpoint->info.linkName) + ": " +
                        systemMessage(error));
    pausedUntil = Clock::now() + kAcceptPause;
    return;
  }
}

void DeviceHost::Impl::acceptLoop() {
  spareFd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  for (;;) {
    std::vector<std::shared_ptr<Interface>> snapshot;
    {
      std::lock_guard lock(mutex);
      if (!running) return;
      snapshot = interfaces;
    }
    for (const auto& iface : snapshot) reap(*iface);
    if (!spareFd.valid()) spareFd.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));

    const auto now = Clock::now();
    const bool paused = pausedUntil > now;
    std::vector<pollfd> fds{pollfd{wakeFd.get(), POLLIN, 0}};
    if (!paused) {
      for (const auto& iface : snapshot) fds.push_back(pollfd{iface->listenFd.get(), POLLIN, 0});
    }
    const int timeout =
        paused ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(pausedUntil - now).count()) : -1;
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      log->writeThrottled("the device host's accept loop cannot wait: " + systemMessage(errno));
      pausedUntil = Clock::now() + kAcceptPause;
      continue;
    }
    if (fds[0].revents != 0) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = ::read(wakeFd.get(), &count, sizeof count);
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents != 0) acceptOn(snapshot[i - 1]);
    }
  }
}

NtStatus DeviceHost::Impl::runEntry(std::unique_ptr<Driver> driver, DriverEntryFunction entry, std::string* error) {
  Driver* raw = driver.get();
  {
    std::lock_guard lock(mutex);
    if (!running) {
      if (error) *error = "the device host is not running";
      return STATUS_DEVICE_NOT_CONNECTED;
    }
    drivers.push_back(std::move(driver));
  }
  NtStatus status;
  raw->beginEntry();
  try {
    status = entry(raw, raw->registryPath().c_str());
  } catch (...) {
    raw->report("the entry failed: " + describeException(std::current_exception()));
    status = STATUS_UNSUCCESSFUL;
  }
  const std::string lines = raw->endEntry();
  if (status != STATUS_SUCCESS) {
    const std::string reason = "the driver's entry failed with status " + hexStatus(status) +
                               (lines.empty() ? std::string() : ": " + lines);
    log->write("driver " + toUtf8(raw->serviceName()) + " not started: " + reason);
    if (error) *error = reason;
    // A driver whose entry fails is not started: no unload call, as on the original system.
    raw->setUnload(nullptr);
    unloadDriver(*raw);
  }
  return status;
}

void DeviceHost::Impl::unloadDriver(Driver& driver) {
  std::vector<std::shared_ptr<Interface>> owned;
  std::unique_ptr<Driver> holder;
  {
    std::lock_guard lock(mutex);
    auto split = std::stable_partition(interfaces.begin(), interfaces.end(),
                                       [&](const auto& iface) { return iface->owner != &driver; });
    owned.assign(split, interfaces.end());
    interfaces.erase(split, interfaces.end());
    auto it = std::find_if(drivers.begin(), drivers.end(), [&](const auto& d) { return d.get() == &driver; });
    if (it != drivers.end()) {
      holder = std::move(*it);
      drivers.erase(it);
    }
  }
  wake();
  for (const auto& iface : owned) withdraw(iface);
  owned.clear();  // the callbacks (code of the module) go before the module
  driver.runUnload();
}

DeviceHost::DeviceHost() : impl_(std::make_unique<Impl>()) {}

DeviceHost::~DeviceHost() { stop(); }

void DeviceHost::setLimits(const HostLimits& limits) {
  std::lock_guard lock(impl_->mutex);
  impl_->limits = limits;
}

void DeviceHost::setLogSink(HostLog::Sink sink) { impl_->log->setSink(std::move(sink)); }

HostLog& DeviceHost::log() { return *impl_->log; }

uint32_t DeviceHost::start(std::string* error) {
  std::lock_guard lock(impl_->mutex);
  if (impl_->running) return ERROR_ALREADY_INITIALIZED;
  const std::filesystem::path dir = systemRoot() / wire::kDevicesDirectory;
  auto fail = [&](std::string_view what, int err) {
    const std::string reason = fileError(what, dir.string(), err);
    impl_->log->write(reason);
    if (error) *error = reason;
    return setLastErrorFromErrno(err);
  };
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return fail("cannot create", ec.value());
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd.valid()) return fail("cannot open", errno);
  UniqueFd wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wakeFd.valid()) return fail("cannot start the device host on", errno);
  impl_->dirFd = std::move(dirFd);
  impl_->devicesPath = dir.string();
  impl_->wakeFd = std::move(wakeFd);
  impl_->running = true;
  try {
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
  } catch (const std::system_error& e) {
    impl_->running = false;
    return fail("cannot start the device host on", e.code().value());
  }
  return ERROR_SUCCESS;
}

NtStatus DeviceHost::loadDriver(const std::string& modulePath, const std::u16string& serviceName,
                                std::string* error) {
  UniqueModule module(::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!module.valid()) {
    const std::string reason = ::dlerror();
    impl_->log->write("cannot load driver " + modulePath + ": " + reason);
    if (error) *error = reason;
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto entry = reinterpret_cast<DriverEntryFunction>(::dlsym(module.get(), kDriverEntryName));
  if (entry == nullptr) {
    const std::string reason = modulePath + " has no " + kDriverEntryName + " function";
    impl_->log->write("cannot load driver: " + reason);
    if (error) *error = reason;
    return STATUS_INVALID_IMAGE_FORMAT;
  }
  return impl_->runEntry(std::make_unique<Driver>(*impl_, serviceName, std::move(module)), entry, error);
}

NtStatus DeviceHost::addDriver(DriverEntryFunction entry, const std::u16string& serviceName, std::string* error) {
  if (entry == nullptr) return STATUS_INVALID_PARAMETER;
  return impl_->runEntry(std::make_unique<Driver>(*impl_, serviceName, UniqueModule()), entry, error);
}

void DeviceHost::stop() {
  for (;;) {
    Driver* driver = nullptr;
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->drivers.empty()) break;
      driver = impl_->drivers.back().get();
    }
    impl_->unloadDriver(*driver);
  }
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->running) return;
    impl_->running = false;
  }
  impl_->wake();
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  impl_->dirFd.reset();
  impl_->wakeFd.reset();
  impl_->spareFd.reset();
}

std::filesystem::path DeviceHost::devicesDirectory() const { return systemRoot() / wire::kDevicesDirectory; }

std::vector<DeviceInterfaceInfo> DeviceHost::interfaces() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<DeviceInterfaceInfo> result;
  for (const auto& iface : impl_->interfaces) result.push_back(iface->endpoint->info);
  return result;
}

}  // namespace platform::kernel

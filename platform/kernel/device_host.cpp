#include "platform/kernel/device_host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/errors.h"
#include "platform/kernel/connection.h"
#include "platform/kernel/wire.h"
#include "platform/system_root.h"
#include "platform/text.h"

namespace platform::kernel {

namespace {

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

// Removes the metadata files of `name` left by an earlier owner.
void removeStaleMetadata(int dir, const std::string& name) {
  UniqueFd listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* stream = listing.valid() ? ::fdopendir(listing.release()) : nullptr;
  if (stream == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string file = entry->d_name;
    if (file.rfind(name + ".", 0) == 0 && file.find(wire::kInfoSuffix) != std::string::npos) stale.push_back(file);
  }
  ::closedir(stream);
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
  UniqueFd wakeFd;
  std::thread acceptor;
  bool running = false;
  std::vector<std::shared_ptr<Interface>> interfaces;
  std::vector<std::unique_ptr<Driver>> drivers;

  NtStatus createInterface(Driver* owner, const DeviceInterfaceInfo& info, DeviceCallbacks callbacks);
  NtStatus removeInterface(Driver* owner, std::u16string_view linkName);
  void withdraw(const std::shared_ptr<Interface>& iface);
  NtStatus runEntry(std::unique_ptr<Driver> driver, DriverEntryFunction entry, std::string* error);
  void unloadDriver(Driver& driver);
  void wake();
  void acceptLoop();
  void acceptOn(const std::shared_ptr<Interface>& iface);
};

namespace {

class Driver final : public DriverObject {
 public:
  Driver(DeviceHost::Impl& host, std::u16string serviceName, void* module)
      : host_(host), serviceName_(std::move(serviceName)), registryPath_(serviceRegistryPath(serviceName_)),
        module_(module) {}
  ~Driver() override {
    unload_ = nullptr;
    if (module_ != nullptr) ::dlclose(module_);
  }

  const std::u16string& serviceName() const override { return serviceName_; }
  const std::u16string& registryPath() const override { return registryPath_; }
  NtStatus createInterface(const DeviceInterfaceInfo& info, DeviceCallbacks callbacks) override {
    return host_.createInterface(this, info, std::move(callbacks));
  }
  NtStatus removeInterface(std::u16string_view linkName) override { return host_.removeInterface(this, linkName); }
  void setUnload(std::function<void()> unload) override { unload_ = std::move(unload); }

  void runUnload() {
    if (unload_) {
      try {
        unload_();
      } catch (...) {
      }
    }
    unload_ = nullptr;
  }

 private:
  DeviceHost::Impl& host_;
  std::u16string serviceName_;
  std::u16string registryPath_;
  void* module_;
  std::function<void()> unload_;
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

  // The lock file tells a live owner (held lock) from a stale socket left by a
  // host that was killed (lock released by the kernel).
  auto iface = std::make_shared<Interface>();
  iface->lockFd.reset(::openat(dir, (name + wire::kLockSuffix).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!iface->lockFd.valid()) return STATUS_INSUFFICIENT_RESOURCES;
  if (::flock(iface->lockFd.get(), LOCK_EX | LOCK_NB) != 0) return STATUS_OBJECT_NAME_COLLISION;
  ::unlinkat(dir, name.c_str(), 0);
  removeStaleMetadata(dir, name);

  sockaddr_un address;
  if (!wire::socketAddressIn(dir, name, &address)) return STATUS_INVALID_PARAMETER;
  iface->listenFd.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!iface->listenFd.valid() ||
      ::bind(iface->listenFd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(iface->listenFd.get(), 64) != 0) {
    ::unlinkat(dir, name.c_str(), 0);
    return STATUS_INSUFFICIENT_RESOURCES;
  }

  // The metadata appears last and whole (rename), so that a watcher that sees
  // it can open the interface at once.
  const std::string metadataName = wire::metadataFileName(info.linkName, info.interfaceClass);
  const std::string temporary = name + ".tmp";
  UniqueFd info_fd(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!info_fd.valid() || !writeAll(info_fd.get(), metadataText(info)) ||
      ::renameat(dir, temporary.c_str(), dir, metadataName.c_str()) != 0) {
    ::unlinkat(dir, temporary.c_str(), 0);
    ::unlinkat(dir, name.c_str(), 0);
    return STATUS_INSUFFICIENT_RESOURCES;
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
  ::unlinkat(dir, iface->metadataName.c_str(), 0);
  iface->lockFd.reset();
}

void DeviceHost::Impl::acceptOn(const std::shared_ptr<Interface>& iface) {
  UniqueFd fd(::accept4(iface->listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!fd.valid()) return;
  wire::setSocketBuffers(fd.get());
  ucred peer{};
  socklen_t length = sizeof peer;
  ::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length);
  auto connection = std::make_shared<Connection>(iface->endpoint, std::move(fd), static_cast<uint32_t>(peer.pid));

  std::vector<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard lock(iface->mutex);
    if (iface->withdrawn) return;  // closing `connection` tells the caller
    auto& list = iface->connections;
    auto split = std::partition(list.begin(), list.end(), [](const auto& c) { return !c->finished(); });
    finished.assign(split, list.end());
    list.erase(split, list.end());
    list.push_back(connection);
    connection->start();
  }
  for (const auto& done : finished) done->join();
}

void DeviceHost::Impl::acceptLoop() {
  for (;;) {
    std::vector<std::shared_ptr<Interface>> snapshot;
    {
      std::lock_guard lock(mutex);
      if (!running) return;
      snapshot = interfaces;
    }
    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeFd.get(), POLLIN, 0});
    for (const auto& iface : snapshot) fds.push_back(pollfd{iface->listenFd.get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
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
  try {
    status = entry(raw, raw->registryPath().c_str());
  } catch (...) {
    status = STATUS_UNSUCCESSFUL;
  }
  if (status != STATUS_SUCCESS) {
    if (error) *error = "the driver's entry failed with status " + std::to_string(status);
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

uint32_t DeviceHost::start() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->running) return ERROR_ALREADY_INITIALIZED;
  const std::filesystem::path dir = systemDirectory(wire::kDevicesDirectory);
  if (dir.empty()) return lastError();
  UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  UniqueFd wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!dirFd.valid() || !wakeFd.valid()) return setLastErrorFromErrno(errno);
  impl_->dirFd = std::move(dirFd);
  impl_->wakeFd = std::move(wakeFd);
  impl_->running = true;
  impl_->acceptor = std::thread([impl = impl_.get()] { impl->acceptLoop(); });
  return ERROR_SUCCESS;
}

NtStatus DeviceHost::loadDriver(const std::string& modulePath, const std::u16string& serviceName,
                                std::string* error) {
  void* module = ::dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    if (error) *error = ::dlerror();
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  auto entry = reinterpret_cast<DriverEntryFunction>(::dlsym(module, kDriverEntryName));
  if (entry == nullptr) {
    if (error) *error = modulePath + " has no " + kDriverEntryName + " function";
    ::dlclose(module);
    return STATUS_INVALID_IMAGE_FORMAT;
  }
  return impl_->runEntry(std::make_unique<Driver>(*impl_, serviceName, module), entry, error);
}

NtStatus DeviceHost::addDriver(DriverEntryFunction entry, const std::u16string& serviceName, std::string* error) {
  if (entry == nullptr) return STATUS_INVALID_PARAMETER;
  return impl_->runEntry(std::make_unique<Driver>(*impl_, serviceName, nullptr), entry, error);
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
}

std::filesystem::path DeviceHost::devicesDirectory() const { return systemRoot() / wire::kDevicesDirectory; }

std::vector<DeviceInterfaceInfo> DeviceHost::interfaces() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<DeviceInterfaceInfo> result;
  for (const auto& iface : impl_->interfaces) result.push_back(iface->endpoint->info);
  return result;
}

}  // namespace platform::kernel

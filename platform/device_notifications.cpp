#include "platform/device_notifications.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/apc.h"
#include "platform/errors.h"
#include "platform/device_wire.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform {

namespace {

struct Registration {
  DeviceNotificationRecipient* recipient = nullptr;
  Guid interfaceClass;
  bool allClasses = false;
  bool onOwnThread = false;            // window recipients: run as an APC of the registering thread
  std::weak_ptr<ApcQueue> queue;
  std::atomic<bool> active{true};
};

struct KnownInterface {
  Guid interfaceClass;
  std::u16string linkName;
};

bool parseMetadata(const std::string& fileName, KnownInterface* known) {
  return wire::parseMetadataFileName(fileName, &known->linkName, &known->interfaceClass);
}

// Watches the devices directory of one system root on its own thread.
class WatchSession {
 public:
  using Deliver = std::function<void(uint32_t, const KnownInterface&)>;

  static std::shared_ptr<WatchSession> start(Deliver deliver) {
    auto session = std::shared_ptr<WatchSession>(new WatchSession(std::move(deliver)));
    session->dir_ = systemDirectory(wire::kDevicesDirectory);
    if (session->dir_.empty()) return nullptr;
    session->inotify_.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    session->stop_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!session->inotify_.valid() || !session->stop_.valid() ||
        ::inotify_add_watch(session->inotify_.get(), session->dir_.c_str(),
                            IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM) < 0) {
      setLastErrorFromErrno(errno);
      return nullptr;
    }
    session->known_ = session->scan();
    try {
      session->thread_ = std::thread([session] { session->run(); });
    } catch (const std::system_error& e) {
      setLastErrorFromErrno(e.code().value() != 0 ? e.code().value() : EAGAIN);
      return nullptr;
    }
    return session;
  }

  // Ends the thread; from the thread itself it only tells it to end.
  void stop() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_.get(), &one, sizeof one);
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  explicit WatchSession(Deliver deliver) : deliver_(std::move(deliver)) {}

  std::map<std::string, KnownInterface> scan() const {
    std::map<std::string, KnownInterface> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
      const std::string name = entry.path().filename().string();
      KnownInterface known;
      if (parseMetadata(name, &known)) found[name] = known;
    }
    return found;
  }

  void run() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents != 0) return;
      const ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
      for (ssize_t at = 0; n > 0 && at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        handle(*event);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  void handle(const inotify_event& event) {
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
      resynchronise();
      return;
    }
    if (event.len == 0) return;
    const std::string name = event.name;
    KnownInterface known;
    if (!parseMetadata(name, &known)) return;
    if ((event.mask & (IN_MOVED_TO | IN_CREATE)) != 0) {
      if (!known_.emplace(name, known).second) return;  // already reported
      deliver_(DBT_DEVICEARRIVAL, known);
    } else if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
      auto it = known_.find(name);
      if (it == known_.end()) return;
      const KnownInterface gone = it->second;
      known_.erase(it);
      deliver_(DBT_DEVICEREMOVECOMPLETE, gone);
    }
  }

  // Events were lost: compare the directory with what we knew.
  void resynchronise() {
    std::map<std::string, KnownInterface> now = scan();
    for (const auto& [name, known] : known_) {
      if (now.find(name) == now.end()) deliver_(DBT_DEVICEREMOVECOMPLETE, known);
    }
    for (const auto& [name, known] : now) {
      if (known_.find(name) == known_.end()) deliver_(DBT_DEVICEARRIVAL, known);
    }
    known_ = std::move(now);
  }

  Deliver deliver_;
  std::filesystem::path dir_;
  UniqueFd inotify_;
  UniqueFd stop_;
  std::thread thread_;
  std::map<std::string, KnownInterface> known_;  // by metadata file name
};

// The registrations of this process. The watcher runs while there is one.
class Notifier {
 public:
  static Notifier& instance() {
    static auto* notifier = new Notifier;  // lives until exit
    return *notifier;
  }

  DeviceNotifyHandle add(std::shared_ptr<Registration> registration) {
    std::lock_guard lock(mutex_);
    if (!session_) {
      session_ = WatchSession::start([this](uint32_t event, const KnownInterface& known) { deliver(event, known); });
      if (!session_) return nullptr;
    }
    registrations_.push_back(registration);
    return registration.get();
  }

  bool remove(DeviceNotifyHandle handle) {
    std::shared_ptr<WatchSession> ending;
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(registrations_.begin(), registrations_.end(),
                             [&](const auto& r) { return r.get() == handle; });
      if (it == registrations_.end()) {
        setLastError(ERROR_INVALID_HANDLE);
        return false;
      }
      (*it)->active.store(false);
      registrations_.erase(it);
      if (registrations_.empty()) ending = std::move(session_);
    }
    // Waits for a call in progress on the internal thread (re-entrant for a
    // recipient that unregisters from inside its own call).
    { std::lock_guard delivery(deliveryMutex_); }
    if (ending) ending->stop();
    return true;
  }

 private:
  void deliver(uint32_t event, const KnownInterface& known) {
    const auto record = std::make_shared<const std::vector<uint8_t>>(
        makeDeviceInterfaceRecord(known.interfaceClass, known.linkName));
    std::vector<std::shared_ptr<Registration>> targets;
    {
      std::lock_guard lock(mutex_);
      for (const auto& r : registrations_) {
        if (r->allClasses || r->interfaceClass == known.interfaceClass) targets.push_back(r);
      }
    }
    for (const auto& target : targets) {
      if (target->onOwnThread) {
        queueApc(target->queue, [target, event, record] {
          if (target->active.load()) target->recipient->onDeviceChange(event, record->data());
        });
      } else {
        std::lock_guard delivery(deliveryMutex_);
        if (target->active.load()) target->recipient->onDeviceChange(event, record->data());
      }
    }
  }

  std::mutex mutex_;
  std::recursive_mutex deliveryMutex_;
  std::vector<std::shared_ptr<Registration>> registrations_;
  std::shared_ptr<WatchSession> session_;
};

}  // namespace

bool deviceInterfaceRecordHasName(const uint8_t* record) {
  if (record == nullptr) return false;
  char16_t first = 0;
  std::memcpy(&first, record + kDeviceInterfaceRecordNameOffset, sizeof first);
  return first != 0;
}

std::vector<uint8_t> makeDeviceInterfaceRecord(const Guid& classGuid, std::u16string_view name) {
  const size_t size =
      std::max(kDeviceInterfaceRecordMinimumSize, kDeviceInterfaceRecordNameOffset + (name.size() + 1) * 2);
  std::vector<uint8_t> record(size, 0);
  const uint32_t header[3] = {static_cast<uint32_t>(size), DBT_DEVTYP_DEVICEINTERFACE, 0};
  std::memcpy(record.data(), header, sizeof header);
  std::memcpy(record.data() + 12, &classGuid, sizeof classGuid);
  std::memcpy(record.data() + kDeviceInterfaceRecordNameOffset, name.data(), name.size() * 2);
  return record;
}

DeviceNotifyHandle registerDeviceNotification(DeviceNotificationRecipient* recipient, const void* filter,
                                              uint32_t flags) {
  const uint32_t kind = flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES;
  if (recipient == nullptr || (kind != DEVICE_NOTIFY_WINDOW_HANDLE && kind != DEVICE_NOTIFY_SERVICE_HANDLE)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  uint32_t header[3] = {};
  if (filter != nullptr) std::memcpy(header, filter, sizeof header);
  if (filter == nullptr || header[0] < kDeviceInterfaceRecordNameOffset || header[1] != DBT_DEVTYP_DEVICEINTERFACE) {
    setLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  auto registration = std::make_shared<Registration>();
  registration->recipient = recipient;
  std::memcpy(&registration->interfaceClass, static_cast<const uint8_t*>(filter) + 12, sizeof(Guid));
  registration->allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
  registration->onOwnThread = kind == DEVICE_NOTIFY_WINDOW_HANDLE;
  if (registration->onOwnThread) registration->queue = currentApcQueue();
  return Notifier::instance().add(std::move(registration));
}

bool unregisterDeviceNotification(DeviceNotifyHandle registration) {
  if (registration == nullptr) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return Notifier::instance().remove(registration);
}

}  // namespace platform

#include "platform/mutexes.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace platform {

namespace {

// Layout of a named mutex's file: byte 0 carries the shared "exists" locks of
// every open handle, byte 1 the exclusive ownership lock, and bytes 8..11 the
// process id of the owner, cleared on release, so that an owner that died is
// recognised as abandoned.
constexpr off_t kExistsByte = 0;
constexpr off_t kOwnershipByte = 1;
constexpr off_t kOwnerPidOffset = 8;

bool setLock(int fd, short type, off_t start, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = start;
  lock.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// File names keep letters and digits; everything else is escaped, and very
// long names are shortened with a hash so any name maps to a valid file name.
std::string fileNameFor(std::u16string_view name) {
  const std::string utf8 = toUtf8(name);
  std::string out = "mutex-";
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.') {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  if (out.size() > 200) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "#%016zx", std::hash<std::string>{}(utf8));
    out = out.substr(0, 180) + hash;
  }
  return out;
}

class MutexObject final : public KernelObject {
 public:
  // An unnamed mutex, local to this process.
  MutexObject() : released_(EventObject::create(true, true)) {}
  // A named mutex whose file descriptor holds this handle's "exists" lock.
  explicit MutexObject(UniqueFd file) : file_(std::move(file)) {}

  bool valid() const { return file_.valid() || released_ != nullptr; }

  int readinessFd() const override {
    // Ownership held by another process cannot be watched; waits retry it.
    return released_ ? released_->fd() : -1;
  }

  bool tryAcquire() override {
    const uint32_t me = currentThreadId();
    std::lock_guard lock(mutex_);
    abandoned_ = false;
    if (owner_ == me) {
      ++depth_;
      return true;
    }
    if (owner_ != 0) return false;
    if (file_.valid()) {
      if (!setLock(file_.get(), F_WRLCK, kOwnershipByte, false)) return false;
      abandoned_ = readOwnerPid() != 0;
      writeOwnerPid(static_cast<uint32_t>(::getpid()));
    }
    owner_ = me;
    depth_ = 1;
    if (released_) released_->reset();
    return true;
  }

  bool wasAbandoned() const override { return abandoned_; }

  bool release() {
    std::lock_guard lock(mutex_);
    if (owner_ != currentThreadId()) {
      setLastError(ERROR_NOT_OWNER);
      return false;
    }
    if (--depth_ > 0) return true;
    owner_ = 0;
    if (file_.valid()) {
      writeOwnerPid(0);
      setLock(file_.get(), F_UNLCK, kOwnershipByte, false);
    }
    if (released_) released_->set();
    return true;
  }

 private:
  uint32_t readOwnerPid() const {
    uint32_t pid = 0;
    return ::pread(file_.get(), &pid, sizeof pid, kOwnerPidOffset) == sizeof pid ? pid : 0;
  }
  void writeOwnerPid(uint32_t pid) const { [[maybe_unused]] auto n = ::pwrite(file_.get(), &pid, sizeof pid, kOwnerPidOffset); }

  UniqueFd file_;
  std::shared_ptr<EventObject> released_;
  std::mutex mutex_;
  uint32_t owner_ = 0;
  int depth_ = 0;
  bool abandoned_ = false;
};

std::filesystem::path mutexPath(const char16_t* name) {
  const std::filesystem::path dir = systemDirectory("objects");
  if (dir.empty()) return {};
  return dir / fileNameFor(name);
}

// Opens the named mutex's file and takes this handle's "exists" lock. Sets
// `created` when no other handle held one.
UniqueFd openNamed(const char16_t* name, bool& created) {
  const std::filesystem::path path = mutexPath(name);
  if (path.empty()) return UniqueFd();
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666));
  if (!fd.valid()) {
    setLastErrorFromErrno(errno);
    return fd;
  }
  // A write lock succeeds only when nobody holds the mutex open; it is then
  // turned into a shared lock atomically. Otherwise wait out a concurrent
  // creator's brief write lock and share.
  created = setLock(fd.get(), F_WRLCK, kExistsByte, false);
  if (created) {
    uint32_t zero = 0;
    [[maybe_unused]] auto n = ::pwrite(fd.get(), &zero, sizeof zero, kOwnerPidOffset);
  }
  if (!setLock(fd.get(), F_RDLCK, kExistsByte, true)) {
    setLastErrorFromErrno(errno);
    return UniqueFd();
  }
  return fd;
}

std::shared_ptr<MutexObject> mutexFromHandle(Handle handle) {
  auto mutex = lookupHandleAs<MutexObject>(handle);
  if (!mutex) setLastError(ERROR_INVALID_HANDLE);
  return mutex;
}

}  // namespace

Handle createMutex(bool initialOwner, const char16_t* name) {
  std::shared_ptr<MutexObject> mutex;
  bool existed = false;
  if (name == nullptr || *name == u'\0') {
    mutex = std::make_shared<MutexObject>();
  } else {
    bool created = false;
    UniqueFd fd = openNamed(name, created);
    if (!fd.valid()) return nullptr;
    existed = !created;
    mutex = std::make_shared<MutexObject>(std::move(fd));
  }
  if (!mutex->valid()) return nullptr;
  if (initialOwner && !existed) mutex->tryAcquire();
  setLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return insertHandle(std::move(mutex));
}

Handle openMutex(const char16_t* name) {
  if (name == nullptr || *name == u'\0') {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::filesystem::path path = mutexPath(name);
  if (path.empty()) return nullptr;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  // The mutex exists only while some handle holds its shared lock.
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kExistsByte;
  probe.l_len = 1;
  if (::fcntl(fd.get(), F_OFD_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (!setLock(fd.get(), F_RDLCK, kExistsByte, true)) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  setLastError(ERROR_SUCCESS);
  return insertHandle(std::make_shared<MutexObject>(std::move(fd)));
}

bool releaseMutex(Handle mutex) {
  auto object = mutexFromHandle(mutex);
  return object && object->release();
}

}  // namespace platform

#include "platform/kernel/caller_memory.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace platform::kernel {

namespace {

class CallerMapping final : public MappedMemory {
 public:
  CallerMapping(void* base, size_t mapSize, size_t offset, size_t size)
      : base_(base), mapSize_(mapSize), offset_(offset), size_(size) {}
  ~CallerMapping() override { ::munmap(base_, mapSize_); }
  CallerMapping(const CallerMapping&) = delete;
  CallerMapping& operator=(const CallerMapping&) = delete;
  uint8_t* data() override { return static_cast<uint8_t*>(base_) + offset_; }
  size_t size() const override { return size_; }

 private:
  void* base_;
  size_t mapSize_;
  size_t offset_;
  size_t size_;
};

// The size of an acceptable memory file, or 0.
uint64_t sealedMemoryFileSize(int fd) {
  struct stat st {};
  struct statfs fs {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
  if (::fstatfs(fd, &fs) != 0 || fs.f_type != TMPFS_MAGIC) return 0;
  const int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || (seals & F_SEAL_SHRINK) == 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace

NtStatus mapCallerMemory(int fd, uint64_t offset, uint64_t length, std::shared_ptr<MappedMemory>* memory) {
  const uint64_t fileSize = sealedMemoryFileSize(fd);
  if (fileSize == 0 || length == 0 || offset >= fileSize || length > fileSize - offset) {
    return STATUS_INVALID_PARAMETER;
  }
  const auto page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t start = offset / page * page;
  const uint64_t mapSize = offset - start + length;
  if (mapSize > SIZE_MAX) return STATUS_INSUFFICIENT_RESOURCES;
  void* base = ::mmap(nullptr, static_cast<size_t>(mapSize), PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      static_cast<off_t>(start));
  if (base == MAP_FAILED) {
    return errno == EACCES || errno == EPERM ? STATUS_INVALID_PARAMETER : STATUS_INSUFFICIENT_RESOURCES;
  }
  try {
    *memory = std::make_shared<CallerMapping>(base, static_cast<size_t>(mapSize),
                                              static_cast<size_t>(offset - start), static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    ::munmap(base, static_cast<size_t>(mapSize));
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  return STATUS_SUCCESS;
}

}  // namespace platform::kernel

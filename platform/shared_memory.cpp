#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/errors.h"
#include "platform/module_lifetime.h"
#include "platform/unique_fd.h"

namespace platform {

namespace {

struct Block {
  UniqueFd fd;
  size_t size = 0;
};

struct BlockTable {
  std::mutex mutex;
  std::map<uintptr_t, std::shared_ptr<Block>> blocks;  // by base address
};

BlockTable& table() {
  static auto* instance = (keepModuleLoaded(), new BlockTable);  // lives until exit, with its module
  return *instance;
}

size_t pageSize() { return static_cast<size_t>(::sysconf(_SC_PAGESIZE)); }

}  // namespace

void* allocateShareable(size_t size) {
  if (size == 0 || size > (SIZE_MAX >> 1)) {
    setLastError(size == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const size_t page = pageSize();
  const size_t rounded = (size + page - 1) / page * page;
  auto block = std::make_shared<Block>();
  block->fd.reset(::memfd_create("wn-shareable", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  block->size = rounded;
  // Sealed so that no one can shrink the file under a mapping of it.
  if (!block->fd.valid() || ::ftruncate(block->fd.get(), static_cast<off_t>(rounded)) != 0 ||
      ::fcntl(block->fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    setLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* base = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_SHARED, block->fd.get(), 0);
  if (base == MAP_FAILED) {
    setLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::lock_guard lock(table().mutex);
  table().blocks[reinterpret_cast<uintptr_t>(base)] = std::move(block);
  return base;
}

bool freeShareable(void* base) {
  std::shared_ptr<Block> block;
  {
    std::lock_guard lock(table().mutex);
    auto it = table().blocks.find(reinterpret_cast<uintptr_t>(base));
    if (it == table().blocks.end()) {
      setLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    block = std::move(it->second);
    table().blocks.erase(it);
  }
  ::munmap(base, block->size);
  return true;
}

std::shared_ptr<const ShareableBlock> findShareable(const void* address, size_t length) {
  const auto start = reinterpret_cast<uintptr_t>(address);
  std::lock_guard lock(table().mutex);
  auto it = table().blocks.upper_bound(start);
  if (it != table().blocks.begin()) {
    --it;
    const uintptr_t base = it->first;
    const size_t size = it->second->size;
    const size_t offset = start - base;
    if (offset < size && length <= size - offset) {
      // The result keeps the block's file open even if the block is freed meanwhile.
      std::shared_ptr<Block> owner = it->second;
      auto result = std::make_shared<std::pair<std::shared_ptr<Block>, ShareableBlock>>(
          owner, ShareableBlock{owner->fd.get(), offset, size});
      return std::shared_ptr<const ShareableBlock>(result, &result->second);
    }
  }
  setLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

}  // namespace platform

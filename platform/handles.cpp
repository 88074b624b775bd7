#include "platform/handles.h"

#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/module_lifetime.h"

namespace platform {

namespace {

// Handle values are multiples of 4 starting at 4, as on the original system,
// so a handle is never null and never the invalid value.
class HandleTable {
 public:
  Handle insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(mutex_);
    size_t slot;
    if (!freeSlots_.empty()) {
      slot = freeSlots_.back();
      freeSlots_.pop_back();
      slots_[slot] = std::move(object);
    } else {
      slot = slots_.size();
      slots_.push_back(std::move(object));
    }
    ++count_;
    return toHandle(slot);
  }

  std::shared_ptr<KernelObject> find(Handle handle) {
    std::lock_guard lock(mutex_);
    const size_t slot = toSlot(handle);
    if (slot >= slots_.size()) return nullptr;
    return slots_[slot];
  }

  bool remove(Handle handle) {
    std::shared_ptr<KernelObject> released;
    {
      std::lock_guard lock(mutex_);
      const size_t slot = toSlot(handle);
      if (slot >= slots_.size() || !slots_[slot]) return false;
      released = std::move(slots_[slot]);
      slots_[slot].reset();
      freeSlots_.push_back(slot);
      --count_;
    }
    // The object may be destroyed here, outside the table's lock.
    return true;
  }

  size_t count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  static Handle toHandle(size_t slot) { return reinterpret_cast<Handle>((slot + 1) * 4); }

  static size_t toSlot(Handle handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0) return SIZE_MAX;
    return value / 4 - 1;
  }

  std::mutex mutex_;
  std::vector<std::shared_ptr<KernelObject>> slots_;
  std::vector<size_t> freeSlots_;
  size_t count_ = 0;
};

HandleTable& table() {
  // Lives until exit, past static destructors; so must the module that holds it.
  static HandleTable* instance = (keepModuleLoaded(), new HandleTable);
  return *instance;
}

}  // namespace

Handle insertHandle(std::shared_ptr<KernelObject> object) { return table().insert(std::move(object)); }

std::shared_ptr<KernelObject> lookupHandle(Handle handle) {
  auto object = table().find(handle);
  if (!object) setLastError(ERROR_INVALID_HANDLE);
  return object;
}

bool closeHandle(Handle handle) {
  if (!table().remove(handle)) {
    setLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

Handle duplicateHandle(Handle handle) {
  auto object = lookupHandle(handle);
  if (!object) return nullptr;
  return insertHandle(std::move(object));
}

size_t openHandleCount() { return table().count(); }

}  // namespace platform

#pragma once
// The objects behind the opaque handles a platform interface gives out (event
// sources, service control manager handles): a handle is valid while its
// object is in the table, so a bad or closed handle is recognised instead of
// being followed. Internal to platform/.

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

template <typename T>
class ObjectTable {
 public:
  // Keeps the object; its address is its handle.
  void* add(std::unique_ptr<T> object) {
    std::lock_guard lock(mutex_);
    T* raw = object.get();
    objects_[raw] = std::move(object);
    return raw;
  }

  bool remove(const void* handle) {
    std::lock_guard lock(mutex_);
    return objects_.erase(static_cast<const T*>(handle)) == 1;
  }

  // A copy of the object, when the handle is in the table.
  std::optional<T> find(const void* handle) {
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(static_cast<const T*>(handle));
    if (found == objects_.end()) return std::nullopt;
    return *found->second;
  }

 private:
  std::mutex mutex_;
  std::map<const T*, std::unique_ptr<T>> objects_;
};

}  // namespace platform

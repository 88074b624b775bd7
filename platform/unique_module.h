#pragma once
// Owns one module loaded with dlopen.

#include <dlfcn.h>

#include <utility>

namespace platform {

class UniqueModule {
 public:
  UniqueModule() = default;
  explicit UniqueModule(void* module) : module_(module) {}
  UniqueModule(UniqueModule&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  UniqueModule& operator=(UniqueModule&& other) noexcept {
    if (this != &other) reset(std::exchange(other.module_, nullptr));
    return *this;
  }
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() { reset(); }

  void* get() const { return module_; }
  bool valid() const { return module_ != nullptr; }
  void reset(void* module = nullptr) {
    if (module_ != nullptr) ::dlclose(module_);
    module_ = module;
  }

 private:
  void* module_ = nullptr;
};

}  // namespace platform

#pragma once
// Owns one module loaded with dlopen.

#include <dlfcn.h>

#include "platform/unique_resource.h"

namespace platform {

struct ModuleTraits {
  using Value = void*;
  static constexpr void* kEmpty = nullptr;
  static bool owns(void* module) { return module != nullptr; }
  static void close(void* module) { ::dlclose(module); }
};

using UniqueModule = UniqueResource<ModuleTraits>;

}  // namespace platform

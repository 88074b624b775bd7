#include "platform/module_lifetime.h"

#include <dlfcn.h>

#include <mutex>

namespace platform {

void keepModuleLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&keepModuleLoaded), &info) == 0 || info.dli_fname == nullptr) return;
    // Only a module that is already loaded is found; the program itself is not.
    ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  });
}

}  // namespace platform

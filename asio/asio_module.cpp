#include "asio/asio_module.h"

#include <dlfcn.h>

#include "platform/process.h"

void* asioModuleHandle() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&asioModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

std::u16string asioModulePath() {
  std::u16string path;
  if (platform::modulePathOf(reinterpret_cast<const void*>(&asioModuleHandle), path) != 0) return {};
  return path;
}

#include "asio/asio_module.h"

#include <dlfcn.h>

#include "platform/text.h"

void* asioModuleHandle() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&asioModuleHandle), &info) == 0) return nullptr;
  return info.dli_fbase;
}

std::u16string asioModulePath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&asioModuleHandle), &info) == 0 || info.dli_fname == nullptr) return {};
  return platform::toWide(info.dli_fname);
}

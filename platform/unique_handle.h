#pragma once
// Owns one handle of the handle table (platform/handles.h): closes it when
// it goes, so that a test or a caller that leaves early leaks nothing.

#include "platform/handles.h"
#include "platform/unique_resource.h"

namespace platform {

struct HandleTraits {
  using Value = Handle;
  static constexpr Handle kEmpty = nullptr;
  // Null and the invalid value (a failed open) own nothing.
  static bool owns(Handle handle) { return handle != nullptr && handle != kInvalidHandle; }
  static void close(Handle handle) { closeHandle(handle); }
};

using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace platform

#pragma once
// Owns one directory stream (opendir, fdopendir).

#include <dirent.h>

#include "platform/unique_resource.h"

namespace platform {

struct DirTraits {
  using Value = DIR*;
  static constexpr DIR* kEmpty = nullptr;
  static bool owns(DIR* stream) { return stream != nullptr; }
  static void close(DIR* stream) { ::closedir(stream); }
};

using UniqueDir = UniqueResource<DirTraits>;

}  // namespace platform

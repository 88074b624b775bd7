#pragma once
// Owns one POSIX file descriptor.

#include <unistd.h>

#include "platform/unique_resource.h"

namespace platform {

struct FdTraits {
  using Value = int;
  static constexpr int kEmpty = -1;
  static bool owns(int fd) { return fd >= 0; }
  static void close(int fd) { ::close(fd); }
};

using UniqueFd = UniqueResource<FdTraits>;

}  // namespace platform

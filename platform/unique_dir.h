#pragma once
// Owns one directory stream (opendir, fdopendir).

#include <dirent.h>

#include <utility>

namespace platform {

class UniqueDir {
 public:
  UniqueDir() = default;
  explicit UniqueDir(DIR* stream) : stream_(stream) {}
  UniqueDir(UniqueDir&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}
  UniqueDir& operator=(UniqueDir&& other) noexcept {
    if (this != &other) reset(std::exchange(other.stream_, nullptr));
    return *this;
  }
  UniqueDir(const UniqueDir&) = delete;
  UniqueDir& operator=(const UniqueDir&) = delete;
  ~UniqueDir() { reset(); }

  DIR* get() const { return stream_; }
  bool valid() const { return stream_ != nullptr; }
  void reset(DIR* stream = nullptr) {
    if (stream_ != nullptr) ::closedir(stream_);
    stream_ = stream;
  }

 private:
  DIR* stream_ = nullptr;
};

}  // namespace platform

#pragma once
// One owner for every raw resource that has a close function (a descriptor,
// a directory stream, a loaded module, a handle of the handle table): moving
// passes the resource on, reset() and the destructor close it. The owners
// themselves are aliases with traits of their own (unique_fd.h and its
// neighbours):
//
//   struct FdTraits {
//     using Value = int;
//     static constexpr int kEmpty = -1;
//     static bool owns(int fd) { return fd >= 0; }
//     static void close(int fd) { ::close(fd); }
//   };
//   using UniqueFd = UniqueResource<FdTraits>;

#include <utility>

namespace platform {

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Traits::kEmpty)) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::kEmpty));
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  Value get() const { return value_; }
  // Whether it owns a resource, as the traits tell.
  bool valid() const { return Traits::owns(value_); }
  Value release() { return std::exchange(value_, Traits::kEmpty); }
  void reset(Value value = Traits::kEmpty) {
    if (valid()) Traits::close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::kEmpty;
};

}  // namespace platform

#pragma once
// One open device handle with its request event, making requests the way the
// device access library makes them: a manual-reset event in an overlapped
// record, waited on when the request is pending, then its result.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/device_io.h"
#include "platform/handles.h"
#include "platform/unique_handle.h"

namespace testing_support {

inline std::u16string devicePath(std::u16string_view link) { return u"\\\\.\\" + std::u16string(link); }

class TestDeviceFile {
 public:
  explicit TestDeviceFile(std::u16string_view link);
  ~TestDeviceFile();
  TestDeviceFile(const TestDeviceFile&) = delete;
  TestDeviceFile& operator=(const TestDeviceFile&) = delete;

  bool isOpen() const { return handle_.valid(); }
  uint32_t openError() const { return openError_; }
  platform::Handle handle() const { return handle_.get(); }
  void close();

  // One request; returns 0 or the system error (a driver's own status as it
  // sent it), and the byte count.
  uint32_t control(uint32_t code, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                   uint32_t* bytes = nullptr);

  template <typename In>
  uint32_t send(uint32_t code, const In& input) {
    return control(code, &input, sizeof input, nullptr, 0);
  }
  uint32_t send(uint32_t code) { return control(code, nullptr, 0, nullptr, 0); }

  template <typename Out>
  uint32_t get(uint32_t code, Out* output) {
    return control(code, nullptr, 0, output, sizeof *output);
  }

  template <typename In, typename Out>
  uint32_t query(uint32_t code, const In& input, Out* output) {
    return control(code, &input, sizeof input, output, sizeof *output);
  }

 private:
  platform::UniqueHandle handle_;
  uint32_t openError_;
  platform::UniqueHandle event_;
};

}  // namespace testing_support

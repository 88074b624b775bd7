#include "tests/support/test_device_file.h"

#include "platform/errors.h"
#include "platform/events.h"

namespace testing_support {

TestDeviceFile::TestDeviceFile(std::u16string_view link)
    : handle_(platform::openDevice(devicePath(link))),
      openError_(platform::lastError()),
      event_(platform::createEvent(true, false)) {}

TestDeviceFile::~TestDeviceFile() { close(); }

void TestDeviceFile::close() { handle_.reset(platform::kInvalidHandle); }

uint32_t TestDeviceFile::control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                                 uint32_t outputSize, uint32_t* bytes) {
  platform::Overlapped overlapped;
  overlapped.event = event_.get();
  uint32_t count = 0;
  uint32_t result = 0;
  if (!platform::deviceIoControl(handle_.get(), code, input, inputSize, output, outputSize, &count, &overlapped)) {
    result = platform::lastError();
    if (result == platform::ERROR_IO_PENDING) {
      result = platform::getOverlappedResult(handle_.get(), &overlapped, &count, true) ? 0 : platform::lastError();
    }
  }
  if (bytes != nullptr) *bytes = count;
  return result;
}

}  // namespace testing_support

#include <gtest/gtest.h>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace {

TEST(ErrorMessages, TheCodesThisSystemReportsHaveTheSystemsText) {
  struct Case {
    uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {platform::ERROR_SUCCESS, "The operation completed successfully."},
      {platform::ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {platform::ERROR_ACCESS_DENIED, "Access is denied."},
      {platform::ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {platform::ERROR_SERVICE_NOT_ACTIVE, "The service has not been started."},
      {platform::ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
      {platform::ERROR_DEVICE_NOT_CONNECTED, "The device is not connected."},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::errorMessage(c.code), c.text) << c.code;

  // Every code the platform layer declares or maps errno values to.
  const uint32_t declared[] = {
      platform::ERROR_PATH_NOT_FOUND, platform::ERROR_INVALID_HANDLE, platform::ERROR_NOT_ENOUGH_MEMORY,
      platform::ERROR_INVALID_DATA, platform::ERROR_NOT_SUPPORTED, platform::ERROR_INSUFFICIENT_BUFFER,
      platform::ERROR_ALREADY_EXISTS, platform::ERROR_MORE_DATA, platform::ERROR_NO_MORE_ITEMS,
      platform::ERROR_NOT_OWNER, platform::ERROR_IO_PENDING, platform::ERROR_KEY_DELETED,
      platform::ERROR_SERVICE_REQUEST_TIMEOUT, platform::ERROR_SERVICE_ALREADY_RUNNING,
      platform::ERROR_SERVICE_DOES_NOT_EXIST, platform::ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
      platform::ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, platform::ERROR_SERVICE_MARKED_FOR_DELETE,
      platform::ERROR_SERVICE_EXISTS, platform::ERROR_ALREADY_INITIALIZED, platform::WAIT_TIMEOUT,
      platform::ERROR_INVALID_FUNCTION, platform::ERROR_GEN_FAILURE, platform::ERROR_OPERATION_ABORTED,
      platform::ERROR_IO_INCOMPLETE, platform::ERROR_NO_SYSTEM_RESOURCES, platform::ERROR_REGISTRY_IO_FAILED,
  };
  for (uint32_t code : declared) {
    EXPECT_EQ(platform::errorMessage(code).find("System error"), std::string::npos) << code;
  }
  for (int err = 0; err < 140; ++err) {
    const uint32_t code = platform::errorFromErrno(err);
    EXPECT_EQ(platform::errorMessage(code).find("System error"), std::string::npos) << "errno " << err;
  }
}

TEST(ErrorMessages, ACodeWithoutTextSaysItsNumber) {
  EXPECT_EQ(platform::errorMessage(99999), "System error 99999.");
}

}  // namespace

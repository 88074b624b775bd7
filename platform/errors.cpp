#include "platform/errors.h"

#include <cerrno>

namespace platform {

namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;
}

uint32_t lastError() { return t_lastError; }

void setLastError(uint32_t code) { t_lastError = code; }

uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM:
    case EMFILE:
    case ENFILE: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ECONNREFUSED: return ERROR_FILE_NOT_FOUND;
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    default: return 31;       // ERROR_GEN_FAILURE
  }
}

uint32_t setLastErrorFromErrno(int err) {
  const uint32_t code = errorFromErrno(err);
  setLastError(code);
  return code;
}

}  // namespace platform

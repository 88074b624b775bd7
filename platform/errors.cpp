#include "platform/errors.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

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

namespace {

struct ErrorMessage {
  uint32_t code;
  const char* text;
};

// The messages of the codes this system reports, in code order.
constexpr ErrorMessage kErrorMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {121, "The semaphore timeout period has expired."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {232, "The pipe is being closed."},
    {233, "No process is on the other end of the pipe."},
    {234, "More data is available."},
    {258, "The wait operation timed out."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {288, "Attempt to release mutex not owned by caller."},
    {487, "Attempt to access invalid address."},
    {534, "Arithmetic result exceeded 32 bits."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015, "The registry is corrupted. The structure of one of the files containing registry data is corrupted, or "
           "the system's memory image of the file is corrupted, or the file could not be recovered because the "
           "alternate copy or log was absent or corrupted."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, or "
           "write out, or flush, one of the files that contain the system's image of the registry."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1051, "A stop control has been sent to a service that other running services are dependent on."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1054, "A thread could not be created for the service."},
    {1055, "The service database is locked."},
    {1056, "An instance of the service is already running."},
    {1058, "The service cannot be started, either because it is disabled or because it has no enabled devices "
           "associated with it."},
    {1059, "Circular service dependency was specified."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1064, "An exception occurred in the service when handling the control request."},
    {1066, "The service has returned a service-specific error code."},
    {1067, "The process terminated unexpectedly."},
    {1068, "The dependency service or group failed to start."},
    {1070, "After starting, the service hung in a start-pending state."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
    {1075, "The dependency service does not exist or has been marked for deletion."},
    {1078, "The name is already in use as either a service name or a service display name."},
    {1114, "A dynamic link library (DLL) initialization routine failed."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1247, "An attempt was made to perform an initialization operation when initialization has already been "
           "completed."},
    {1359, "An internal error occurred."},
    {1400, "Invalid window handle."},
    {1410, "Class already exists."},
    {1411, "Class does not exist."},
    {1450, "Insufficient system resources exist to complete the requested service."},
    {1460, "This operation returned because the timeout period expired."},
    {1500, "The event log file is corrupted."},
    {1501, "No event log file could be opened, so the event logging service did not start."},
    {1502, "The event log file is full."},
    {1503, "The event log file has changed between read operations."},
};

static_assert(std::is_sorted(std::begin(kErrorMessages), std::end(kErrorMessages),
                             [](const ErrorMessage& a, const ErrorMessage& b) { return a.code < b.code; }));

}  // namespace

std::string errorMessage(uint32_t code) {
  const auto* found = std::lower_bound(std::begin(kErrorMessages), std::end(kErrorMessages), code,
                                       [](const ErrorMessage& entry, uint32_t value) { return entry.code < value; });
  if (found != std::end(kErrorMessages) && found->code == code) return found->text;
  return "System error " + std::to_string(code) + ".";
}

}  // namespace platform

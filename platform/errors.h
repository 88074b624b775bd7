#pragma once
// System error codes and wait results with the numbers the programs expect,
// and the calling thread's last error.

#include <cstdint>
#include <string>

namespace platform {

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_DATA = 13;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_NOT_OWNER = 288;
inline constexpr uint32_t ERROR_IO_PENDING = 997;
inline constexpr uint32_t ERROR_KEY_DELETED = 1018;
inline constexpr uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr uint32_t ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr uint32_t ERROR_SERVICE_EXISTS = 1073;
inline constexpr uint32_t ERROR_ALREADY_INITIALIZED = 1247;
inline constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;

inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_ABANDONED_0 = 0x80;
inline constexpr uint32_t WAIT_IO_COMPLETION = 0xC0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr uint32_t INFINITE = 0xFFFFFFFF;
inline constexpr uint32_t MAXIMUM_WAIT_OBJECTS = 64;

// The calling thread's last error, as the system functions of this layer set it.
uint32_t lastError();
void setLastError(uint32_t code);

// Maps a POSIX errno value to the nearest system error code.
uint32_t errorFromErrno(int err);

// Sets the last error from errno and returns it.
uint32_t setLastErrorFromErrno(int err);

// The system's message text for a system error code, as users read it
// ("The system cannot find the file specified." for 2); "System error N." for
// a code without a text. Never fails.
std::string errorMessage(uint32_t code);

}  // namespace platform

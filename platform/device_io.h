#pragma once
// Device files: opening a device interface served by the device host as
// "\\.\<link name>", and device I/O control with the overlapped-event
// pattern. The handle is an ordinary handle of the handle table; closing it
// ends the connection, and the driver cleans up its file object.

#include <cstdint>
#include <string_view>

#include "platform/handles.h"

namespace platform {

inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr uint32_t ERROR_IO_INCOMPLETE = 996;
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr uint32_t ERROR_NO_SYSTEM_RESOURCES = 1450;
inline constexpr uint32_t ERROR_NOT_ENOUGH_QUOTA = 1816;

// The status of a request in flight, as `Overlapped::internal` shows it.
inline constexpr uint32_t STATUS_PENDING_VALUE = 0x103;

// The record of an overlapped request. It and the output buffer must stay
// valid until the request has completed.
struct Overlapped {
  uint64_t internal = 0;      // the request's status; 0x103 while it runs
  uint64_t internalHigh = 0;  // bytes returned
  uint32_t offset = 0;
  uint32_t offsetHigh = 0;
  Handle event = nullptr;     // set when the request completes
};

// How long openDevice waits for the device host unless told otherwise.
inline constexpr uint32_t kOpenDeviceTimeoutMilliseconds = 5000;

// Connects to the device interface named by "\\.\<link name>" (ASCII case
// ignored). Returns kInvalidHandle with the last error set: 2 when there is
// no such interface, 1460 when the device host did not take the connection
// in time (a stopped or overloaded host), 1450 when the host is out of
// resources, 1816 when this process has as many connections open as the host
// allows one process, otherwise the error the driver's create reported.
Handle openDevice(std::u16string_view path);
Handle openDevice(std::u16string_view path, uint32_t timeoutMilliseconds);

// Sends one device I/O control request. Without an overlapped record it
// returns when the request has completed. With one, it resets the record's
// event and either completes at once (true, or false with the error; the event
// is set) or returns false with last error 997 and completes later by filling
// the record and setting the event. `bytesReturned` receives the count of
// output bytes on completion at once, also on failure. Input and output may be
// the same buffer; each is at most 256 KiB (else 87).
bool deviceIoControl(Handle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                     uint32_t outputSize, uint32_t* bytesReturned, Overlapped* overlapped);

// The result of an overlapped request: the byte count (also on failure) and
// true, or false with the request's error. With `wait`, waits for the record's
// event first; without, a request still running gives false with 996.
bool getOverlappedResult(Handle device, Overlapped* overlapped, uint32_t* bytesTransferred, bool wait);

// The system error a request status becomes: the kernel's well-known failure
// statuses map to their system errors, every other value (the drivers' own
// status values included) passes unchanged.
uint32_t errorFromStatus(uint32_t status);

// Whether a request status counts as success (the severity bits are 00 or 01).
inline bool statusSucceeded(uint32_t status) { return status < 0x80000000u; }

}  // namespace platform

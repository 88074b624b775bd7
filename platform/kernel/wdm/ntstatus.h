#pragma once
// Status values of the kernel-mode stand-ins (platform/kernel/wdm). A status
// below 0x80000000 is success; warnings start at 0x80000000, errors at
// 0xC0000000.

#include <cstdint>

namespace platform::wdm {

using NtStatus = uint32_t;

inline constexpr NtStatus STATUS_SUCCESS = 0;
inline constexpr NtStatus STATUS_WAIT_0 = 0;
inline constexpr NtStatus STATUS_TIMEOUT = 0x102;
inline constexpr NtStatus STATUS_PENDING = 0x103;
inline constexpr NtStatus STATUS_BUFFER_OVERFLOW = 0x80000005;
inline constexpr NtStatus STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr NtStatus STATUS_NOT_IMPLEMENTED = 0xC0000002;
inline constexpr NtStatus STATUS_INVALID_HANDLE = 0xC0000008;
inline constexpr NtStatus STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr NtStatus STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;
inline constexpr NtStatus STATUS_NO_MEMORY = 0xC0000017;
inline constexpr NtStatus STATUS_ACCESS_DENIED = 0xC0000022;
inline constexpr NtStatus STATUS_BUFFER_TOO_SMALL = 0xC0000023;
inline constexpr NtStatus STATUS_OBJECT_TYPE_MISMATCH = 0xC0000024;
inline constexpr NtStatus STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034;
inline constexpr NtStatus STATUS_OBJECT_NAME_COLLISION = 0xC0000035;
inline constexpr NtStatus STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;
inline constexpr NtStatus STATUS_DEVICE_NOT_CONNECTED = 0xC000009D;
inline constexpr NtStatus STATUS_CANCELLED = 0xC0000120;
inline constexpr NtStatus STATUS_INVALID_DEVICE_STATE = 0xC0000184;
inline constexpr NtStatus STATUS_NOT_FOUND = 0xC0000225;
inline constexpr NtStatus STATUS_NETWORK_UNREACHABLE = 0xC000023C;
inline constexpr NtStatus STATUS_ADDRESS_ALREADY_EXISTS = 0xC000020A;
inline constexpr NtStatus STATUS_INVALID_ADDRESS = 0xC0000141;

inline constexpr bool ntSuccess(NtStatus status) { return status < 0x80000000u; }

}  // namespace platform::wdm

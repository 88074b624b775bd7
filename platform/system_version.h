#pragma once
// The version of the operating system the programs read. Each emulated
// machine keeps it in its registry, HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows NT\CurrentVersion", DWORD values
// "CurrentMajorVersionNumber" and "CurrentMinorVersionNumber"; a machine
// without them runs version 10.0.

#include <cstdint>

namespace platform {

inline constexpr char16_t kCurrentVersionKey[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr char16_t kMajorVersionValue[] = u"CurrentMajorVersionNumber";
inline constexpr char16_t kMinorVersionValue[] = u"CurrentMinorVersionNumber";

struct SystemVersion {
  uint32_t major = 10;
  uint32_t minor = 0;
};

SystemVersion systemVersion();

// Sets the machine's version (needs write access to HKEY_LOCAL_MACHINE); 0 or the error.
uint32_t setSystemVersion(SystemVersion version);

}  // namespace platform

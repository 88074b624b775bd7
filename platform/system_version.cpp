#include "platform/system_version.h"

#include "platform/registry.h"

namespace platform {

SystemVersion systemVersion() {
  SystemVersion version;
  RegistryKey key;
  if (RegistryKey::open(RegistryHive::LocalMachine, kCurrentVersionKey, KEY_QUERY_VALUE, key) != 0) return version;
  uint32_t major = 0;
  uint32_t minor = 0;
  if (key.getDword(kMajorVersionValue, major) != 0) return version;
  version.major = major;
  version.minor = key.getDword(kMinorVersionValue, minor) == 0 ? minor : 0;
  return version;
}

uint32_t setSystemVersion(SystemVersion version) {
  RegistryKey key;
  if (const uint32_t error = RegistryKey::create(RegistryHive::LocalMachine, kCurrentVersionKey, KEY_WRITE, key)) {
    return error;
  }
  if (const uint32_t error = key.setDword(kMajorVersionValue, version.major)) return error;
  return key.setDword(kMinorVersionValue, version.minor);
}

}  // namespace platform

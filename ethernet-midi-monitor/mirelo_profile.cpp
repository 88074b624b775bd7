#include "ethernet-midi-monitor/mirelo_profile.h"

#include <string>

#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "platform/registry.h"

using namespace platform;

namespace mirelo_profile {

namespace {

std::u16string sectionKey() {
  return std::u16string(mirelo_mon::kMakerKey) + u"\\" + mirelo_mon::kProgramName + u"\\Ports";
}

uint32_t readInt(const char16_t* name, uint32_t fallback) {
  RegistryKey key;
  uint32_t value = fallback;
  if (RegistryKey::open(RegistryHive::CurrentUser, sectionKey(), KEY_QUERY_VALUE, key) != 0 ||
      key.getDword(name, value) != 0) {
    return fallback;
  }
  return value;
}

void writeInt(const char16_t* name, uint32_t value) {
  RegistryKey key;
  if (RegistryKey::create(RegistryHive::CurrentUser, sectionKey(), KEY_WRITE, key) == 0) key.setDword(name, value);
}

}  // namespace

uint32_t muteMask() { return readInt(u"HighB", 0) * 65536u | readInt(u"LowB", 0); }

void storeMuteMask(uint32_t mask) {
  writeInt(u"HighB", mask >> 16);
  writeInt(u"LowB", mask);
}

bool loopback() { return readInt(u"SCDetect", 1) != 0; }

void storeLoopback(bool on) { writeInt(u"SCDetect", on ? 1 : 0); }

}  // namespace mirelo_profile

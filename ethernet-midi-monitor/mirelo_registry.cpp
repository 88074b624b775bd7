#include "ethernet-midi-monitor/mirelo_registry.h"

#include "platform/registry.h"
#include "platform/ui/message_box.h"

using namespace platform;

namespace {
void showRegistryError() { ui::messageBox({}, kRegistryErrorText, u"Error", ui::MB_OK | ui::MB_ICONERROR); }
}  // namespace

std::optional<uint32_t> ReadPortsValue() {
  RegistryKey key;
  uint32_t value = 0;
  if (RegistryKey::open(RegistryHive::LocalMachine, kMireloParametersKey, KEY_QUERY_VALUE, key) != 0 ||
      key.getDword(u"Ports", value) != 0) {
    showRegistryError();
    return std::nullopt;
  }
  return value;
}

bool WritePortsValue(uint32_t configured, uint32_t installed) {
  RegistryKey key;
  if (RegistryKey::open(RegistryHive::LocalMachine, kMireloParametersKey, KEY_SET_VALUE, key) != 0) return false;
  if (key.setDword(u"Ports", configured + installed * 256) != 0) {
    showRegistryError();
    return false;
  }
  return true;
}

int ReadTernokPorts() {
  RegistryKey key;
  uint32_t value = 0;
  if (RegistryKey::open(RegistryHive::LocalMachine, kTernokParametersKey, KEY_QUERY_VALUE, key) != 0 ||
      key.getDword(u"Ports", value) != 0) {
    return -1;
  }
  return static_cast<int>(value & 0xFF);
}

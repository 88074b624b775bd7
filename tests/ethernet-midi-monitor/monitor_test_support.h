#pragma once
// Helpers of the monitor's tests: the driver in a device host inside the test
// process (mirelo_testing::MireloTest), a driver of ordinary MIDI ports for
// the port census, message boxes answered and recorded, and the machine's
// user rights and system version.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/device_host.h"
#include "platform/kernel/driver.h"
#include "platform/kernel_streaming.h"
#include "platform/system_version.h"
#include "platform/ui/message_box.h"
#include "platform/user_rights.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace monitor_testing {

// Records every message box and answers it with OK.
class MessageBoxes {
 public:
  MessageBoxes() {
    platform::ui::setMessageBoxResponder([this](const platform::ui::MessageBoxRequest& request) {
      shown.push_back(request);
      return 1;
    });
  }
  ~MessageBoxes() { platform::ui::setMessageBoxResponder(nullptr); }
  std::vector<platform::ui::MessageBoxRequest> shown;
};

// The process runs as a standard user while this lives.
class StandardUser {
 public:
  StandardUser() { ::setenv(platform::kAdministratorVariable, "0", 1); }
  ~StandardUser() { ::unsetenv(platform::kAdministratorVariable); }
};

// A device with `count` ordinary MIDI ports: kernel-streaming filters of
// KSCATEGORY_AUDIO, each with a render and a capture pin.
inline int gRegularPorts = 0;
inline uint32_t regularPortsDriver(platform::kernel::DriverObject* driver, const char16_t*) {
  using namespace platform;
  for (int port = 0; port < gRegularPorts; ++port) {
    kernel::DeviceInterfaceInfo info;
    info.linkName = u"root#media#0100#{6994ad04-93ef-11d0-a3cc-00a0c9223196}#port" + std::u16string(1, u'a' + port);
    info.interfaceClass = KSCATEGORY_AUDIO;
    info.description = u"Contoso USB MIDI";
    kernel::DeviceCallbacks callbacks;
    callbacks.create = [](kernel::FileObject&) { return 0u; };
    callbacks.cleanup = [](kernel::FileObject&) {};
    callbacks.deviceControl = [](kernel::FileObject&, kernel::IoRequest& request) -> uint32_t {
      KSP_PIN pin{};
      if (request.code() != IOCTL_KS_PROPERTY || request.inputSize() < sizeof(KSPROPERTY)) return 0xC0000010;
      std::memcpy(&pin, request.input(), std::min<size_t>(request.inputSize(), sizeof pin));
      if (pin.property.set != KSPROPSETID_Pin || request.outputCapacity() < 4) return 0xC0000225;
      uint32_t value = 0;
      if (pin.property.id == KSPROPERTY_PIN_CTYPES) value = 2;
      else if (pin.property.id == KSPROPERTY_PIN_COMMUNICATION) value = KSPIN_COMMUNICATION_SINK;
      else if (pin.property.id == KSPROPERTY_PIN_DATAFLOW) value = pin.pinId == 0 ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
      else return 0xC0000225;
      std::memcpy(request.output(), &value, sizeof value);
      request.setInformation(sizeof value);
      return 0;
    };
    if (const uint32_t status = driver->createInterface(info, callbacks)) return status;
  }
  return 0;
}

// The driver and, on demand, ordinary MIDI ports on the test's machine.
class MonitorTest : public mirelo_testing::MireloTest {
 protected:
  void addRegularPorts(int count) {
    gRegularPorts = count;
    ASSERT_EQ(host.addDriver(&regularPortsDriver, u"ContosoMidi"), 0u);
  }
  void setVersion(uint32_t major, uint32_t minor) { ASSERT_EQ(platform::setSystemVersion({major, minor}), 0u); }
  void setTernokPorts(uint32_t value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            u"System\\CurrentControlSet\\Services\\Ternok30\\Parameters",
                                            platform::KEY_WRITE, key),
              0u);
    ASSERT_EQ(key.setDword(u"Ports", value), 0u);
  }

  MessageBoxes boxes;
};

}  // namespace monitor_testing

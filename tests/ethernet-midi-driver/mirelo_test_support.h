#pragma once
// Helpers of the Ethernet MIDI driver's tests. The test process runs in a
// private network namespace (PrivateNetworkEnvironment) and plays the first
// emulated computer: the driver runs in a device host inside the process, on
// a private system root whose multicast interface is 127.0.0.1. A second
// computer is a devhost process with the driver module on a root of its own
// whose multicast interface is 127.0.0.2.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ethernet-midi-driver/driver_entry.h"
#include "ethernet-midi-driver/ethernet_midi_miniport.h"
#include "ethernet-midi-driver/mirelo_device.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/kernel/device_host.h"
#include "platform/kernel/wdm/driver_module.h"
#include "platform/kernel_streaming_client.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/waits.h"
#include "tests/support/private_network.h"
#include "tests/support/program_runner.h"
#include "tests/support/test_system_root.h"
#include "tools/midiport/mirelo_ports.h"

namespace mirelo_testing {

using namespace std::chrono_literals;
using platform::KsMidiPin;
using platform::MidiRecord;

inline constexpr char kGroup[] = "225.0.0.37";
inline constexpr uint16_t kFirstPort = 21928;

inline uint32_t inMirelo(platform::kernel::DriverObject* host, const char16_t* path) {
  return platform::wdm::runDriverModule(host, path, &mirelo::DriverEntry);
}

// Imports the driver's installation file into the registry of `root`.
inline void install(const std::filesystem::path& root) {
  const auto result = testing_support::runProgram({REG_TOOL, "import", MIRELO_INSTALLATION},
                                                  {{"WN_SYSTEM_ROOT", root.string()}});
  ASSERT_EQ(result.exitCode, 0) << result.output << result.errors;
}

inline const char16_t* const kParametersKey = u"System\\CurrentControlSet\\Services\\Mirelo\\Parameters";

inline void setPorts(uint32_t value) {
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine, kParametersKey, platform::KEY_WRITE,
                                          key),
            0u);
  ASSERT_EQ(key.setDword(u"Ports", value), 0u);
}

inline std::optional<uint32_t> readPorts() {
  platform::RegistryKey key;
  uint32_t value = 0;
  if (platform::RegistryKey::open(platform::RegistryHive::LocalMachine, kParametersKey, platform::KEY_READ, key) != 0 ||
      key.getDword(u"Ports", value) != 0) {
    return std::nullopt;
  }
  return value;
}

// The emulated computer's multicast interface; empty text removes the value.
inline void setMulticastInterface(const std::string& address) {
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine, platform::wdm::kTcpipParametersKey,
                                          platform::KEY_ALL_ACCESS, key),
            0u);
  if (address.empty()) {
    key.deleteValue(platform::wdm::kMulticastInterfaceValue);
  } else {
    ASSERT_EQ(key.setString(platform::wdm::kMulticastInterfaceValue, platform::toWide(address)), 0u);
  }
}

// Polls `condition` until it holds or `limit` passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// A raw UDP socket of the test in the private network, for datagrams from
// outside the driver and for watching what the driver sends.
class RawSocket {
 public:
  // Bound to `port` (0: any) and joined to the group when `join`.
  explicit RawSocket(uint16_t port = 0, bool join = false, const char* interfaceAddress = "127.0.0.1") {
    fd_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    in_addr interface{};
    ::inet_pton(AF_INET, interfaceAddress, &interface);
    ::setsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
    if (join) {
      ip_mreq membership{};
      ::inet_pton(AF_INET, kGroup, &membership.imr_multiaddr);
      membership.imr_interface = interface;
      ::setsockopt(fd_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    }
  }

  bool sendTo(uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    ::inet_pton(AF_INET, kGroup, &destination.sin_addr);
    return ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&destination),
                    sizeof destination) == static_cast<ssize_t>(bytes.size());
  }

  // The next datagram within `limit`, or nullopt.
  std::optional<std::vector<uint8_t>> receive(std::chrono::milliseconds limit = 2s) {
    timeval timeout{static_cast<time_t>(limit.count() / 1000), static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::vector<uint8_t> buffer(65536);
    const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
  }

 private:
  platform::UniqueFd fd_;
};

// Reads records from a pin until `count` bytes arrived or `limit` passed.
inline std::vector<uint8_t> readBytes(KsMidiPin& pin, size_t count, std::chrono::milliseconds limit = 2s) {
  std::vector<uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    std::vector<MidiRecord> records;
    if (pin.read(&records, static_cast<uint32_t>(left.count())) != 0) break;
    for (const MidiRecord& record : records) bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
  }
  return bytes;
}

// The driver in a device host inside the test process, on a private root.
class MireloTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing_support::inPrivateNetwork());
    install(root.path());
    setMulticastInterface("127.0.0.1");
    ASSERT_EQ(host.start(), 0u);
  }

  void TearDown() override { host.stop(); }

  // Loads the driver with "Ports" set to `ports` (missing when nullopt).
  uint32_t load(std::optional<uint32_t> ports = std::nullopt) {
    if (ports) setPorts(*ports);
    std::string error;
    return host.addDriver(&inMirelo, u"Mirelo", &error);
  }

  // Loads the driver and opens its control filter.
  void start(std::optional<uint32_t> ports = std::nullopt) {
    ASSERT_EQ(load(ports), 0u);
    found = mirelo_tools::findMireloPorts();
    ASSERT_FALSE(found.controlFilter.empty());
    ASSERT_EQ(control.open(found.controlFilter), 0u);
  }

  void unmuteAll() { ASSERT_EQ(control.setMuteMask(0), 0u); }

  uint32_t muteMask() {
    uint32_t mask = 0;
    EXPECT_EQ(control.getMuteMask(&mask), 0u);
    return mask;
  }

  uint32_t statusWord() {
    uint32_t status = 0;
    EXPECT_EQ(control.getStatusWord(&status), 0u);
    return status;
  }

  // A running pin of port `number` (1-based).
  std::unique_ptr<KsMidiPin> openPin(uint32_t number, uint32_t pinId) {
    uint32_t error = 0;
    auto pin = KsMidiPin::create(found.ports.at(number), pinId, &error);
    EXPECT_EQ(error, 0u);
    if (pin) {
      EXPECT_EQ(pin->setState(platform::KSSTATE_RUN), 0u);
    }
    return pin;
  }
  std::unique_ptr<KsMidiPin> openCapture(uint32_t number) { return openPin(number, mirelo::kCapturePin); }
  std::unique_ptr<KsMidiPin> openRender(uint32_t number) { return openPin(number, mirelo::kRenderPin); }

  // The miniport of a port, once its network side is in the wanted state.
  mirelo::EthernetMidiMiniport* miniport(uint32_t number) { return mirelo::g_Miniports[number - 1].load(); }
  bool waitConnected(uint32_t number, bool receiving) {
    return eventually([&] {
      auto* m = miniport(number);
      return m != nullptr && !m->ConnectPending() && m->Connected() && m->Transport().IsOpen() &&
             m->Transport().ReceiveEnabled() == receiving &&
             m->Transport().HasSendThread() == (m->StreamCount(false) > 0);
    });
  }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
  mirelo_tools::MireloPorts found;
  mirelo_tools::ControlFilter control;
};

// A second computer: the driver module in a devhost process with a root of
// its own, multicast interface 127.0.0.2. Stopped when the object goes.
class SecondComputer {
 public:
  explicit SecondComputer(std::optional<uint32_t> ports = std::nullopt) {
    char pattern[] = "/tmp/wn-second-XXXXXX";
    root_ = ::mkdtemp(pattern);
    install(root_);
    withRoot([&] {
      setMulticastInterface(testing_support::kSecondComputerAddress);
      if (ports) setPorts(*ports);
    });
    program_ = std::make_unique<testing_support::BackgroundProgram>(
        std::vector<std::string>{WN_DEVHOST, "--service", "Mirelo", MIRELO_MODULE},
        std::map<std::string, std::string>{{"WN_SYSTEM_ROOT", root_.string()}});
    ready_ = program_->waitForOutput("running");
  }

  ~SecondComputer() {
    program_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  bool ready() const { return ready_; }
  std::string output() const { return program_->output(); }

  // Runs `body` with this computer's root as the system root of the process.
  // Nothing of the first computer may read the registry meanwhile (no work of
  // its driver may be under way): its system root is the same variable.
  template <typename Body>
  void withRoot(Body body) {
    const char* previous = std::getenv("WN_SYSTEM_ROOT");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("WN_SYSTEM_ROOT", root_.c_str(), 1);
    struct Restore {
      std::string value;
      ~Restore() { ::setenv("WN_SYSTEM_ROOT", value.c_str(), 1); }
    } restore{saved};
    body();
  }

 private:
  std::filesystem::path root_;
  std::unique_ptr<testing_support::BackgroundProgram> program_;
  bool ready_ = false;
};

}  // namespace mirelo_testing

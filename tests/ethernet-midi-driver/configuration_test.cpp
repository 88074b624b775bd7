// The driver's load and start: the "Ports" value, the subdevices and their
// names, the value written back, and what a failed load or start leaves.

#include <algorithm>

#include "platform/kernel/wdm/executive.h"
#include "platform/services.h"
#include "tests/ethernet-midi-driver/mirelo_test_support.h"

namespace mirelo_testing {
namespace {

::testing::Environment* const kPrivateNetwork =
    ::testing::AddGlobalTestEnvironment(new testing_support::PrivateNetworkEnvironment);

using namespace platform::wdm;

std::vector<std::u16string> subdeviceNames(const platform::kernel::DeviceHost& host) {
  std::vector<std::u16string> names;
  for (const auto& info : host.interfaces()) {
    names.push_back(info.linkName.substr(info.linkName.rfind(u'#') + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::u16string> expectedNames(uint32_t ports) {
  std::vector<std::u16string> names{u"topology"};
  for (uint32_t k = 1; k <= ports; ++k) {
    names.push_back((k < 10 ? u"midi0" : u"midi") + platform::toWide(std::to_string(k)));
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct PortsCase {
  const char* name;
  std::optional<uint32_t> stored;
  uint32_t installed;
  uint32_t writtenBack;
  friend void PrintTo(const PortsCase& c, std::ostream* out) { *out << c.name; }
};

class PortsValueTest : public MireloTest, public ::testing::WithParamInterface<PortsCase> {};

TEST_P(PortsValueTest, InstallsThePortsAndWritesTheCountBack) {
  const PortsCase& c = GetParam();
  ASSERT_EQ(load(c.stored), 0u);
  EXPECT_EQ(subdeviceNames(host), expectedNames(c.installed));
  EXPECT_EQ(readPorts(), c.writtenBack);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortsValueTest,
    ::testing::Values(PortsCase{"Missing", std::nullopt, 2, 0x202}, PortsCase{"Zero", 0, 0, 0},
                      PortsCase{"Twelve", 12, 12, 0x0C0C}, PortsCase{"FiveAfterThree", 0x305, 5, 0x505},
                      PortsCase{"HighBitsIgnored", 0xABCD0001, 1, 0x101},
                      // The tables cover 20 ports: 30 loads and installs 20.
                      PortsCase{"Thirty", 30, 20, 0x141E}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(MireloTest, PortCountAboveThirtyDoesNotLoad) {
  EXPECT_EQ(load(31), STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(host.interfaces().empty());
  EXPECT_EQ(readPorts(), 31u);  // not written back
}

TEST_F(MireloTest, MissingParametersKeyDoesNotLoad) {
  ASSERT_EQ(platform::RegistryKey::deleteKey(platform::RegistryHive::LocalMachine, kParametersKey), 0u);
  EXPECT_EQ(load(), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_TRUE(host.interfaces().empty());
}

TEST_F(MireloTest, InterfacesCarryTheAudioCategoryAndTheDeviceDescription) {
  ASSERT_EQ(load(3), 0u);
  const auto interfaces = host.interfaces();
  ASSERT_EQ(interfaces.size(), 4u);
  for (const auto& info : interfaces) {
    EXPECT_EQ(info.interfaceClass, platform::KSCATEGORY_AUDIO);
    EXPECT_EQ(info.description, mirelo::kDeviceDescription);
    EXPECT_EQ(info.linkName.rfind(u"root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}#", 0), 0u);
  }
  const auto ports = mirelo_tools::findMireloPorts();
  EXPECT_FALSE(ports.controlFilter.empty());
  EXPECT_EQ(ports.ports.size(), 3u);
}

TEST_F(MireloTest, StartsWithEveryPortMutedAndLoopBackOn) {
  start();
  EXPECT_EQ(statusWord(), 0x80000000u);
  EXPECT_EQ(muteMask(), 0xFFFFFu);
}

TEST_F(MireloTest, WithoutItsDeviceTheDriverLoadsAndOffersNothing) {
  ASSERT_EQ(platform::RegistryKey::deleteTree(platform::RegistryHive::LocalMachine,
                                              u"System\\CurrentControlSet\\Enum\\Root\\MEDIA"),
            0u);
  EXPECT_EQ(load(4), 0u);
  EXPECT_TRUE(host.interfaces().empty());
  EXPECT_EQ(readPorts(), 4u);
}

TEST_F(MireloTest, RegistryPathThatCannotBeCopiedFailsTheLoad) {
  injectPoolFailure(mirelo::kDriverTag);
  EXPECT_EQ(load(), STATUS_UNSUCCESSFUL);
  clearPoolFailures();
}

TEST_F(MireloTest, StartWithoutMemoryForThePortNamesLeavesPortsUnwritten) {
  injectPoolFailure(mirelo::kDriverTag, 1);  // the path copy passes, the name buffer fails
  EXPECT_EQ(load(3), 0u);                    // the driver loads; its device does not start
  clearPoolFailures();
  EXPECT_TRUE(host.interfaces().empty());
  EXPECT_EQ(readPorts(), 3u);
}

// Registered as a kernel-driver service, the driver is loaded by the
// machine's device host (devhost without driver arguments).
TEST_F(MireloTest, TheMachinesDeviceHostLoadsTheDriverFromTheServiceDatabase) {
  host.stop();
  ASSERT_EQ(platform::registerKernelDriver(u"Mirelo", platform::toWide(MIRELO_MODULE), platform::SERVICE_SYSTEM_START,
                                           u"Mirelo - Ethernet Midi Ports (WDM)"),
            0u);
  setPorts(3);
  testing_support::BackgroundProgram machineHost({WN_DEVHOST}, {{"WN_SYSTEM_ROOT", root.path().string()}});
  ASSERT_TRUE(machineHost.waitForOutput("devhost: running")) << machineHost.output();
  EXPECT_NE(machineHost.output().find("#midi03"), std::string::npos) << machineHost.output();
  const auto ports = mirelo_tools::findMireloPorts();
  EXPECT_FALSE(ports.controlFilter.empty());
  EXPECT_EQ(ports.ports.size(), 3u);
  EXPECT_EQ(readPorts(), 0x303u);
  EXPECT_EQ(machineHost.stop(), 0);
}

TEST_F(MireloTest, PoolTagsBalanceAfterStop) {
  const uint64_t violations = violationCount();
  start(4);
  unmuteAll();
  {
    auto render = openRender(1);
    auto capture = openCapture(2);
    ASSERT_TRUE(render && capture);
    ASSERT_TRUE(waitConnected(2, true));
    const uint8_t bytes[] = {0x90, 0x40, 0x7F};
    EXPECT_EQ(render->writeBytes(bytes, sizeof bytes), 0u);
  }
  host.stop();
  for (const char* tag : {"MRLO", "PcCr", "PcNw", "PcPt", "PcSg", "Irp ", "Mdl ", "IoWk", "Ntio"}) {
    uint32_t value = 0;
    std::memcpy(&value, tag, 4);
    EXPECT_EQ(poolUsage(value).outstandingBlocks, 0u) << tag;
  }
  EXPECT_EQ(livePortClassObjects(), 0u);
  EXPECT_EQ(kernelHandleCount(), 0u);
  EXPECT_EQ(runningSystemThreads(), 0u);
  EXPECT_EQ(violationCount(), violations);
}

}  // namespace
}  // namespace mirelo_testing

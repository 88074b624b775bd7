// Bad requests never crash the driver: wrong sizes for every row of the
// request table, unknown codes, device-level requests without a device,
// random records of the right size.

#include <random>

#include "platform/shared_memory.h"
#include "tests/support/hostile_caller.h"
#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

class Robustness : public SimDriverTest {};

// A size that breaks the rule, or nothing when every size fits.
std::vector<uint32_t> wrongSizes(const OrvaneBufferSize& rule) {
  switch (rule.rule) {
    case OrvaneBufferRule::none: return {4};
    case OrvaneBufferRule::fixed: return {rule.bytes - 1, rule.bytes + 1, 0};
    case OrvaneBufferRule::entries: return rule.bytes > 1 ? std::vector<uint32_t>{rule.bytes + 1} : std::vector<uint32_t>{};
    case OrvaneBufferRule::headerPlusPayload: return {rule.bytes - 1, rule.bytes + ORVANE_REQUEST_MAX_PAYLOAD + 1};
  }
  return {};
}

uint32_t goodSize(const OrvaneBufferSize& rule) { return rule.forCount(1); }

TEST_F(Robustness, WrongBufferSizesAreRefusedForEveryRow) {
  SimFile file;
  ASSERT_EQ(file.send(ORVANE_IOCTL_ATTACH_DEVICE, deviceList().devices[0].deviceId), 0u);
  std::vector<uint8_t> input(64 * 1024);
  std::vector<uint8_t> output(64 * 1024);
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    const uint32_t goodOutput = goodSize(row.output);
    for (uint32_t size : wrongSizes(row.input)) {
      const uint32_t outputSize = row.inOut && row.output.rule != OrvaneBufferRule::none ? size : goodOutput;
      const uint32_t status = file.control(row.code, input.data(), size, output.data(), outputSize);
      EXPECT_TRUE(status == ORVANE_STATUS_INVALID_INBUFFER_SIZE || status == ORVANE_STATUS_INVALID_IOCTL)
          << row.name << " input " << size << " -> " << std::hex << status;
    }
    for (uint32_t size : wrongSizes(row.output)) {
      const uint32_t status = file.control(row.code, input.data(), goodSize(row.input), output.data(), size);
      EXPECT_TRUE(status == ORVANE_STATUS_INVALID_OUTBUFFER_SIZE || status == ORVANE_STATUS_INVALID_IOCTL)
          << row.name << " output " << size << " -> " << std::hex << status;
    }
    if (row.inOut) {
      // One buffer is both: an output of another size is refused.
      const uint32_t status =
          file.control(row.code, input.data(), goodSize(row.input), output.data(), 2 * goodSize(row.output));
      EXPECT_TRUE(status == ORVANE_STATUS_INVALID_OUTBUFFER_SIZE || status == ORVANE_STATUS_INVALID_IOCTL)
          << row.name << " -> " << std::hex << status;
    }
  }
  // Still alive and well.
  ORVANE_DRIVER_INFO info{};
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
}

TEST_F(Robustness, CodesOutsideTheTableAreInvalid) {
  SimFile file;
  for (uint32_t code : {0u, 0x80882000u, 0x80882FFCu, 0x80892004u, 0x00222004u, 0xFFFFFFFFu,
                        usbaudio_sim::SIM_CONTROL_GET_STATE}) {
    EXPECT_EQ(file.control(code, nullptr, 0, nullptr, 0), ORVANE_STATUS_INVALID_IOCTL) << std::hex << code;
  }
}

TEST_F(Robustness, DeviceLevelRequestsNeedAnAttachedDeviceThatIsStillThere) {
  std::vector<uint8_t> buffer(64 * 1024);
  auto sendRow = [&](SimFile& file, const OrvaneRequest& row) {
    return file.control(row.code, buffer.data(), goodSize(row.input), buffer.data(), goodSize(row.output));
  };
  SimFile detached;
  SimFile attached;
  const ORVANE_DEVICE_ID second = deviceList().devices[1].deviceId;
  ASSERT_EQ(attached.send(ORVANE_IOCTL_ATTACH_DEVICE, second), 0u);
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG,
                        usbaudio_sim::SIM_DEVICE_SELECTOR{usbaudio_sim::SIM_SELECT_BY_ID, 0, second}),
            0u);
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    if (row.issuedOn != OrvaneConnectionKind::device || row.code == ORVANE_IOCTL_ATTACH_DEVICE) continue;
    std::fill(buffer.begin(), buffer.end(), 0);
    uint32_t status = sendRow(detached, row);
    EXPECT_TRUE(status == ORVANE_STATUS_NO_DEVICE || status == ORVANE_STATUS_INVALID_IOCTL)
        << row.name << " -> " << std::hex << status;
    status = sendRow(attached, row);
    EXPECT_TRUE(status == ORVANE_STATUS_DEVICE_REMOVED || status == ORVANE_STATUS_INVALID_IOCTL)
        << row.name << " -> " << std::hex << status;
  }
  // Attaching again to a plugged device heals the connection.
  ASSERT_EQ(attached.send(ORVANE_IOCTL_ATTACH_DEVICE, deviceList().devices[0].deviceId), 0u);
}

TEST_F(Robustness, RandomRecordsOfTheRightSizeNeverBreakTheDriver) {
  std::mt19937 random(20240611);
  std::vector<uint8_t> input(64 * 1024);
  std::vector<uint8_t> output(64 * 1024);
  SimFile file;
  SimFile asio(kAsioLink);
  ASSERT_EQ(file.send(ORVANE_IOCTL_ATTACH_DEVICE, deviceList().devices[0].deviceId), 0u);
  for (int round = 0; round < 40; ++round) {
    for (const OrvaneRequest& row : ORVANE_REQUESTS) {
      if (row.code == ORVANE_IOCTL_SAVE_TRACE_MASK) continue;  // writes the registry; nothing random in it
      const uint32_t count = 1 + random() % 4;
      const uint32_t inputSize = row.input.forCount(row.input.rule == OrvaneBufferRule::headerPlusPayload
                                                        ? random() % (ORVANE_REQUEST_MAX_PAYLOAD + 1)
                                                        : count);
      const uint32_t outputSize = row.inOut ? inputSize : row.output.forCount(count);
      for (uint32_t i = 0; i < inputSize; ++i) input[i] = static_cast<uint8_t>(random());
      // Now and then a record of small words, so that counts and selectors hit their ranges.
      if (round % 2 == 1) {
        for (uint32_t i = 0; i + 4 <= inputSize; i += 4) {
          const uint32_t word = random() % 12;
          std::memcpy(&input[i], &word, 4);
        }
      }
      SimFile& target = row.issuedOn == OrvaneConnectionKind::device ? file : asio;
      target.control(row.code, input.data(), inputSize, output.data(), outputSize);
    }
  }
  ORVANE_DRIVER_INFO info{};
  EXPECT_EQ(file.get(ORVANE_IOCTL_GET_DRIVER_INFO, &info), 0u);
  EXPECT_FALSE(state().empty());
}

TEST_F(Robustness, ChannelIdsThatDoNotExistAreNotFound) {
  SimFile file;
  ORVANE_CHANNEL_INFO info{};
  for (uint64_t channel : {uint64_t{0}, ~uint64_t{0}, uint64_t{1} << 32, (uint64_t{1} << 32) | 0x01010099u,
                           (uint64_t{9} << 32) | 0x01010000u}) {
    EXPECT_EQ(file.query(ORVANE_IOCTL_GET_CHANNEL_INFO, channel, &info), ORVANE_STATUS_OBJECT_NOT_FOUND) << channel;
    EXPECT_EQ(file.query(ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO, channel, &info), ORVANE_STATUS_OBJECT_NOT_FOUND);
  }
}

class BrokenConfiguration : public ::testing::Test {
 protected:
  uint32_t load(const std::string& configuration) {
    const std::string path = (root.path() / "devices.conf").string();
    std::ofstream(path) << configuration;
    platform::RegistryKey key;
    EXPECT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                            u"System\\CurrentControlSet\\Services\\usbaudio_sim\\Parameters",
                                            platform::KEY_ALL_ACCESS, key),
              0u);
    EXPECT_EQ(key.setString(u"ConfigFile", std::u16string(path.begin(), path.end())), 0u);
    key.close();
    platform::closeRegistry();
    EXPECT_EQ(host.start(), 0u);
    return host.loadDriver(WN_USBAUDIO_SIM_MODULE, u"usbaudio_sim");
  }
  void TearDown() override {
    host.stop();
    platform::closeRegistry();
  }

  testing_support::TestSystemRoot root;
  platform::kernel::DeviceHost host;
};

TEST_F(BrokenConfiguration, AMalformedFileFailsTheLoad) {
  EXPECT_NE(load("[device]\nname = X\nrates = fast\n"), 0u);
  EXPECT_TRUE(host.interfaces().empty());
}

TEST_F(BrokenConfiguration, NinePluggedDevicesFailTheLoad) {
  std::string text;
  for (int i = 0; i < 9; ++i) text += "[device]\nname = D\ni2s_inputs = 2\nrates = 48000\n";
  EXPECT_NE(load(text), 0u);
}

TEST_F(BrokenConfiguration, AnEmptyFileLoadsWithoutDevices) {
  ASSERT_EQ(load("# nothing yet\n"), 0u);
  SimFile file;
  ORVANE_DEVICE_LIST list{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_DEVICE_LIST, &list), 0u);
  EXPECT_EQ(list.count, 0u);
  ORVANE_STREAMING_STATUS status{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_STREAMING_STATUS, &status), 0u);
  EXPECT_EQ(status.state, ORVANE_STREAMING_STATE_DOWN);
  EXPECT_EQ(file.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_INITIALIZE),
            ORVANE_STATUS_NO_STREAMING_DEVICE);
  ORVANE_SAMPLE_RATES rates{};
  ASSERT_EQ(file.get(ORVANE_IOCTL_GET_SAMPLE_RATES, &rates), 0u);
  EXPECT_EQ(rates.rateCount, 0u);
}

}  // namespace

// Callers in processes of their own that hand the driver an event whose
// counter is full, through a descriptor that is blocking. The driver signals
// such events while it holds its lock (notifications) or its stream's lock
// (the ASIO buffer event): that must never stop it.
class HostileEvents : public SimDriverTest {
 protected:
  // Each test forks its caller first (the process has no threads then).
  void SetUp() override {}
  void startDriver() { SimDriverTest::SetUp(); }

  testing_support::Alarm alarm;
};

TEST_F(HostileEvents, APanelWithAFullNotificationEventDoesNotStopTheDriver) {
  testing_support::HostileCaller panel([] {
    auto& file = *new SimFile;  // open until the caller is killed
    auto& notification = *new testing_support::FullEvent;
    const platform::Handle message = platform::createEvent(false, false);
    if (!file.isOpen() || notification.fd < 0) return 'o';
    if (file.send(ORVANE_IOCTL_SET_EVENTS, ORVANE_EVENT_HANDLES{handleValue(message), handleValue(notification.handle)}) != 0) {
      return 'e';
    }
    return file.send(ORVANE_IOCTL_REGISTER_CLIENT, ORVANE_CLIENT_TYPE_PANEL) == 0 ? 'r' : 'p';
  });
  startDriver();
  panel.go();
  ASSERT_EQ(panel.result(), 'r');
  // A view's registration notifies the panel (streaming wanted).
  Client view(ORVANE_CLIENT_TYPE_VIEW);
  EXPECT_EQ(view.registerStatus, 0u);
  EXPECT_EQ(deviceList().count, 2u);
  view.close();
  EXPECT_TRUE(waitUntilGone(" view "));  // its cleanup notifies the panel again
}

TEST_F(HostileEvents, AnAsioClientWithAFullBufferEventCanStillStopAndLeave) {
  testing_support::HostileCaller asio([] {
    auto& client = *new Client(ORVANE_CLIENT_TYPE_ASIO, kAsioLink);
    auto& bufferEvent = *new testing_support::FullEvent;
    void* block = platform::allocateShareable(sizeof(ORVANE_ASIO_SHARED_BLOCK));
    if (!client.isOpen() || bufferEvent.fd < 0 || block == nullptr) return 'o';
    SimFile service;
    for (uint32_t command : {ORVANE_STREAMING_COMMAND_INITIALIZE, ORVANE_STREAMING_COMMAND_PREPARE,
                             ORVANE_STREAMING_COMMAND_START}) {
      if (service.send(ORVANE_IOCTL_STREAMING_CONTROL, command) != 0) return 's';
    }
    if (client.send(ORVANE_IOCTL_ASIO_CREATE_BUFFERS,
                    ORVANE_ASIO_CREATE_BUFFERS{reinterpret_cast<uintptr_t>(block), handleValue(bufferEvent.handle),
                                               64}) != 0) {
      return 'b';
    }
    if (client.send(ORVANE_IOCTL_ASIO_START) != 0) return 'g';
    platform::sleepMs(100);  // the pacing thread signals the event all along
    if (client.send(ORVANE_IOCTL_ASIO_STOP) != 0 || client.send(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS) != 0) return 't';
    return bufferEvent.counter() == testing_support::FullEvent::kFullCounter ? 'r' : 'c';
  });
  startDriver();
  asio.go();
  EXPECT_EQ(asio.result(), 'r');
  EXPECT_EQ(deviceList().count, 2u);
}

// A configuration the driver cannot use refuses its start, and its reason,
// with the line, reaches whoever loads it (devhost prints it; a daemon logs it).
TEST(SimulatedDriverStart, AConfigurationErrorIsTheReasonTheLoadFails) {
  testing_support::TestSystemRoot root;
  const std::string path = (root.path() / "bad.conf").string();
  std::ofstream(path) << "[device]\nname = Bad\nrates 48000\n";
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::LocalMachine,
                                          u"System\\CurrentControlSet\\Services\\usbaudio_sim\\Parameters",
                                          platform::KEY_ALL_ACCESS, key),
            0u);
  ASSERT_EQ(key.setString(u"ConfigFile", platform::toWide(path)), 0u);
  key.close();
  platform::kernel::DeviceHost host;
  std::string logged;
  host.setLogSink([&](std::string_view line) { logged += std::string(line) + "\n"; });
  ASSERT_EQ(host.start(), 0u);
  std::string error;
  EXPECT_NE(host.loadDriver(WN_USBAUDIO_SIM_MODULE, u"usbaudio_sim", &error), 0u);
  EXPECT_NE(error.find("line 3: expected key = value"), std::string::npos) << error;
  EXPECT_NE(logged.find("driver usbaudio_sim: "), std::string::npos) << logged;
  host.stop();
  platform::closeRegistry();
}

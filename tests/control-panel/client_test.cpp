// The control panel's connection: the sound device configuration requests
// and the thread that turns the notification event into window messages.

#include <gtest/gtest.h>

#include <QTest>

#include <atomic>

#include "control-panel/orvane_cpl_client.h"
#include "control-panel/wn_post_window_message_thread.h"
#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/events.h"
#include "platform/ui/dialog.h"
#include "tests/support/simulated_driver.h"

namespace {

using namespace platform::ui;

// The answers a service could give, including malformed ones, so that the
// client's reading of each is tested; a server of the test's own, registered
// with the simulated driver, gives them.
class SoundDeviceConfigurationTest : public sim_testing::SimulatedDriverTest {
 protected:
  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(client.openConnection(sim_testing::kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  }

  void answerWith(sim_testing::TestServer::Answer answer) { ASSERT_EQ(server.start(std::move(answer)), 0u); }

  static ORVANE_SOUND_DEVICE_CONFIGURATION payloadOf(const ORVANE_MESSAGE& message) {
    ORVANE_SOUND_DEVICE_CONFIGURATION configuration{};
    EXPECT_EQ(getPayload(message, configuration), 0u);
    return configuration;
  }

  sim_testing::TestServer server;
  OrvaneCplClient client;
  const ORVANE_DEVICE_ID device{7, 0x2F1A0110};
};

TEST_F(SoundDeviceConfigurationTest, SetSendsTheConfigurationAndReturnsTheResult) {
  answerWith([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
    response.result = ORVANE_STATUS_SOUND_DEVICE_IN_USE;
    return true;
  });
  EXPECT_EQ(client.setSoundDeviceConfiguration(device, 5, 1), ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  ASSERT_EQ(server.requests().size(), 1u);
  const ORVANE_MESSAGE request = server.requests()[0];
  EXPECT_EQ(request.code, ORVANE_MSG_CODE_SET_SOUND_DEVICE_CONFIGURATION);
  EXPECT_EQ(request.payloadLength, 16u);
  const ORVANE_SOUND_DEVICE_CONFIGURATION sent = payloadOf(request);
  EXPECT_EQ(sent.deviceId, device);
  EXPECT_EQ(sent.playbackConfiguration, 5u);
  EXPECT_EQ(sent.recordingConfiguration, 1u);
}

TEST_F(SoundDeviceConfigurationTest, SetWithAnotherAnswerCodeIsUnexpected) {
  answerWith([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
    response.code = ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION;
    return true;
  });
  EXPECT_EQ(client.setSoundDeviceConfiguration(device, 0, 0), ORVANE_STATUS_UNEXPECTED_MSG_CODE);
}

TEST_F(SoundDeviceConfigurationTest, GetReadsTheConfigurationOfTheAnswer) {
  answerWith([](const ORVANE_MESSAGE& request, ORVANE_MESSAGE& response) {
    ORVANE_SOUND_DEVICE_CONFIGURATION answer = payloadOf(request);
    answer.playbackConfiguration = 4;
    answer.recordingConfiguration = 2;
    response.code = ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION;
    setPayload(response, answer);
    return true;
  });
  uint32_t playback = 99;
  uint32_t recording = 99;
  EXPECT_EQ(client.getSoundDeviceConfiguration(device, playback, recording), 0u);
  EXPECT_EQ(playback, 4u);
  EXPECT_EQ(recording, 2u);
  const ORVANE_SOUND_DEVICE_CONFIGURATION sent = payloadOf(server.requests().at(0));
  EXPECT_EQ(server.requests()[0].code, ORVANE_MSG_CODE_GET_SOUND_DEVICE_CONFIGURATION);
  EXPECT_EQ(sent.deviceId, device);
  EXPECT_EQ(sent.playbackConfiguration, 0u);
  EXPECT_EQ(sent.recordingConfiguration, 0u);
}

TEST_F(SoundDeviceConfigurationTest, GetAnsweredWithTheGenericResponseIsUnexpected) {
  answerWith([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
    response.result = ORVANE_STATUS_OBJECT_NOT_FOUND;  // how the service refuses an unknown device
    return true;
  });
  uint32_t playback = 99;
  uint32_t recording = 99;
  EXPECT_EQ(client.getSoundDeviceConfiguration(device, playback, recording), ORVANE_STATUS_UNEXPECTED_MSG_CODE);
  EXPECT_EQ(playback, 99u);
}

TEST_F(SoundDeviceConfigurationTest, GetWithAFailedResultOrAWrongSizeFails) {
  const struct {
    uint32_t result;
    uint32_t payloadBytes;
    uint32_t expected;
  } cases[] = {
      {ORVANE_STATUS_REGISTRY_ACCESS_FAILED, 16, ORVANE_STATUS_REGISTRY_ACCESS_FAILED},
      {0, 12, ORVANE_STATUS_INVALID_MSG_SIZE},
      {0, 20, ORVANE_STATUS_INVALID_MSG_SIZE},
      {0, 0, ORVANE_STATUS_INVALID_MSG_SIZE},
  };
  size_t next = 0;
  answerWith([&](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
    const auto& entry = cases[next++];
    response.code = ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION;
    response.result = entry.result;
    const uint8_t bytes[20] = {};
    setPayload(response, bytes, entry.payloadBytes);
    return true;
  });
  for (const auto& entry : cases) {
    uint32_t playback = 99;
    uint32_t recording = 99;
    EXPECT_EQ(client.getSoundDeviceConfiguration(device, playback, recording), entry.expected);
    EXPECT_EQ(playback, 99u);
  }
}

// ---------------------------------------------------------------------------

constexpr DialogTemplate kEmptyTemplate{1, u"", 50, 50, {}};

// Counts the messages the thread posts.
class Counter : public Dialog {
 public:
  Counter() : Dialog(kEmptyTemplate) {}
  bool processMessage(uint32_t message, WParam wParam, LParam lParam, LResult&) override {
    if (message == WM_APP + 10) {
      ++count;
      EXPECT_EQ(wParam, 0u);
      EXPECT_EQ(lParam, 0);
      return true;
    }
    return false;
  }
  int count = 0;
};

TEST(WnPostWindowMessageThread, EachSignalBecomesAPostedMessageUntilStopped) {
  Counter window;
  ASSERT_TRUE(window.create({}));
  const platform::Handle event = platform::createEvent(false, false);
  WnPostWindowMessageThread thread;
  thread.configure(window.handle(), event, WM_APP + 10);
  ASSERT_EQ(thread.start(), 0u);
  EXPECT_TRUE(thread.isRunning());
  for (int signal = 1; signal <= 3; ++signal) {
    platform::setEvent(event);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.count == signal; }, 5000));
  }
  thread.stop();
  EXPECT_FALSE(thread.isRunning());
  platform::setEvent(event);
  QTest::qWait(100);
  EXPECT_EQ(window.count, 3);
  platform::closeHandle(event);
  destroyWindow(window.handle());
}

}  // namespace

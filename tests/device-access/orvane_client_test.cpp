// OrvaneClient's message exchange with a minimal server through the simulated
// USB audio kernel driver in a device host of this process.

#include "device-access/orvane_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "device-access/orvane_message.h"
#include "device-access/orvane_status.h"
#include "platform/waits.h"
#include "tests/support/simulated_driver.h"

namespace {

using sim_testing::kPanelLink;
using sim_testing::SimulatedDriverTest;
using sim_testing::TestServer;

// Gives tests access to the sequence counter.
class TestClient : public OrvaneClient {
 public:
  void setSequenceCounter(uint32_t value) { sequenceCounter_ = value; }
  uint32_t sequenceCounter() const { return sequenceCounter_; }
};

class OrvaneClientTest : public SimulatedDriverTest {
 protected:
  void SetUp() override {
    SimulatedDriverTest::SetUp();
    ASSERT_EQ(client.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  }

  static ORVANE_MESSAGE request(uint32_t code, uint32_t value) {
    ORVANE_MESSAGE message;
    initMessage(message, ORVANE_MSG_REQUEST, code);
    EXPECT_EQ(setPayload(message, value), 0u);
    return message;
  }

  TestClient client;
  TestServer server;
};

TEST_F(OrvaneClientTest, TransactDeliversTheRequestAndReturnsItsResponse) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE& received, ORVANE_MESSAGE& response) {
              uint32_t rate = 0;
              EXPECT_EQ(getPayload(received, rate), 0u);
              response.result = rate == 48000 ? 0 : ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE;
              return true;
            }),
            0u);
  ORVANE_MESSAGE sent = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  ASSERT_EQ(client.transact(sent, response, 5000), 0u);
  EXPECT_EQ(sent.sequence, 1u);
  EXPECT_EQ(response.kind, ORVANE_MSG_RESPONSE);
  EXPECT_EQ(response.code, ORVANE_MSG_CODE_RESULT);
  EXPECT_EQ(response.sequence, 1u);
  EXPECT_EQ(response.result, 0u);

  const std::vector<ORVANE_MESSAGE> received = server.requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].code, ORVANE_MSG_CODE_SET_SAMPLE_RATE);
  EXPECT_EQ(received[0].sequence, 1u);
  EXPECT_NE(received[0].routingFirst, 0u) << "the kernel driver routes the request";

  // The typed operation returns the service's result.
  EXPECT_EQ(client.setSampleRate(44100, 5000), ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE);
  EXPECT_EQ(client.sequenceCounter(), 2u);
}

TEST_F(OrvaneClientTest, TypedRequestsCarryTheirCodeAndPayload) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
              response.result = ORVANE_STATUS_SOUND_DEVICE_IN_USE;
              return true;
            }),
            0u);
  struct Case {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t code;
    std::vector<uint8_t> payload;
  };
  auto bytesOf = [](const auto& value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    return std::vector<uint8_t>(bytes, bytes + sizeof value);
  };
  const ORVANE_BUFFER_SETTINGS buffers{2, 1, 0x77};
  const Case cases[] = {
      {"sample rate", [&] { return client.setSampleRate(96000, 5000); }, ORVANE_MSG_CODE_SET_SAMPLE_RATE,
       bytesOf(uint32_t{96000})},
      {"buffer sizes", [&] { return client.setBufferSizes(buffers); }, ORVANE_MSG_CODE_SET_BUFFER_SIZES,
       bytesOf(buffers)},
      {"streaming device", [&] { return client.selectStreamingDevice(5, 0x2F1A0110, 0); },
       ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE,
       bytesOf(ORVANE_STREAMING_DEVICE_SELECTION{{5, 0x2F1A0110}, ORVANE_STREAMING_MODE_SINGLE_DEVICE})},
      {"all devices", [&] { return client.selectStreamingDevice(0, 0, 1); }, ORVANE_MSG_CODE_SELECT_STREAMING_DEVICE,
       bytesOf(ORVANE_STREAMING_DEVICE_SELECTION{{0, 0}, ORVANE_STREAMING_MODE_ALL_DEVICES})},
      {"dsd on", [&] { return client.setDsdMode(true); }, ORVANE_MSG_CODE_SET_DSD_MODE, {1}},
      {"dsd off", [&] { return client.setDsdMode(false); }, ORVANE_MSG_CODE_SET_DSD_MODE, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), ORVANE_STATUS_SOUND_DEVICE_IN_USE);
    const ORVANE_MESSAGE last = server.requests().back();
    EXPECT_EQ(last.code, c.code);
    ASSERT_EQ(last.payloadLength, c.payload.size());
    EXPECT_EQ(std::memcmp(last.payload, c.payload.data(), c.payload.size()), 0);
    EXPECT_EQ(last.result, 0u);
  }
}

TEST_F(OrvaneClientTest, AnotherResponseCodeIsUnexpected) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE& response) {
              response.code = ORVANE_MSG_CODE_SOUND_DEVICE_CONFIGURATION;
              return true;
            }),
            0u);
  EXPECT_EQ(client.setDsdMode(true), ORVANE_STATUS_UNEXPECTED_MSG_CODE);
}

TEST_F(OrvaneClientTest, WithoutAServerTheRequestFailsAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.setSampleRate(48000, 30000), ORVANE_STATUS_NO_SERVER);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(OrvaneClientTest, AClosedOrEventlessConnectionCannotTransact) {
  ORVANE_MESSAGE sent = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  TestClient closed;
  EXPECT_EQ(closed.transact(sent, response, 100), ORVANE_STATUS_NOT_OPENED);

  ASSERT_EQ(server.start(), 0u);
  TestClient eventless;
  ASSERT_EQ(eventless.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, false), 0u);
  EXPECT_EQ(eventless.transact(sent, response, 100), ORVANE_STATUS_FAILED);
}

TEST_F(OrvaneClientTest, NoAnswerTimesOut) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE&) { return false; }), 0u);
  ORVANE_MESSAGE sent = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  EXPECT_EQ(client.transact(sent, response, 100), ORVANE_STATUS_TIMEOUT);
}

TEST_F(OrvaneClientTest, ALateResponseIsDiscardedByTheNextTransaction) {
  // The first request is answered 300 ms late, every later one at once.
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE& received, ORVANE_MESSAGE& response) {
              if (received.sequence == 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
              response.result = received.sequence;
              return true;
            }),
            0u);
  ORVANE_MESSAGE first = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  EXPECT_EQ(client.transact(first, response, 50), ORVANE_STATUS_TIMEOUT);
  // Let the late answer arrive and signal the message event before the next
  // request: the next wait wakes for it, and for the real answer behind it.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));

  ORVANE_MESSAGE second = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 44100);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(client.transact(second, response, 5000), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(second.sequence, 2u);
  EXPECT_EQ(response.sequence, 2u);
  EXPECT_EQ(response.result, 2u);
  ORVANE_MESSAGE leftover;
  EXPECT_EQ(client.ioctlReadMessage(leftover), ORVANE_STATUS_NO_MORE_ITEMS);
}

TEST_F(OrvaneClientTest, ALateResponseArrivingDuringTheNextWaitIsSkipped) {
  // The first answer comes while the second request waits; the second
  // request's answer follows it.
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE& received, ORVANE_MESSAGE& response) {
              if (received.sequence == 1) std::this_thread::sleep_for(std::chrono::milliseconds(200));
              response.result = received.sequence;
              return true;
            }),
            0u);
  ORVANE_MESSAGE first = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  EXPECT_EQ(client.transact(first, response, 20), ORVANE_STATUS_TIMEOUT);
  ORVANE_MESSAGE second = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 44100);
  ASSERT_EQ(client.transact(second, response, 5000), 0u);
  EXPECT_EQ(response.sequence, 2u);
  EXPECT_EQ(response.result, 2u);
}

TEST_F(OrvaneClientTest, EveryRecordQueuedUnderOneSignalIsRead) {
  // The late answer to request 1 and the answer to request 2 are queued
  // together, before request 2 is even sent; the message event stands for
  // both. Request 2 itself gets no further answer.
  ASSERT_EQ(server.start([&](const ORVANE_MESSAGE& received, ORVANE_MESSAGE& response) {
              if (received.sequence != 1) return false;
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
              ORVANE_MESSAGE ahead = makeResponse(received, 2);
              ahead.sequence = 2;
              EXPECT_EQ(server.send(response), 0u);
              EXPECT_EQ(server.send(ahead), 0u);
              return false;
            }),
            0u);
  ORVANE_MESSAGE first = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  EXPECT_EQ(client.transact(first, response, 20), ORVANE_STATUS_TIMEOUT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  ORVANE_MESSAGE second = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 44100);
  ASSERT_EQ(client.transact(second, response, 2000), 0u);
  EXPECT_EQ(response.sequence, 2u);
  EXPECT_EQ(response.result, 2u);
}

TEST_F(OrvaneClientTest, TheSequenceCounterWrapsToOne) {
  ASSERT_EQ(server.start(), 0u);
  client.setSequenceCounter(0xFFFFFFFE);
  ORVANE_MESSAGE sent = request(ORVANE_MSG_CODE_SET_SAMPLE_RATE, 48000);
  ORVANE_MESSAGE response;
  ASSERT_EQ(client.transact(sent, response, 5000), 0u);
  EXPECT_EQ(sent.sequence, 0xFFFFFFFFu);
  ASSERT_EQ(client.transact(sent, response, 5000), 0u);
  EXPECT_EQ(sent.sequence, 1u);
  EXPECT_EQ(response.sequence, 1u);
  const std::vector<ORVANE_MESSAGE> received = server.requests();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].sequence, 1u);
}

TEST_F(OrvaneClientTest, TheSequenceCounterSurvivesReopening) {
  ASSERT_EQ(server.start(), 0u);
  EXPECT_EQ(client.setSampleRate(48000, 5000), 0u);
  client.closeDriver();
  ASSERT_EQ(client.openConnection(kPanelLink, ORVANE_CLIENT_TYPE_PANEL, true), 0u);
  EXPECT_EQ(client.setSampleRate(48000, 5000), 0u);
  EXPECT_EQ(server.requests().back().sequence, 2u);
}

TEST_F(OrvaneClientTest, NotificationsStayQueuedThroughATransaction) {
  // The server broadcasts while it handles the request, as the service does.
  ASSERT_EQ(server.start([&](const ORVANE_MESSAGE&, ORVANE_MESSAGE&) {
              EXPECT_EQ(server.broadcast(ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED), 0u);
              EXPECT_EQ(server.broadcast(ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED), 0u);
              return true;
            }),
            0u);
  ASSERT_EQ(control.notify(ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED), 0u);
  ASSERT_EQ(client.setSampleRate(48000, 5000), 0u);

  EXPECT_EQ(platform::waitForSingle(client.notificationEvent(), 0), platform::WAIT_OBJECT_0);
  std::vector<uint32_t> codes;
  ORVANE_MESSAGE notification;
  while (client.readNextNotification(notification) == 0) codes.push_back(notification.code);
  EXPECT_EQ(codes, (std::vector<uint32_t>{ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED,
                                          ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED,
                                          ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED}));
}

TEST_F(OrvaneClientTest, AServerLeavingAnswersTheWaitingClient) {
  ASSERT_EQ(server.start([](const ORVANE_MESSAGE&, ORVANE_MESSAGE&) { return false; }), 0u);
  std::thread leave([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.setSampleRate(48000, 30000), ORVANE_STATUS_NO_SERVER);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  leave.join();
}

TEST_F(OrvaneClientTest, AnOversizedPayloadIsNotSent) {
  ASSERT_EQ(server.start(), 0u);
  ORVANE_MESSAGE sent;
  initMessage(sent, ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE);
  sent.payloadLength = 600;
  ORVANE_MESSAGE response;
  EXPECT_EQ(client.transact(sent, response, 100), ORVANE_STATUS_INVALID_LENGTH);
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace

// Events, registration and the message queues: clients and a server
// exchanging requests and responses, notifications, and connections that
// close in the middle of it.

#include "tests/usb-audio-kernel-sim/sim_test_support.h"

using namespace sim_testing;

namespace {

class Messages : public SimDriverTest {
 protected:
  // Answers every queued request with a result that names its sequence.
  void answerAll(Client& server) {
    ORVANE_MESSAGE request{};
    while (server.readMessage(&request) == 0) {
      ORVANE_MESSAGE response = makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
      response.sequence = request.sequence;
      response.routingFirst = request.routingFirst;
      response.routingSecond = request.routingSecond;
      response.result = 0x1000 + request.sequence;
      ASSERT_EQ(sendMessage(server, response), 0u);
    }
  }
};

TEST_F(Messages, OneServerAtATime) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  ASSERT_EQ(server.setEventsStatus, 0u);
  ASSERT_EQ(server.registerStatus, 0u);
  Client second(ORVANE_CLIENT_TYPE_SERVER);
  EXPECT_EQ(second.registerStatus, ORVANE_STATUS_ALREADY_DONE);
  EXPECT_EQ(server.send(ORVANE_IOCTL_REGISTER_CLIENT, ORVANE_CLIENT_TYPE_PANEL), ORVANE_STATUS_ALREADY_DONE);
  SimFile odd;
  EXPECT_EQ(odd.send(ORVANE_IOCTL_REGISTER_CLIENT, uint32_t{5}), ORVANE_STATUS_INVALID_TYPE);

  // A server that leaves makes room for the next one.
  server.close();
  ASSERT_TRUE(waitUntilGone("client server"));
  Client third(ORVANE_CLIENT_TYPE_SERVER);
  EXPECT_EQ(third.registerStatus, 0u);
}

TEST_F(Messages, RequestsWithoutServerFailAtOnce) {
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  const uint32_t rate = 96000;
  ORVANE_MESSAGE request = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE, &rate, sizeof rate);
  request.sequence = 1;
  EXPECT_EQ(sendMessage(panel, request), ORVANE_STATUS_NO_SERVER);
  ORVANE_MESSAGE message{};
  EXPECT_EQ(panel.readMessage(&message), ORVANE_STATUS_NO_MORE_ITEMS);
  EXPECT_EQ(panel.readNotification(&message), ORVANE_STATUS_NO_MORE_ITEMS);
}

TEST_F(Messages, TwoClientsAndAServerExchangeMessages) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  Client asio(ORVANE_CLIENT_TYPE_ASIO, kAsioLink);
  server.drainNotifications();  // the device list queries of the two registrations

  const uint32_t rate = 44100;
  ORVANE_MESSAGE fromPanel = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE, &rate, sizeof rate);
  fromPanel.sequence = 7;
  ORVANE_MESSAGE fromAsio = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_DSD_MODE, &ORVANE_DSD_MODE_DSD, 1);
  fromAsio.sequence = 7;  // the same sequence: the routing words tell them apart
  ASSERT_EQ(sendMessage(panel, fromPanel), 0u);
  ASSERT_EQ(sendMessage(asio, fromAsio), 0u);

  ASSERT_TRUE(server.waitMessage());
  ORVANE_MESSAGE first{};
  ORVANE_MESSAGE second{};
  ASSERT_EQ(server.readMessage(&first), 0u);
  ASSERT_EQ(server.readMessage(&second), 0u);
  EXPECT_EQ(first.code, ORVANE_MSG_CODE_SET_SAMPLE_RATE);  // the oldest first
  EXPECT_EQ(first.payloadLength, 4u);
  EXPECT_EQ(std::memcmp(first.payload, &rate, 4), 0);
  EXPECT_EQ(second.code, ORVANE_MSG_CODE_SET_DSD_MODE);
  EXPECT_FALSE(first.routingFirst == second.routingFirst && first.routingSecond == second.routingSecond);
  ORVANE_MESSAGE none{};
  EXPECT_EQ(server.readMessage(&none), ORVANE_STATUS_NO_MORE_ITEMS);

  // Answer in the other order; each response reaches its own client only.
  for (const ORVANE_MESSAGE* request : {&second, &first}) {
    ORVANE_MESSAGE response = makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
    response.sequence = request->sequence;
    response.routingFirst = request->routingFirst;
    response.routingSecond = request->routingSecond;
    response.result = request == &first ? 0x11 : 0x22;
    ASSERT_EQ(sendMessage(server, response), 0u);
  }
  for (auto [client, result] : {std::pair{&panel, 0x11u}, std::pair{&asio, 0x22u}}) {
    ASSERT_TRUE(client->waitMessage());
    ORVANE_MESSAGE response{};
    ASSERT_EQ(client->readMessage(&response), 0u);
    EXPECT_EQ(response.kind, ORVANE_MSG_RESPONSE);
    EXPECT_EQ(response.sequence, 7u);
    EXPECT_EQ(response.result, result);
    EXPECT_EQ(client->readMessage(&response), ORVANE_STATUS_NO_MORE_ITEMS);
  }
  EXPECT_EQ(server.readMessage(&none), ORVANE_STATUS_NO_MORE_ITEMS);
}

TEST_F(Messages, NotificationsReachEveryRegisteredConnection) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  Client asio(ORVANE_CLIENT_TYPE_ASIO, kAsioLink);
  SimFile spy(kSpyLink);  // not registered: gets nothing
  server.drainNotifications();

  ASSERT_EQ(sendMessage(server, makeMessage(ORVANE_MSG_NOTIFICATION, ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED)),
            0u);
  ASSERT_EQ(sendMessage(server, makeMessage(ORVANE_MSG_NOTIFICATION, ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED)), 0u);
  for (Client* client : {&panel, &asio}) {
    ASSERT_TRUE(client->waitNotification());
    EXPECT_EQ(client->drainNotifications(),
              (std::vector<uint32_t>{ORVANE_MSG_CODE_STREAMING_CONFIGURATION_CHANGED, ORVANE_MSG_CODE_SAMPLE_RATE_CHANGED}));
    ORVANE_MESSAGE message{};
    EXPECT_EQ(client->readMessage(&message), ORVANE_STATUS_NO_MORE_ITEMS);  // not in the message queue
  }
  EXPECT_TRUE(server.drainNotifications().empty());  // not back to the sender
  ORVANE_MESSAGE message{};
  EXPECT_EQ(spy.get(ORVANE_IOCTL_READ_NOTIFICATION, &message), ORVANE_STATUS_NO_MORE_ITEMS);

  // The driver's own notifications go to the server as well.
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_PLUG_CONFIGURED, uint32_t{2}), 0u);
  for (Client* client : {&server, &panel, &asio}) {
    ASSERT_TRUE(client->waitNotification());
    EXPECT_EQ(client->drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_DRIVER_DEVICE_LIST_CHANGED});
  }
}

TEST_F(Messages, ANewClientMakesTheDriverAskTheServerForTheDeviceList) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  EXPECT_TRUE(server.drainNotifications().empty());
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  ASSERT_TRUE(server.waitNotification());
  EXPECT_EQ(server.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_DEVICE_LIST_QUERY});
}

TEST_F(Messages, EventsAreWithdrawnByZeroSlotsAndSignalledForEarlierRecords) {
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  ASSERT_EQ(panel.send(ORVANE_IOCTL_SET_EVENTS, ORVANE_EVENT_HANDLES{0, 0}), 0u);
  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_NOTIFY, ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED), 0u);
  EXPECT_FALSE(panel.waitNotification(50));  // queued, but nobody is signalled
  // Handing the events over again signals the one with something queued.
  ASSERT_EQ(panel.send(ORVANE_IOCTL_SET_EVENTS, ORVANE_EVENT_HANDLES{handleValue(panel.messageEvent),
                                                                      handleValue(panel.notificationEvent)}),
            0u);
  EXPECT_TRUE(panel.waitNotification(5000));
  EXPECT_FALSE(panel.waitMessage(50));
  EXPECT_EQ(panel.drainNotifications(), std::vector<uint32_t>{ORVANE_MSG_CODE_DRIVER_SETTINGS_CHANGED});

  // Handles that are no events of the caller are refused.
  EXPECT_EQ(panel.send(ORVANE_IOCTL_SET_EVENTS, ORVANE_EVENT_HANDLES{0x123456, 0}), ORVANE_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(panel.send(ORVANE_IOCTL_SET_EVENTS, ORVANE_EVENT_HANDLES{0, handleValue(panel.handle())}),
            ORVANE_STATUS_INVALID_PARAMETER);
}

TEST_F(Messages, MalformedMessagesAreRefused) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  SimFile unregistered;
  Client view(ORVANE_CLIENT_TYPE_VIEW);
  const ORVANE_MESSAGE request = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE);

  ORVANE_MESSAGE badHeader = request;
  badHeader.headerSize = 28;
  EXPECT_EQ(sendMessage(panel, badHeader), ORVANE_STATUS_INVALID_HD_SIZE);
  ORVANE_MESSAGE longer = request;
  longer.payloadLength = 600;
  EXPECT_EQ(panel.control(ORVANE_IOCTL_SEND_MESSAGE, &longer, 32 + 512, nullptr, 0), ORVANE_STATUS_INVALID_MSG_SIZE);
  ORVANE_MESSAGE shorter = request;
  shorter.payloadLength = 8;
  EXPECT_EQ(panel.control(ORVANE_IOCTL_SEND_MESSAGE, &shorter, 32 + 4, nullptr, 0), ORVANE_STATUS_INVALID_MSG_SIZE);
  EXPECT_EQ(sendMessage(panel, makeMessage(7, 1001)), ORVANE_STATUS_INVALID_MSG_TYPE);
  EXPECT_EQ(sendMessage(panel, makeMessage(ORVANE_MSG_NONE, 1001)), ORVANE_STATUS_INVALID_MSG_TYPE);

  // Who may send what.
  EXPECT_EQ(sendMessage(unregistered, request), ORVANE_STATUS_NOT_ALLOWED);
  EXPECT_EQ(sendMessage(view, request), ORVANE_STATUS_NOT_ALLOWED);
  EXPECT_EQ(sendMessage(server, request), ORVANE_STATUS_NOT_ALLOWED);
  EXPECT_EQ(sendMessage(panel, makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT)), ORVANE_STATUS_NOT_ALLOWED);
  EXPECT_EQ(sendMessage(panel, makeMessage(ORVANE_MSG_NOTIFICATION, 3010)), ORVANE_STATUS_NOT_ALLOWED);

  // A response must name a living client.
  ORVANE_MESSAGE forged = makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
  forged.routingFirst = 999;
  forged.routingSecond = 1;
  EXPECT_EQ(sendMessage(server, forged), ORVANE_STATUS_INITIATOR_NOT_FOUND);
  ASSERT_EQ(sendMessage(panel, request), 0u);
  ORVANE_MESSAGE received{};
  ASSERT_EQ(server.readMessage(&received), 0u);
  ORVANE_MESSAGE wrongToken = makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
  wrongToken.routingFirst = received.routingFirst;
  wrongToken.routingSecond = received.routingSecond + 1;
  EXPECT_EQ(sendMessage(server, wrongToken), ORVANE_STATUS_INITIATOR_NOT_FOUND);
  ORVANE_MESSAGE none{};
  EXPECT_EQ(panel.readMessage(&none), ORVANE_STATUS_NO_MORE_ITEMS);
}

TEST_F(Messages, AResponseToAClientThatLeftFindsNobody) {
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  auto panel = std::make_unique<Client>(ORVANE_CLIENT_TYPE_PANEL);
  ORVANE_MESSAGE request = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_BUFFER_SIZES);
  request.sequence = 3;
  ASSERT_EQ(sendMessage(*panel, request), 0u);
  ORVANE_MESSAGE received{};
  ASSERT_EQ(server.readMessage(&received), 0u);
  panel.reset();
  ASSERT_TRUE(waitUntilGone("client panel"));

  // A new connection does not receive the old one's answer.
  Client newcomer(ORVANE_CLIENT_TYPE_PANEL);
  ORVANE_MESSAGE response = makeMessage(ORVANE_MSG_RESPONSE, ORVANE_MSG_CODE_RESULT);
  response.sequence = received.sequence;
  response.routingFirst = received.routingFirst;
  response.routingSecond = received.routingSecond;
  EXPECT_EQ(sendMessage(server, response), ORVANE_STATUS_INITIATOR_NOT_FOUND);
  EXPECT_EQ(newcomer.readMessage(&received), ORVANE_STATUS_NO_MORE_ITEMS);
}

TEST_F(Messages, AServerThatLeavesAnswersWhatItOwedAndMakesRoom) {
  auto server = std::make_unique<Client>(ORVANE_CLIENT_TYPE_SERVER);
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  Client asio(ORVANE_CLIENT_TYPE_ASIO, kAsioLink);
  ORVANE_MESSAGE request = makeMessage(ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE);
  request.sequence = 41;
  ASSERT_EQ(sendMessage(panel, request), 0u);  // read by the server, never answered
  ORVANE_MESSAGE received{};
  ASSERT_EQ(server->readMessage(&received), 0u);
  request.sequence = 42;
  ASSERT_EQ(sendMessage(asio, request), 0u);  // still queued
  answerAll(*server);                         // answers 42 only
  ASSERT_TRUE(asio.waitMessage());
  ASSERT_EQ(asio.readMessage(&received), 0u);
  EXPECT_EQ(received.result, 0x1000u + 42);

  request.sequence = 43;
  ASSERT_EQ(sendMessage(asio, request), 0u);
  server.reset();
  // Both waiting clients learn at once that no server will answer.
  for (auto [client, sequence] : {std::pair{&panel, 41u}, std::pair{&asio, 43u}}) {
    ASSERT_TRUE(client->waitMessage());
    ASSERT_EQ(client->readMessage(&received), 0u);
    EXPECT_EQ(received.kind, ORVANE_MSG_RESPONSE);
    EXPECT_EQ(received.code, ORVANE_MSG_CODE_RESULT);
    EXPECT_EQ(received.sequence, sequence);
    EXPECT_EQ(received.result, ORVANE_STATUS_NO_SERVER);
  }
  EXPECT_EQ(sendMessage(panel, request), ORVANE_STATUS_NO_SERVER);
  Client next(ORVANE_CLIENT_TYPE_SERVER);
  EXPECT_EQ(next.registerStatus, 0u);
  EXPECT_EQ(sendMessage(panel, request), 0u);
}

TEST_F(Messages, AClosedConnectionReleasesEventsRegistrationAndChannels) {
  Client keeper(ORVANE_CLIENT_TYPE_PANEL);
  SimFile asioList(kAsioLink);
  ORVANE_CHANNEL_LIST_PAIR channels{};
  ASSERT_EQ(asioList.get(ORVANE_IOCTL_ASIO_GET_CHANNELS, &channels), 0u);
  const uint64_t channel = channelAt(channels.outputs, 0);
  {
    Client server(ORVANE_CLIENT_TYPE_SERVER, kAsioLink);
    ASSERT_EQ(server.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channel), 0u);
    SimFile other(kAsioLink);
    EXPECT_EQ(other.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channel), ORVANE_STATUS_IN_USE);
    const std::string during = state();
    EXPECT_NE(during.find("client server, message event yes, notification event yes"), std::string::npos) << during;
  }
  EXPECT_TRUE(waitUntilGone("client server"));
  SimFile other(kAsioLink);
  EXPECT_EQ(other.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channel), 0u);
  Client server(ORVANE_CLIENT_TYPE_SERVER);
  EXPECT_EQ(server.registerStatus, 0u);
}

TEST_F(Messages, AQueueKeepsTheNewestRecords) {
  Client panel(ORVANE_CLIENT_TYPE_PANEL);
  for (uint32_t i = 0; i < 300; ++i) {
    ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_NOTIFY, 5000 + i), 0u);
  }
  const std::vector<uint32_t> codes = panel.drainNotifications();
  ASSERT_EQ(codes.size(), 256u);
  EXPECT_EQ(codes.front(), 5000u + 44);
  EXPECT_EQ(codes.back(), 5000u + 299);
}

}  // namespace

#include "device-access/orvane_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A record with every byte set, so that what an operation leaves alone shows.
ORVANE_MESSAGE filledMessage(uint8_t byte = 0xA5) {
  ORVANE_MESSAGE message;
  std::memset(&message, byte, sizeof message);
  return message;
}

bool sameBytes(const ORVANE_MESSAGE& a, const ORVANE_MESSAGE& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(OrvaneMessage, InitSetsTheHeaderAndClearsEverythingElse) {
  ORVANE_MESSAGE message = filledMessage();
  initMessage(message, ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_SAMPLE_RATE);

  EXPECT_EQ(message.headerSize, 32u);
  EXPECT_EQ(message.payloadLength, 0u);
  EXPECT_EQ(message.kind, ORVANE_MSG_REQUEST);
  EXPECT_EQ(message.code, 1001u);
  EXPECT_EQ(message.sequence, 0u);
  EXPECT_EQ(message.routingFirst, 0u);
  EXPECT_EQ(message.routingSecond, 0u);
  EXPECT_EQ(message.result, 0u);
  for (uint8_t byte : message.payload) ASSERT_EQ(byte, 0);
}

TEST(OrvaneMessage, SetPayloadAcceptsUpTo512Bytes) {
  std::vector<uint8_t> bytes(512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_REQUEST, 1001);

  ASSERT_EQ(setPayload(message, bytes.data(), 512), 0u);
  EXPECT_EQ(message.payloadLength, 512u);
  EXPECT_EQ(std::memcmp(message.payload, bytes.data(), 512), 0);

  ASSERT_EQ(setPayload(message, nullptr, 0), 0u);
  EXPECT_EQ(message.payloadLength, 0u);
}

TEST(OrvaneMessage, SetPayloadOf513BytesFailsAndChangesNothing) {
  std::vector<uint8_t> bytes(513, 0x11);
  ORVANE_MESSAGE message = filledMessage();
  const ORVANE_MESSAGE before = message;

  EXPECT_EQ(setPayload(message, bytes.data(), 513), ORVANE_STATUS_INVALID_LENGTH);
  EXPECT_TRUE(sameBytes(message, before));
}

TEST(OrvaneMessage, GetPayloadCopiesAndReportsTheLength) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_RESPONSE, 12001);
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(setPayload(message, bytes, sizeof bytes), 0u);

  uint8_t buffer[16] = {};
  uint32_t size = sizeof buffer;
  ASSERT_EQ(getPayload(message, buffer, size), 0u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::memcmp(buffer, bytes, 5), 0);
  EXPECT_EQ(buffer[5], 0);
}

TEST(OrvaneMessage, GetPayloadIntoASmallerBufferFailsWithoutCopying) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_RESPONSE, 12001);
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(setPayload(message, bytes, sizeof bytes), 0u);

  uint8_t buffer[4] = {9, 9, 9, 9};
  uint32_t size = sizeof buffer;
  EXPECT_EQ(getPayload(message, buffer, size), ORVANE_STATUS_INVALID_LENGTH);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buffer[0], 9);
}

TEST(OrvaneMessage, GetPayloadRejectsARecordClaimingMoreThan512Bytes) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_NOTIFICATION, 3030);
  message.payloadLength = 600;  // as a faulty sender might write it

  std::vector<uint8_t> buffer(1024, 0);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  EXPECT_EQ(getPayload(message, buffer.data(), size), ORVANE_STATUS_INVALID_MSG_SIZE);
  EXPECT_EQ(size, 1024u);
}

struct TypedReadCase {
  uint32_t payloadLength;
  uint32_t expected;
};

class OrvaneMessageTypedRead : public ::testing::TestWithParam<TypedReadCase> {};

// A device identifier payload (8 bytes) read from records of several lengths.
TEST_P(OrvaneMessageTypedRead, AcceptsOnlyTheExactSize) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_NOTIFICATION, ORVANE_MSG_CODE_MIXER_GAINS_CHANGED);
  const ORVANE_DEVICE_ID sent{0x12345678, 0x9ABCDEF0};
  std::memcpy(message.payload, &sent, sizeof sent);
  message.payloadLength = GetParam().payloadLength;

  ORVANE_DEVICE_ID read{7, 7};
  EXPECT_EQ(getPayload(message, read), GetParam().expected);
  if (GetParam().expected == 0) {
    EXPECT_EQ(read, sent);
  } else {
    EXPECT_EQ(read, (ORVANE_DEVICE_ID{7, 7}));
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, OrvaneMessageTypedRead,
                         ::testing::Values(TypedReadCase{8, 0}, TypedReadCase{0, ORVANE_STATUS_INVALID_MSG_SIZE},
                                           TypedReadCase{7, ORVANE_STATUS_INVALID_MSG_SIZE},
                                           TypedReadCase{9, ORVANE_STATUS_INVALID_MSG_SIZE},
                                           TypedReadCase{16, ORVANE_STATUS_INVALID_MSG_SIZE},
                                           TypedReadCase{513, ORVANE_STATUS_INVALID_MSG_SIZE}));

TEST(OrvaneMessage, TypedPayloadsRoundTripForEverySizeInUse) {
  ORVANE_MESSAGE message;
  initMessage(message, ORVANE_MSG_REQUEST, 0);

  ASSERT_EQ(setPayload(message, uint8_t{1}), 0u);
  uint8_t dsd = 0;
  EXPECT_EQ(getPayload(message, dsd), 0u);
  EXPECT_EQ(dsd, 1);

  ASSERT_EQ(setPayload(message, uint32_t{48000}), 0u);
  uint32_t rate = 0;
  EXPECT_EQ(getPayload(message, rate), 0u);
  EXPECT_EQ(rate, 48000u);
  EXPECT_EQ(getPayload(message, dsd), ORVANE_STATUS_INVALID_MSG_SIZE);

  const ORVANE_BUFFER_SETTINGS settings{2, 1, 77};
  ASSERT_EQ(setPayload(message, settings), 0u);
  ORVANE_BUFFER_SETTINGS readSettings{};
  EXPECT_EQ(getPayload(message, readSettings), 0u);
  EXPECT_EQ(readSettings.thirdSetting, 77u);

  const ORVANE_SOUND_DEVICE_CONFIGURATION configuration{{3, 4}, 5, 2};
  ASSERT_EQ(setPayload(message, configuration), 0u);
  ORVANE_SOUND_DEVICE_CONFIGURATION readConfiguration{};
  EXPECT_EQ(getPayload(message, readConfiguration), 0u);
  EXPECT_EQ(readConfiguration.playbackConfiguration, 5u);
  EXPECT_EQ(getPayload(message, readSettings), ORVANE_STATUS_INVALID_MSG_SIZE);
}

TEST(OrvaneMessage, MakeResponseCopiesSequenceAndRoutingOnly) {
  ORVANE_MESSAGE request = filledMessage(0x5A);
  initMessage(request, ORVANE_MSG_REQUEST, ORVANE_MSG_CODE_SET_BUFFER_SIZES);
  request.sequence = 41;
  request.routingFirst = 0xAAAA0001;
  request.routingSecond = 0xBBBB0002;
  request.result = 0xDEAD;
  ASSERT_EQ(setPayload(request, ORVANE_BUFFER_SETTINGS{1, 2, 3}), 0u);

  const ORVANE_MESSAGE response = makeResponse(request, ORVANE_STATUS_INVALID_COMMAND);
  EXPECT_EQ(response.headerSize, 32u);
  EXPECT_EQ(response.payloadLength, 0u);
  EXPECT_EQ(response.kind, ORVANE_MSG_RESPONSE);
  EXPECT_EQ(response.code, ORVANE_MSG_CODE_RESULT);
  EXPECT_EQ(response.sequence, 41u);
  EXPECT_EQ(response.routingFirst, 0xAAAA0001u);
  EXPECT_EQ(response.routingSecond, 0xBBBB0002u);
  EXPECT_EQ(response.result, ORVANE_STATUS_INVALID_COMMAND);
  for (uint8_t byte : response.payload) ASSERT_EQ(byte, 0);
}

}  // namespace

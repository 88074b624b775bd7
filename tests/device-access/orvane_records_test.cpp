#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device-access/orvane_asio_records.h"
#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_records.h"
#include "device-access/orvane_service_records.h"
#include "device-access/orvane_statistics.h"
#include "device-access/orvane_status.h"

namespace {

// ---------------------------------------------------------------------------
// Status names

struct StatusNameCase {
  uint32_t status;
  const char* name;
};

const StatusNameCase kListedStatuses[] = {
    {0x00000000, "ORVANE_STATUS_SUCCESS"},
    {0xE0000001, "ORVANE_STATUS_FAILED"},
    {0xE0000002, "ORVANE_STATUS_INTERNAL_ERROR"},
    {0xE0000003, "ORVANE_STATUS_NO_MEMORY"},
    {0xE0000004, "ORVANE_STATUS_NO_RESOURCES"},
    {0xE0000005, "ORVANE_STATUS_TIMEOUT"},
    {0xE0000006, "ORVANE_STATUS_ABORTED"},
    {0xE0000007, "ORVANE_STATUS_NO_MORE_ITEMS"},
    {0xE0000008, "ORVANE_STATUS_NEW_ENUM_EXPECTED"},
    {0xE0000009, "ORVANE_STATUS_NO_FIRMWARE"},
    {0xE0000010, "ORVANE_STATUS_NOT_SUPPORTED"},
    {0xE0000011, "ORVANE_STATUS_NOT_POSSIBLE"},
    {0xE0000012, "ORVANE_STATUS_NOT_ALLOWED"},
    {0xE0000013, "ORVANE_STATUS_NOT_OPENED"},
    {0xE0000014, "ORVANE_STATUS_VERSION_MISMATCH"},
    {0xE0000015, "ORVANE_STATUS_LENGTH_MISMATCH"},
    {0xE0000016, "ORVANE_STATUS_MAGIC_MISMATCH"},
    {0xE0000017, "ORVANE_STATUS_CRC_MISMATCH"},
    {0xE0000018, "ORVANE_STATUS_NOT_IN_HIGH_SPEED_MODE"},
    {0xE0000020, "ORVANE_STATUS_REJECTED"},
    {0xE0000021, "ORVANE_STATUS_ALREADY_DONE"},
    {0xE0000022, "ORVANE_STATUS_WRONG_DIRECTION"},
    {0xE0000023, "ORVANE_STATUS_REGISTRY_ACCESS_FAILED"},
    {0xE0000024, "ORVANE_STATUS_IN_ERROR_STATE"},
    {0xE0000025, "ORVANE_STATUS_NO_SERVER"},
    {0xE0000026, "ORVANE_STATUS_INITIATOR_NOT_FOUND"},
    {0xE0000027, "ORVANE_STATUS_NO_DEVICES"},
    {0xE0000028, "ORVANE_STATUS_NO_STREAMING_DEVICE"},
    {0xE0000030, "ORVANE_STATUS_INVALID_PARAMETER"},
    {0xE0000031, "ORVANE_STATUS_INVALID_BUFFER_SIZE"},
    {0xE0000032, "ORVANE_STATUS_INVALID_SAMPLE_SIZE"},
    {0xE0000033, "ORVANE_STATUS_INVALID_TYPE"},
    {0xE0000034, "ORVANE_STATUS_INVALID_SAMPLE_RATE"},
    {0xE0000035, "ORVANE_STATUS_INVALID_IOCTL"},
    {0xE0000036, "ORVANE_STATUS_INVALID_INBUFFER_SIZE"},
    {0xE0000037, "ORVANE_STATUS_INVALID_OUTBUFFER_SIZE"},
    {0xE0000038, "ORVANE_STATUS_INVALID_LENGTH"},
    {0xE0000039, "ORVANE_STATUS_INVALID_COMMAND"},
    {0xE000003A, "ORVANE_STATUS_INVALID_STATE"},
    {0xE0000040, "ORVANE_STATUS_OBJECT_NOT_FOUND"},
    {0xE0000041, "ORVANE_STATUS_IN_USE"},
    {0xE0000042, "ORVANE_STATUS_NO_SUCH_IF"},
    {0xE0000043, "ORVANE_STATUS_NO_SUCH_EP"},
    {0xE0000044, "ORVANE_STATUS_CHANNEL_CONFIG_CHANGED"},
    {0xE0000050, "ORVANE_STATUS_INVALID_MSG_TYPE"},
    {0xE0000051, "ORVANE_STATUS_UNEXPECTED_MSG_CODE"},
    {0xE0000052, "ORVANE_STATUS_INVALID_MSG_SIZE"},
    {0xE0000053, "ORVANE_STATUS_INVALID_HD_SIZE"},
    {0xE0000060, "ORVANE_STATUS_DEVICE_REMOVED"},
    {0xE0000061, "ORVANE_STATUS_NO_DEVICE"},
    {0xE0000070, "ORVANE_STATUS_ALLOC_BUFFER_FAILED"},
    {0xE0000071, "ORVANE_STATUS_ALLOC_IRPRES_FAILED"},
    {0xE0000072, "ORVANE_STATUS_SUBMIT_BUFFER_FAILED"},
    {0xE0000073, "ORVANE_STATUS_START_CHANNEL_FAILED"},
    {0xE0000074, "ORVANE_STATUS_STREAMS_STARTUP_FAILED"},
    {0xE0000080, "ORVANE_STATUS_UNSUPPORTED_SAMPLE_RATE"},
    {0xE0000090, "ORVANE_STATUS_SOUND_DEVICE_IN_USE"},
    {0xE0000100, "ORVANE_STATUS_PENDING"},
};

TEST(OrvaneStatusName, NamesEveryListedValue) {
  for (const StatusNameCase& c : kListedStatuses) {
    EXPECT_STREQ(orvaneStatusName(c.status), c.name) << std::hex << c.status;
  }
}

TEST(OrvaneStatusName, ConstantsCarryTheirListedValues) {
  const StatusNameCase constants[] = {
      {ORVANE_STATUS_SUCCESS, "ORVANE_STATUS_SUCCESS"},
      {ORVANE_STATUS_NO_FIRMWARE, "ORVANE_STATUS_NO_FIRMWARE"},
      {ORVANE_STATUS_NOT_OPENED, "ORVANE_STATUS_NOT_OPENED"},
      {ORVANE_STATUS_VERSION_MISMATCH, "ORVANE_STATUS_VERSION_MISMATCH"},
      {ORVANE_STATUS_REJECTED, "ORVANE_STATUS_REJECTED"},
      {ORVANE_STATUS_INVALID_STATE, "ORVANE_STATUS_INVALID_STATE"},
      {ORVANE_STATUS_UNEXPECTED_MSG_CODE, "ORVANE_STATUS_UNEXPECTED_MSG_CODE"},
      {ORVANE_STATUS_NO_DEVICE, "ORVANE_STATUS_NO_DEVICE"},
      {ORVANE_STATUS_STREAMS_STARTUP_FAILED, "ORVANE_STATUS_STREAMS_STARTUP_FAILED"},
      {ORVANE_STATUS_SOUND_DEVICE_IN_USE, "ORVANE_STATUS_SOUND_DEVICE_IN_USE"},
      {ORVANE_STATUS_PENDING, "ORVANE_STATUS_PENDING"},
  };
  for (const StatusNameCase& c : constants) {
    EXPECT_STREQ(orvaneStatusName(c.status), c.name);
  }
}

TEST(OrvaneStatusName, AnyOtherValueIsUnknown) {
  const uint32_t unknown[] = {
      // Between and around the listed values.
      0xE0000000, 0xE000000A, 0xE000000F, 0xE0000019, 0xE000001F, 0xE0000029, 0xE000003B, 0xE0000045,
      0xE0000054, 0xE0000062, 0xE0000075, 0xE000007F, 0xE0000081, 0xE0000091, 0xE00000FF, 0xE0000101,
      0xE0000200, 0xE0010001, 0xFFFFFFFF, 0x60000001,
      // System error codes.
      1, 2, 5, 87, 259, 997, 1460, 0x80000005,
  };
  for (uint32_t status : unknown) {
    EXPECT_STREQ(orvaneStatusName(status), "???") << std::hex << status;
  }
}

// ---------------------------------------------------------------------------
// Request table

TEST(OrvaneRequests, EveryRowIsFoundByItsCodeUnderItsName) {
  for (const OrvaneRequest& row : ORVANE_REQUESTS) {
    const OrvaneRequest* found = findOrvaneRequest(row.code);
    ASSERT_NE(found, nullptr) << row.name;
    EXPECT_EQ(found, &row);
    EXPECT_EQ(found->code >> 16, ORVANE_DEVICE_TYPE) << row.name;
    EXPECT_EQ(found->code & 0xC003u, 0u) << row.name << ": buffered method, unrestricted access";
    EXPECT_EQ(std::string(found->name).rfind("ORVANE_IOCTL_", 0), 0u) << row.name;
  }
  EXPECT_STREQ(findOrvaneRequest(0x80882004)->name, "ORVANE_IOCTL_GET_DRIVER_INFO");
  EXPECT_STREQ(findOrvaneRequest(0x80883CC4)->name, "ORVANE_IOCTL_ASIO_STOP");
}

TEST(OrvaneRequests, UnknownCodesAreNotFound) {
  for (uint32_t code : {0u, 0x80882000u, 0x80882005u, 0x80882050u, 0x80892004u, 0x00002004u, 0xFFFFFFFFu}) {
    EXPECT_EQ(findOrvaneRequest(code), nullptr) << std::hex << code;
  }
}

TEST(OrvaneRequests, BufferSizesFitTheirRule) {
  struct Case {
    const char* what;
    OrvaneBufferSize size;
    uint32_t bytes;
    bool fits;
  };
  const Case cases[] = {
      {"no input", ORVANE_REQUEST_GET_DRIVER_INFO.input, 0, true},
      {"no input", ORVANE_REQUEST_GET_DRIVER_INFO.input, 1, false},
      {"fixed output", ORVANE_REQUEST_GET_DRIVER_INFO.output, 24, true},
      {"fixed output", ORVANE_REQUEST_GET_DRIVER_INFO.output, 23, false},
      {"fixed output", ORVANE_REQUEST_GET_DRIVER_INFO.output, 25, false},
      {"message without payload", ORVANE_REQUEST_SEND_MESSAGE.input, 32, true},
      {"message with full payload", ORVANE_REQUEST_SEND_MESSAGE.input, 544, true},
      {"message shorter than its header", ORVANE_REQUEST_SEND_MESSAGE.input, 31, false},
      {"message with 513 payload bytes", ORVANE_REQUEST_SEND_MESSAGE.input, 545, false},
      {"no gain entries", ORVANE_REQUEST_GET_MIXER_GAINS.input, 0, true},
      {"two gain entries", ORVANE_REQUEST_GET_MIXER_GAINS.input, 16, true},
      {"a partial gain entry", ORVANE_REQUEST_GET_MIXER_GAINS.input, 12, false},
      {"26 pins", ORVANE_REQUEST_GET_MIXER_PINS.output, 104, true},
      {"a partial pin", ORVANE_REQUEST_GET_MIXER_PINS.output, 6, false},
      {"one crosspoint", ORVANE_REQUEST_SET_MIXER_CROSSPOINTS.input, 12, true},
      {"a partial crosspoint", ORVANE_REQUEST_SET_MIXER_CROSSPOINTS.input, 8, false},
      {"plug-in record", ORVANE_REQUEST_GET_PLUGIN_PARAMETERS.input, 520, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.size.fits(c.bytes), c.fits) << c.what << ", " << c.bytes << " bytes";
  }
}

TEST(OrvaneRequests, SizeForACount) {
  EXPECT_EQ(ORVANE_REQUEST_GET_MIXER_CROSSPOINTS.input.forCount(468), 468u * 12);
  EXPECT_EQ(ORVANE_REQUEST_GET_MIXER_PINS.output.forCount(18), 72u);
  EXPECT_EQ(ORVANE_REQUEST_SEND_MESSAGE.input.forCount(12), 44u);
  EXPECT_EQ(ORVANE_REQUEST_GET_STATISTICS.output.forCount(7), 36620u);
  EXPECT_EQ(ORVANE_REQUEST_ASIO_START.input.forCount(7), 0u);
}

// ---------------------------------------------------------------------------
// Records read from raw little-endian byte images laid out by offset, as the
// kernel driver writes them.

class ByteImage {
 public:
  explicit ByteImage(size_t size) : bytes_(size, 0) {}

  void put(size_t offset, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes_.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
  }
  void put16(size_t offset, uint16_t value) { put(offset, value, 2); }
  void put32(size_t offset, uint32_t value) { put(offset, value, 4); }
  void put64(size_t offset, uint64_t value) { put(offset, value, 8); }
  void putText(size_t offset, const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) put16(offset + 2 * i, text[i]);
  }

  template <typename Record>
  Record as() const {
    EXPECT_EQ(bytes_.size(), sizeof(Record));
    Record record;
    std::memcpy(&record, bytes_.data(), sizeof(Record));
    return record;
  }

  template <typename Record>
  bool matches(const Record& record) const {
    return bytes_.size() == sizeof(Record) && std::memcmp(&record, bytes_.data(), sizeof(Record)) == 0;
  }

 private:
  std::vector<uint8_t> bytes_;
};

TEST(OrvaneRecordImages, DeviceListEntries) {
  ByteImage image(1124);
  image.put32(0, 2);
  const size_t second = 4 + 140;
  image.put32(second + 0, 0x11111111);
  image.put32(second + 4, 0x22222222);
  image.put16(second + 8, 0x1234);
  image.put16(second + 10, 0xABCD);
  image.putText(second + 12, u"SN-00042");
  image.putText(second + 52, u"QUINTOR Q8");
  image.put(second + 136, 1, 1);
  image.put(second + 138, 1, 1);

  const auto list = image.as<ORVANE_DEVICE_LIST>();
  EXPECT_EQ(list.count, 2u);
  const ORVANE_DEVICE_INFO& info = list.devices[1];
  EXPECT_EQ(info.deviceId, (ORVANE_DEVICE_ID{0x11111111, 0x22222222}));
  EXPECT_EQ(info.vendorId, 0x1234);
  EXPECT_EQ(info.productId, 0xABCD);
  EXPECT_EQ(std::u16string(info.serialNumber), u"SN-00042");
  EXPECT_EQ(std::u16string(info.deviceName), u"QUINTOR Q8");
  EXPECT_EQ(info.highSpeedPort & ORVANE_DEVICE_HIGH_SPEED_PORT, 1);
  EXPECT_EQ(info.echoPlugin & ORVANE_DEVICE_ECHO_PLUGIN, 0);
  EXPECT_EQ(info.streamingSelected & ORVANE_DEVICE_STREAMING_SELECTED, 1);
}

TEST(OrvaneRecordImages, ChannelListIdentifiersAreUnaligned) {
  ByteImage image(1544);
  image.put32(0, 96);
  image.put64(4, 0x0102030405060708);
  image.put64(4 + 95 * 8, 0x8877665544332211);
  image.put32(772, 1);
  image.put64(776, 0xFEDCBA9876543210);

  const auto pair = image.as<ORVANE_CHANNEL_LIST_PAIR>();
  // Packed fields are read by value; a reference to one would be misaligned.
  const uint64_t firstInput = pair.inputs.channelIds[0];
  const uint64_t lastInput = pair.inputs.channelIds[95];
  const uint64_t firstOutput = pair.outputs.channelIds[0];
  EXPECT_EQ(pair.inputs.count, 96u);
  EXPECT_EQ(firstInput, 0x0102030405060708u);
  EXPECT_EQ(lastInput, 0x8877665544332211u);
  EXPECT_EQ(pair.outputs.count, 1u);
  EXPECT_EQ(firstOutput, 0xFEDCBA9876543210u);
}

TEST(OrvaneRecordImages, ChannelInfoKeepsItsSizeInArrays) {
  // Records of 108 bytes follow one another without padding, so a kernel
  // driver's table of them can be copied as a whole.
  ORVANE_CHANNEL_INFO infos[2] = {};
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&infos[1]) - reinterpret_cast<const uint8_t*>(&infos[0]), 108);

  ByteImage image(108);
  image.put64(0, 0x0000000100000002);
  image.put32(8, 7);
  image.put32(12, 9);
  image.put32(16, ORVANE_CHANNEL_DIRECTION_OUTPUT);
  image.put32(20, ORVANE_SAMPLE_FORMAT_DSD);
  image.putText(24, u"QUINTOR DSD OUT 01");
  const auto info = image.as<ORVANE_CHANNEL_INFO>();
  EXPECT_EQ(info.channelId, 0x0000000100000002u);
  EXPECT_EQ(info.deviceId, (ORVANE_DEVICE_ID{7, 9}));
  EXPECT_EQ(info.direction, ORVANE_CHANNEL_DIRECTION_OUTPUT);
  EXPECT_EQ(info.sampleFormat, ORVANE_SAMPLE_FORMAT_DSD);
  EXPECT_EQ(std::u16string(info.name), u"QUINTOR DSD OUT 01");
}

TEST(OrvaneRecordImages, MessageHeaderAndPayload) {
  ByteImage image(544);
  image.put32(0, 32);
  image.put32(4, 8);
  image.put32(8, ORVANE_MSG_RESPONSE);
  image.put32(12, ORVANE_MSG_CODE_RESULT);
  image.put32(16, 0xFFFFFFFF);
  image.put32(20, 0xA1);
  image.put32(24, 0xB2);
  image.put32(28, ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  image.put32(32, 0x44332211);
  image.put(32 + 511, 0x5A, 1);

  const auto message = image.as<ORVANE_MESSAGE>();
  EXPECT_EQ(message.headerSize, ORVANE_MESSAGE_HEADER_SIZE);
  EXPECT_EQ(message.payloadLength, 8u);
  EXPECT_EQ(message.kind, ORVANE_MSG_RESPONSE);
  EXPECT_EQ(message.code, 2001u);
  EXPECT_EQ(message.sequence, 0xFFFFFFFFu);
  EXPECT_EQ(message.routingFirst, 0xA1u);
  EXPECT_EQ(message.routingSecond, 0xB2u);
  EXPECT_EQ(message.result, ORVANE_STATUS_SOUND_DEVICE_IN_USE);
  EXPECT_EQ(message.payload[0], 0x11);
  EXPECT_EQ(message.payload[3], 0x44);
  EXPECT_EQ(message.payload[511], 0x5A);
}

TEST(OrvaneRecordImages, MixerEntriesAsTheProgramsBuildThem) {
  // The two crosspoints the service switches on when a device is attached.
  ORVANE_MIXER_CROSSPOINT crosspoints[2] = {};
  for (uint8_t k = 0; k < 2; ++k) {
    crosspoints[k].outputPin = {5, k, {0, 0}};
    crosspoints[k].inputPin = {2, k, {0, 0}};
    crosspoints[k].gain = 0;
    crosspoints[k].flags = ORVANE_MIXER_CROSSPOINT_ON;
  }
  ByteImage image(24);
  image.put(0, 5, 1);
  image.put(4, 2, 1);
  image.put(10, 1, 1);
  image.put(12, 5, 1);
  image.put(13, 1, 1);
  image.put(16, 2, 1);
  image.put(17, 1, 1);
  image.put(22, 1, 1);
  EXPECT_TRUE(image.matches(crosspoints));

  ORVANE_MIXER_GAIN gain = {};
  gain.pin = {ORVANE_MIXER_PORT_SPDIF, 3, {0, 0}};
  gain.flags = ORVANE_MIXER_GAIN_MUTE;
  gain.gain = -6000;
  ByteImage gainImage(8);
  gainImage.put(0, 1, 1);
  gainImage.put(1, 3, 1);
  gainImage.put(5, 1, 1);
  gainImage.put16(6, static_cast<uint16_t>(-6000));
  EXPECT_TRUE(gainImage.matches(gain));
}

TEST(OrvaneRecordImages, AsioRequestsCarry64BitSlots) {
  ORVANE_ASIO_CREATE_BUFFERS create = {};
  create.sharedBlockAddress = 0x00007FFF12345678;
  create.bufferEvent = 0x1F4;
  create.bufferFrames = 256;
  ByteImage createImage(20);
  createImage.put64(0, 0x00007FFF12345678);
  createImage.put64(8, 0x1F4);
  createImage.put32(16, 256);
  EXPECT_TRUE(createImage.matches(create));

  ORVANE_ASIO_CHANNEL_BUFFERS buffers = {};
  buffers.channelId = 0x0000000200000011;
  buffers.halfSizeBytes = 1024;
  buffers.bufferWord = ORVANE_ASIO_CHANNEL_BUFFER_WORD;
  buffers.firstHalfAddress = 0x00007FFF00001000;
  ByteImage buffersImage(24);
  buffersImage.put64(0, 0x0000000200000011);
  buffersImage.put32(8, 1024);
  buffersImage.put32(12, 4);
  buffersImage.put64(16, 0x00007FFF00001000);
  EXPECT_TRUE(buffersImage.matches(buffers));
}

TEST(OrvaneRecordImages, SoundDeviceTableEntriesAtTheirOffsets) {
  ByteImage image(9480);
  const size_t playback = 4744;
  image.put32(4740, 1);
  image.put32(playback + 0, ORVANE_SOUND_DEVICE_KIND_LINE);
  image.put32(playback + 4, 4);
  image.put32(playback + 8 + 3 * 4, 3);
  image.put32(playback + 44, 3);
  image.putText(playback + 48, u"QUINTOR Out 7.1");
  image.put32(playback + 140, static_cast<uint32_t>(ORVANE_LINE_VOLUME_FLOOR));

  const auto table = image.as<ORVANE_SOUND_DEVICE_TABLE>();
  EXPECT_EQ(table.recordingCount, 0u);
  EXPECT_EQ(table.playbackCount, 1u);
  const ORVANE_SOUND_DEVICE& device = table.playback[0];
  EXPECT_EQ(device.kind, ORVANE_SOUND_DEVICE_KIND_LINE);
  EXPECT_EQ(device.pairCount, 4u);
  EXPECT_EQ(device.pairs[3], 3u);
  EXPECT_EQ(device.lineAttribute, 3u);
  EXPECT_EQ(std::u16string(device.name), u"QUINTOR Out 7.1");
  EXPECT_EQ(device.volumeFloor, -8388608);
}

TEST(OrvaneRecordImages, StatisticsEntriesDeepInTheRecord) {
  ByteImage image(36620);
  image.put32(0, 17);
  image.put32(364, 2);
  image.put32(368 + 132 + 128, 5);  // second input stream: hardware input FIFO full
  image.put32(368 + 132 + 24, static_cast<uint32_t>(-3));  // its buffers pending
  image.put32(29204, 1);
  image.putText(29208 + 24, u"QUINTOR Out1 L/R");
  image.put32(29208 + 116, 1000);
  image.put32(36424, 4);
  image.put32(36428 + 3 * 48 + 44, static_cast<uint32_t>(-1));
  image.put(12 + 88 + 68, 1, 1);  // second device: firmware version 1.35.2
  image.put(12 + 88 + 69, 35, 1);
  image.put(12 + 88 + 70, 2, 1);

  const auto statistics = image.as<ORVANE_STATISTICS>();
  EXPECT_EQ(statistics.generation, 17u);
  EXPECT_EQ(statistics.inputStreamCount, 2u);
  EXPECT_EQ(statistics.inputStreams[1].hwInputFifoFull, 5u);
  EXPECT_EQ(statistics.inputStreams[1].stream.buffersPending, -3);
  EXPECT_EQ(statistics.playbackSoundDeviceCount, 1u);
  EXPECT_EQ(std::u16string(statistics.playbackSoundDevices[0].name), u"QUINTOR Out1 L/R");
  EXPECT_EQ(statistics.playbackSoundDevices[0].buffersProcessed, 1000u);
  EXPECT_EQ(statistics.asioHostCount, 4u);
  EXPECT_EQ(statistics.asioHosts[3].currentSwitchIntervalMicroseconds, -1);
  EXPECT_EQ(statistics.devices[1].firmwareVersion[0], 1);
  EXPECT_EQ(statistics.devices[1].firmwareVersion[1], 35);
  EXPECT_EQ(statistics.devices[1].firmwareVersion[2], 2);
}

}  // namespace

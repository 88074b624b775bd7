// The statistics record and the status counters over the real transport:
// the objects it lists, its generation word, and the clear flag.

#include <string>

#include "tests/usb-audio-kernel-sim/feature_test_support.h"

using namespace feature_testing;

namespace {

std::u16string text(const char16_t* field, size_t capacity) {
  return std::u16string(field, std::find(field, field + capacity, u'\0'));
}

uint64_t id64(uint32_t low, uint32_t high) { return uint64_t{high} << 32 | low; }

class Statistics : public FeatureTest {
 protected:
  ORVANE_STATUS_COUNTERS counters() {
    SimFile panel;
    ORVANE_STATUS_COUNTERS record{};
    EXPECT_EQ(panel.get(ORVANE_IOCTL_GET_STATUS_COUNTERS, &record), 0u);
    return record;
  }
};

TEST_F(Statistics, DevicesAreListedWithTheirIdentity) {
  const ORVANE_STATISTICS record = statistics();
  ASSERT_EQ(record.deviceCount, 2u);
  const ORVANE_STAT_DEVICE& studio = record.devices[0];
  EXPECT_EQ(studio.deviceId, deviceId(0));
  EXPECT_EQ(studio.vendorId, 0x2F1Au);
  EXPECT_EQ(studio.productId, 0x0110u);
  EXPECT_EQ(studio.revisionId, 0x0103u);
  EXPECT_EQ(studio.boardId, 0x16u);
  EXPECT_EQ(text(studio.name, ORVANE_STAT_DEVICE_NAME_CHARS), u"QUINTOR Studio 16 w");  // cut to the field
  EXPECT_EQ(studio.firmwareVersion[0], 2);
  EXPECT_EQ(studio.firmwareVersion[1], 4);
  EXPECT_EQ(studio.firmwareVersion[2], 17);
  EXPECT_NE(studio.highSpeedPort, 0u);
  EXPECT_EQ(record.devices[1].deviceId, deviceId(1));
  EXPECT_EQ(record.asioHostCount, 0u);
  EXPECT_EQ(record.inputStreamCount, 0u);  // the engine is Down

  SimFile spy(kSpyLink);
  auto big = std::make_unique<ORVANE_STATISTICS>();
  const uint32_t read = ORVANE_STATISTICS_READ;
  EXPECT_EQ(spy.control(ORVANE_IOCTL_GET_STATISTICS, &read, 4, big.get(), sizeof *big - 4),
            ORVANE_STATUS_INVALID_OUTBUFFER_SIZE);
  EXPECT_EQ(spy.control(ORVANE_IOCTL_GET_STATISTICS, nullptr, 0, big.get(), sizeof *big),
            ORVANE_STATUS_INVALID_INBUFFER_SIZE);
  EXPECT_EQ(spy.query(ORVANE_IOCTL_GET_STATISTICS, uint32_t{2}, big.get()), ORVANE_STATUS_INVALID_PARAMETER);
}

TEST_F(Statistics, GenerationChangesWhenObjectsComeOrGo) {
  const uint32_t initial = statistics().generation;
  EXPECT_EQ(statistics().generation, initial);  // reading alone changes nothing

  ORVANE_DEVICE_ID solo{};
  const uint32_t index = 2;
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_PLUG_CONFIGURED, &index, sizeof index, &solo, sizeof solo), 0u);
  const ORVANE_STATISTICS plugged = statistics();
  EXPECT_NE(plugged.generation, initial);
  ASSERT_EQ(plugged.deviceCount, 3u);
  EXPECT_EQ(plugged.devices[2].deviceId, solo);

  ASSERT_EQ(controlSend(usbaudio_sim::SIM_CONTROL_UNPLUG,
                        usbaudio_sim::SIM_DEVICE_SELECTOR{usbaudio_sim::SIM_SELECT_BY_ID, 0, solo}),
            0u);
  const ORVANE_STATISTICS unplugged = statistics();
  EXPECT_NE(unplugged.generation, plugged.generation);
  EXPECT_EQ(unplugged.deviceCount, 2u);

  auto asio = std::make_unique<AsioClient>(64);
  ASSERT_EQ(asio->createBuffers(), 0u);
  const ORVANE_STATISTICS withBuffers = statistics();
  EXPECT_NE(withBuffers.generation, unplugged.generation);
  EXPECT_EQ(withBuffers.asioHostCount, 1u);
  ASSERT_EQ(asio->file.send(ORVANE_IOCTL_ASIO_DISPOSE_BUFFERS), 0u);
  const ORVANE_STATISTICS disposed = statistics();
  EXPECT_NE(disposed.generation, withBuffers.generation);
  EXPECT_EQ(disposed.asioHostCount, 0u);
}

TEST_F(Statistics, PortsChannelsAndStreamsOfTheStreamingDevice) {
  SimFile service;
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);
  ASSERT_EQ(service.send(ORVANE_IOCTL_ASIO_ACQUIRE_CHANNEL, channelAt(outputs, 1)), 0u);

  ORVANE_STATISTICS record = statistics();
  const ORVANE_DEVICE_ID studio = deviceId(0);
  // Inputs: line, S/PDIF, virtual; outputs: line, S/PDIF.
  ASSERT_EQ(record.inputHwPortCount, 3u);
  ASSERT_EQ(record.outputHwPortCount, 2u);
  EXPECT_EQ(record.inputHwPorts[0].portType, ORVANE_PORT_TYPE_I2S);
  EXPECT_EQ(record.inputHwPorts[0].channelCount, 16u);
  EXPECT_EQ(record.inputHwPorts[2].portType, ORVANE_PORT_TYPE_VIRTUAL);
  EXPECT_EQ(record.inputHwPorts[2].deviceId, studio);
  ASSERT_EQ(record.inputPortChannelCount, 20u);
  ASSERT_EQ(record.outputPortChannelCount, 18u);
  const ORVANE_STAT_PORT_CHANNEL& spdifLeft = record.inputPortChannels[16];
  EXPECT_EQ(id64(spdifLeft.hwPortIdLow, spdifLeft.hwPortIdHigh),
            id64(record.inputHwPorts[1].hwPortIdLow, record.inputHwPorts[1].hwPortIdHigh));
  EXPECT_EQ(spdifLeft.channelPosition, 0u);
  EXPECT_EQ(spdifLeft.dataBlockOffset, 16u);

  ASSERT_EQ(record.outputAsioChannelCount, 18u);
  EXPECT_EQ(text(record.outputAsioChannels[1].name, ORVANE_CHANNEL_NAME_CHARS), u"OUT 02");
  EXPECT_EQ(record.outputAsioChannels[1].connected, 1u);  // acquired
  EXPECT_EQ(record.outputAsioChannels[0].connected, 0u);
  EXPECT_EQ(record.outputPortChannels[1].asioChannelConnected, 1u);

  // The S/PDIF input port has a deframer locked to the input.
  ASSERT_EQ(record.spdifDeframerCount, 1u);
  EXPECT_EQ(record.spdifDeframers[0].state, ORVANE_DEFRAMER_PCM_LOCKED);
  EXPECT_EQ(record.spdifDeframers[0].detectedSampleRate, 48000u);
  EXPECT_EQ(id64(record.spdifDeframers[0].hwPortIdLow, record.spdifDeframers[0].hwPortIdHigh),
            id64(record.inputHwPorts[1].hwPortIdLow, record.inputHwPorts[1].hwPortIdHigh));

  // Streams exist while the engine is up: 16 line and 2 S/PDIF channels each
  // way, six frames per packet at 48 kHz, 64 frames per buffer.
  EXPECT_EQ(record.inputStreamCount, 0u);
  bringUp(service);
  record = statistics();
  ASSERT_EQ(record.inputStreamCount, 1u);
  ASSERT_EQ(record.outputStreamCount, 1u);
  const ORVANE_STAT_ISO_STREAM& out = record.outputStreams[0];
  EXPECT_EQ(out.deviceId, studio);
  EXPECT_EQ(out.samplingFrequency, 48000u);
  EXPECT_EQ(out.dataBlockSizeWords, 18u);
  EXPECT_EQ(out.minDataBlocksPerPacket, 6);
  EXPECT_EQ(out.maxPacketSize, 6 * 18 * 4);
  EXPECT_EQ(out.framesPerBuffer, 64u);
  EXPECT_EQ(out.currentCallbackInterval, 1333);
  EXPECT_EQ(out.minRunTime, -1);  // not measured
  EXPECT_EQ(record.inputStreams[0].receiverState, 1u);

  // At a DSD rate the DSD channels stream and S/PDIF has no deframer.
  ASSERT_EQ(service.send(ORVANE_IOCTL_STREAMING_CONTROL, ORVANE_STREAMING_COMMAND_STOP), 0u);
  ASSERT_EQ(service.send(ORVANE_IOCTL_SET_SAMPLE_RATE, ORVANE_SAMPLE_RATE_DSD64), 0u);
  record = statistics();
  EXPECT_EQ(record.inputStreamCount, 0u);  // Ready: no streams
  ASSERT_EQ(record.outputHwPortCount, 1u);
  EXPECT_EQ(record.outputHwPorts[0].portType, ORVANE_PORT_TYPE_DSD);
  EXPECT_EQ(record.outputHwPorts[0].channelCount, 8u);
  EXPECT_EQ(record.spdifDeframerCount, 0u);
}

TEST_F(Statistics, AsioHostCountersAndTheClearFlag) {
  SimFile service;
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);
  bringUp(service);
  AsioClient asio(64);
  ASSERT_EQ(asio.createBuffers(), 0u);
  asio.addChannel(channelAt(outputs, 0));
  ASSERT_EQ(asio.start(), 0u);
  // Nobody acknowledges the halves, so every period after the first is missed.
  ASSERT_TRUE(eventually([&] { return statistics().asioHosts[0].eventsMissed >= 3; }));
  ASSERT_EQ(asio.stop(), 0u);
  ASSERT_EQ(controlRequest(usbaudio_sim::SIM_CONTROL_STREAMING_ERROR), 0u);

  ORVANE_STATISTICS record = statistics();
  ASSERT_EQ(record.asioHostCount, 1u);
  const ORVANE_STAT_ASIO_HOST& asioHost = record.asioHosts[0];
  EXPECT_EQ(asioHost.outputChannelsAcquired, 1u);
  EXPECT_EQ(asioHost.inputChannelsAcquired, 0u);
  EXPECT_EQ(asioHost.channelsEnabled, 0u);  // stopped
  EXPECT_GE(asioHost.bufferSwitchEvents, asioHost.eventsMissed);
  EXPECT_EQ(asioHost.switchIntervalSamples, 64u);
  EXPECT_EQ(asioHost.switchIntervalMicroseconds, 1333u);
  EXPECT_GT(asioHost.maxSwitchIntervalMicroseconds, 0);
  ORVANE_STATUS_COUNTERS status = counters();
  EXPECT_EQ(status.asioErrors, asioHost.eventsMissed);
  EXPECT_EQ(status.streamingErrors, 1u);

  record = statistics(ORVANE_STATISTICS_CLEAR);
  EXPECT_EQ(record.asioHosts[0].bufferSwitchEvents, 0u);
  EXPECT_EQ(record.asioHosts[0].eventsMissed, 0u);
  EXPECT_EQ(record.asioHosts[0].maxSwitchIntervalMicroseconds, -1);
  EXPECT_EQ(record.asioHosts[0].outputChannelsAcquired, 1u);  // objects stay
  status = counters();
  EXPECT_EQ(status.asioErrors, 0u);
  EXPECT_EQ(status.streamingErrors, 0u);
  EXPECT_EQ(statistics().generation, record.generation);
}

TEST_F(Statistics, StreamCountersFollowTheMovedFrames) {
  SimFile service;
  ORVANE_CHANNEL_LIST outputs{};
  ASSERT_EQ(service.get(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, &outputs), 0u);
  bringUp(service);
  AsioClient asio(64);
  ASSERT_EQ(asio.createBuffers(), 0u);
  asio.addChannel(channelAt(outputs, 0));
  ASSERT_EQ(asio.start(), 0u);
  ASSERT_TRUE(eventually([&] { return statistics().outputStreams[0].buffersTransferred >= 4; }));
  ASSERT_EQ(asio.stop(), 0u);
  const ORVANE_STATISTICS record = statistics();
  const uint32_t periods = record.asioHosts[0].bufferSwitchEvents;
  // One streaming buffer per ASIO period of 64 frames, six frames per packet.
  EXPECT_EQ(record.outputStreams[0].buffersTransferred, periods);
  EXPECT_EQ(record.outputStreams[0].dataPackets, periods * 64 / 6);
  EXPECT_EQ(record.spdifDeframers[0].processingCalls, periods);
}

}  // namespace

#include "spy/orvane_spy_driver.h"

#include <algorithm>

namespace {

OrvaneSpyDriver* gActiveConnection = nullptr;

template <size_t Slots, typename Entry>
void limitCount(uint32_t& count, const Entry (&)[Slots]) {
  count = std::min<uint32_t>(count, static_cast<uint32_t>(Slots));
}

}  // namespace

void limitStatisticsCounts(ORVANE_STATISTICS& record) {
  limitCount(record.deviceCount, record.devices);
  limitCount(record.inputStreamCount, record.inputStreams);
  limitCount(record.outputStreamCount, record.outputStreams);
  limitCount(record.spdifDeframerCount, record.spdifDeframers);
  limitCount(record.inputPortChannelCount, record.inputPortChannels);
  limitCount(record.outputPortChannelCount, record.outputPortChannels);
  limitCount(record.inputHwPortCount, record.inputHwPorts);
  limitCount(record.outputHwPortCount, record.outputHwPorts);
  limitCount(record.inputAsioChannelCount, record.inputAsioChannels);
  limitCount(record.outputAsioChannelCount, record.outputAsioChannels);
  limitCount(record.recordingSoundDeviceCount, record.recordingSoundDevices);
  limitCount(record.playbackSoundDeviceCount, record.playbackSoundDevices);
  limitCount(record.inputMidiPortCount, record.inputMidiPorts);
  limitCount(record.outputMidiPortCount, record.outputMidiPorts);
  limitCount(record.inputMidiClientCount, record.inputMidiClients);
  limitCount(record.outputMidiClientCount, record.outputMidiClients);
  limitCount(record.asioHostCount, record.asioHosts);
}

uint32_t OrvaneSpyDriver::getTraceMask(uint32_t& mask) {
  const uint32_t status = ioctlGetTraceMask(mask);
  if (status != 0) mask = 0;
  return status;
}

uint32_t OrvaneSpyDriver::setTraceMask(uint32_t mask) { return ioctlSetTraceMask(mask); }

uint32_t OrvaneSpyDriver::saveTraceMask() { return ioctlSaveTraceMask(); }

uint32_t OrvaneSpyDriver::getStatistics(ORVANE_STATISTICS& record, bool clear) {
  const uint32_t status = ioctlGetStatistics(clear, record);
  if (status == 0) limitStatisticsCounts(record);
  return status;
}

bool OrvaneSpyDriver::isDebugBuild() {
  ORVANE_DRIVER_INFO info{};
  return ioctlGetDriverInfo(info) == 0 && (info.flags & ORVANE_DRIVER_FLAG_DEBUG_BUILD) != 0;
}

OrvaneSpyDriver* activeConnection() { return gActiveConnection; }

void setActiveConnection(OrvaneSpyDriver* connection) { gActiveConnection = connection; }

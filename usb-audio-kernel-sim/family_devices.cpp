// The device list, attaching a connection to a device, channel lists and
// channel information.

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

NtStatus getDeviceList(RequestContext& context) {
  ORVANE_DEVICE_LIST list{};
  Driver& driver = context.driver;
  for (const auto& device : driver.devices()) {
    if (list.count == ORVANE_MAX_DEVICES) break;
    list.devices[list.count++] = device->info(driver.isStreamingDevice(*device));
  }
  return context.reply(list);
}

NtStatus attachDevice(RequestContext& context) {
  const auto id = context.input<ORVANE_DEVICE_ID>();
  if (context.driver.findDevice(id) == nullptr) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  context.connection.attachedDevice = id;
  return STATUS_SUCCESS;
}

ORVANE_CHANNEL_LIST channelList(Driver& driver, uint32_t direction) {
  ORVANE_CHANNEL_LIST list{};
  for (const Channel* channel : driver.listedChannels(direction)) {
    const uint64_t id = channel->id;
    std::memcpy(reinterpret_cast<uint8_t*>(&list) + offsetof(ORVANE_CHANNEL_LIST, channelIds) + list.count * 8, &id, 8);
    ++list.count;
  }
  return list;
}

NtStatus getInputChannels(RequestContext& context) {
  return context.reply(channelList(context.driver, ORVANE_CHANNEL_DIRECTION_INPUT));
}

NtStatus getOutputChannels(RequestContext& context) {
  return context.reply(channelList(context.driver, ORVANE_CHANNEL_DIRECTION_OUTPUT));
}

NtStatus getChannelInfo(RequestContext& context) {
  const auto id = context.input<uint64_t>();
  for (const auto& device : context.driver.devices()) {
    if (const Channel* channel = device->findChannel(id)) return context.reply(channel->info(device->id()));
  }
  return ORVANE_STATUS_OBJECT_NOT_FOUND;
}

NtStatus asioGetChannels(RequestContext& context) {
  ORVANE_CHANNEL_LIST_PAIR pair{};
  pair.inputs = channelList(context.driver, ORVANE_CHANNEL_DIRECTION_INPUT);
  pair.outputs = channelList(context.driver, ORVANE_CHANNEL_DIRECTION_OUTPUT);
  return context.reply(pair);
}

void registerDeviceFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_DEVICE_LIST, getDeviceList);
  dispatcher.add(ORVANE_IOCTL_ATTACH_DEVICE, attachDevice);
  dispatcher.add(ORVANE_IOCTL_GET_INPUT_CHANNELS, getInputChannels);
  dispatcher.add(ORVANE_IOCTL_GET_OUTPUT_CHANNELS, getOutputChannels);
  dispatcher.add(ORVANE_IOCTL_GET_CHANNEL_INFO, getChannelInfo);
  dispatcher.add(ORVANE_IOCTL_ASIO_GET_CHANNELS, asioGetChannels);
  dispatcher.add(ORVANE_IOCTL_ASIO_GET_CHANNEL_INFO, getChannelInfo);
}

const HandlerFamily deviceFamily("devices", registerDeviceFamily);

}  // namespace
}  // namespace usbaudio_sim

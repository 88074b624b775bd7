// The echo plug-in's parameters, on devices that have the plug-in.
//
// The echo works on the device's hardware outputs (line, then S/PDIF), one
// delay (0 to 500 ms) and one amplification (0 to 1000 thousandths) per
// channel, both 0 until set. A request carries the whole 520-byte record;
// reads answer one or two channel/value pairs, writes take one or two and
// change nothing unless every pair is valid.

#include <string>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_panel_records.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

using platform::kernel::STATUS_SUCCESS;

constexpr uint32_t kMaximumDelayMilliseconds = 500;
constexpr uint32_t kMaximumAmplification = 1000;

struct EchoChannel {
  uint32_t delay = 0;
  uint32_t amplification = 0;
};

struct EchoPlugin : DeviceExtension {
  std::vector<EchoChannel> channels;

  void describe(StateReport& report) const override {
    report.openList("echoPlugin");
    for (const EchoChannel& channel : channels) {
      report.add("", "delay " + std::to_string(channel.delay) + " ms, amplification " +
                         std::to_string(channel.amplification));
    }
    report.close();
  }
};

EchoPlugin& echoOf(VirtualDevice& device) {
  EchoPlugin& echo = device.extension<EchoPlugin>();
  if (echo.channels.empty()) echo.channels.resize(device.description().i2sOutputs + device.description().spdifOutputs);
  return echo;
}

// The record of a request that reaches a plug-in; the dispatcher accepts any
// byte count for these codes.
NtStatus readRecord(RequestContext& context, ORVANE_PLUGIN_PARAMETERS* record) {
  if (context.request.inputSize() != sizeof *record) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (!context.device->description().echoPlugin) return ORVANE_STATUS_NOT_SUPPORTED;
  *record = context.input<ORVANE_PLUGIN_PARAMETERS>();
  return STATUS_SUCCESS;
}

bool isChannelSelector(uint32_t selector) {
  return selector == ORVANE_PLUGIN_DELAY || selector == ORVANE_PLUGIN_AMPLIFICATION;
}

using EchoValue = uint32_t EchoChannel::*;

EchoValue valueOf(uint32_t selector) {
  return selector == ORVANE_PLUGIN_DELAY ? &EchoChannel::delay : &EchoChannel::amplification;
}

NtStatus checkPairs(const ORVANE_PLUGIN_PARAMETERS& record, const EchoPlugin& echo) {
  if (record.answerOrPairCount == 0 || record.answerOrPairCount > ORVANE_PLUGIN_MAX_PAIRS) {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  for (uint32_t n = 0; n < record.answerOrPairCount; ++n) {
    if (record.pairs[n].channel >= echo.channels.size()) return ORVANE_STATUS_OBJECT_NOT_FOUND;
  }
  return STATUS_SUCCESS;
}

NtStatus getPluginParameters(RequestContext& context) {
  ORVANE_PLUGIN_PARAMETERS record;
  if (const NtStatus status = readRecord(context, &record); status != STATUS_SUCCESS) return status;
  const EchoPlugin& echo = echoOf(*context.device);
  if (record.selector == ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT) {
    record.answerOrPairCount = static_cast<uint32_t>(echo.channels.size());
  } else if (record.selector == ORVANE_PLUGIN_MAXIMUM_DELAY) {
    record.answerOrPairCount = kMaximumDelayMilliseconds;
  } else if (isChannelSelector(record.selector)) {
    if (const NtStatus status = checkPairs(record, echo); status != STATUS_SUCCESS) return status;
    for (uint32_t n = 0; n < record.answerOrPairCount; ++n) {
      record.pairs[n].value = echo.channels[record.pairs[n].channel].*valueOf(record.selector);
    }
  } else {
    return ORVANE_STATUS_INVALID_PARAMETER;
  }
  return context.reply(record);
}

NtStatus setPluginParameters(RequestContext& context) {
  ORVANE_PLUGIN_PARAMETERS record;
  if (const NtStatus status = readRecord(context, &record); status != STATUS_SUCCESS) return status;
  if (record.selector == ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT || record.selector == ORVANE_PLUGIN_MAXIMUM_DELAY) {
    return ORVANE_STATUS_NOT_ALLOWED;  // properties of the plug-in, not settings
  }
  if (!isChannelSelector(record.selector)) return ORVANE_STATUS_INVALID_PARAMETER;
  EchoPlugin& echo = echoOf(*context.device);
  if (const NtStatus status = checkPairs(record, echo); status != STATUS_SUCCESS) return status;
  const uint32_t maximum =
      record.selector == ORVANE_PLUGIN_DELAY ? kMaximumDelayMilliseconds : kMaximumAmplification;
  for (uint32_t n = 0; n < record.answerOrPairCount; ++n) {
    if (record.pairs[n].value > maximum) return ORVANE_STATUS_INVALID_PARAMETER;
  }
  for (uint32_t n = 0; n < record.answerOrPairCount; ++n) {
    echo.channels[record.pairs[n].channel].*valueOf(record.selector) = record.pairs[n].value;
  }
  return STATUS_SUCCESS;
}

void registerPluginFamily(Dispatcher& dispatcher) {
  dispatcher.add(ORVANE_IOCTL_GET_PLUGIN_PARAMETERS, getPluginParameters);
  dispatcher.add(ORVANE_IOCTL_SET_PLUGIN_PARAMETERS, setPluginParameters);
}

const HandlerFamily pluginFamily("plugin", registerPluginFamily);

}  // namespace
}  // namespace usbaudio_sim

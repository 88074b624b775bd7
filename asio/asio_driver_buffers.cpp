// The channel sets and the buffers: buildChannelSets, createBuffers and
// disposeBuffers.

#include <algorithm>
#include <atomic>
#include <cstring>

#include "asio/asio_driver.h"
#include "device-access/copy_text.h"
#include "device-access/orvane_status.h"
#include "platform/format.h"
#include "platform/shared_memory.h"
#include "platform/text.h"

namespace {

constexpr int32_t kDsdFrameSamples = 64;

bool listed(const ORVANE_CHANNEL_LIST& list, uint64_t id) {
  for (uint32_t i = 0; i < list.count; ++i) {
    uint64_t entry = 0;
    std::memcpy(&entry, &list.channelIds[i], sizeof entry);
    if (entry == id) return true;
  }
  return false;
}

uint64_t listEntry(const ORVANE_CHANNEL_LIST& list, uint32_t n) {
  uint64_t id = 0;
  std::memcpy(&id, &list.channelIds[n], sizeof id);
  return id;
}

// Channels of both sets whose identifiers the new lists hold, and how many
// real (not dummy) channels the sets hold at all.
void countKnown(const AsioChannelSet& set, const ORVANE_CHANNEL_LIST_PAIR& lists, size_t* known, size_t* real) {
  for (const auto& channel : set.inputs) {
    *known += listed(lists.inputs, channel->info.channelId) ? 1 : 0;
    *real += channel->dummy ? 0 : 1;
  }
  for (const auto& channel : set.outputs) {
    *known += listed(lists.outputs, channel->info.channelId) ? 1 : 0;
    *real += channel->dummy ? 0 : 1;
  }
}

}  // namespace

uint32_t AsioDriver::buildChannelSets() {
  ORVANE_CHANNEL_LIST_PAIR lists{};
  const uint32_t status = client_.ioctlAsioGetChannels(lists);
  if (status != 0) {
    setErrorText(kNoDeviceText);
    client_.closeDriver();
    return status;
  }
  size_t known = 0;
  size_t real = 0;
  countKnown(pcmSet_, lists, &known, &real);
  countKnown(dsdSet_, lists, &known, &real);
  const size_t wanted = size_t{lists.inputs.count} + lists.outputs.count;
  // Unchanged only when the sets hold exactly the listed channels; a channel
  // that is no longer listed must not stay.
  if (known == wanted && real == wanted) return 0;

  pcmSet_.clearKeepingActive(retiredChannels_);
  dsdSet_.clearKeepingActive(retiredChannels_);
  for (const ORVANE_CHANNEL_LIST* list : {&lists.inputs, &lists.outputs}) {
    for (uint32_t i = 0; i < list->count; ++i) {
      ORVANE_CHANNEL_INFO info{};
      if (client_.ioctlAsioGetChannelInfo(listEntry(*list, i), info) != 0) continue;
      auto channel = std::make_unique<AsioChannel>(info, false);
      (channel->isDsd() ? dsdSet_ : pcmSet_).append(std::move(channel));
    }
  }
  if (pcmSet_.outputs.empty()) addDummyOutputs();
  return 0;
}

void AsioDriver::addDummyOutputs() {
  for (const char16_t* side : {u"L", u"R"}) {
    ORVANE_CHANNEL_INFO info{};
    info.direction = ORVANE_CHANNEL_DIRECTION_OUTPUT;
    platform::formatText(info.name, ORVANE_CHANNEL_NAME_CHARS, u"Dummy OUT %s", side);
    pcmSet_.append(std::make_unique<AsioChannel>(info, true));
  }
}

ASIOError AsioDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                    ASIOCallbacks* callbacks) {
  if (state_ != AsioDriverState::Initialised) return ASE_NotPresent;
  const int32_t hostSize = bufferSize;
  if (dsdMode_) bufferSize /= kDsdFrameSamples;
  if (bufferInfos == nullptr || callbacks == nullptr || bufferSize <= 0 || numChannels < 0) {
    return ASE_InvalidParameter;
  }
  bufferFrames_ = static_cast<uint32_t>(bufferSize);
  hostBufferSize_ = hostSize;
  callbacks_ = callbacks;
  currentSet().releaseActive();

  if (sharedBlock_ != nullptr) platform::freeShareable(sharedBlock_);
  sharedBlock_ = static_cast<ORVANE_ASIO_SHARED_BLOCK*>(platform::allocateShareable(sizeof(ORVANE_ASIO_SHARED_BLOCK)));
  if (sharedBlock_ == nullptr) return ASE_NoMemory;
  *sharedBlock_ = {};
  if (bufferEvent_.create(false) != 0) return ASE_NoMemory;
  const ORVANE_ASIO_CREATE_BUFFERS record{reinterpret_cast<uintptr_t>(sharedBlock_),
                                          reinterpret_cast<uintptr_t>(bufferEvent_.handle()), bufferFrames_};
  if (client_.ioctlAsioCreateBuffers(record) != 0) return ASE_NoMemory;

  for (int32_t i = 0; i < numChannels; ++i) {
    const ASIOError result = prepareChannel(bufferInfos[i]);
    if (result != ASE_OK) {
      disposeBuffers();
      // The entries before this one would point into freed buffers.
      for (int32_t j = 0; j < i; ++j) bufferInfos[j].buffers[0] = bufferInfos[j].buffers[1] = nullptr;
      return result;
    }
  }
  state_ = AsioDriverState::Prepared;
  askHostAbilities();
  return ASE_OK;
}

ASIOError AsioDriver::prepareChannel(ASIOBufferInfo& entry) {
  entry.buffers[0] = nullptr;
  entry.buffers[1] = nullptr;
  AsioChannelSet& set = currentSet();
  AsioChannel* channel = set.find(entry.isInput != ASIOFalse, entry.channelNum);
  // A channel listed twice would have its first buffer freed under the host.
  if (channel == nullptr || channel->buffer != nullptr) return ASE_InvalidParameter;
  const uint64_t bytes = uint64_t{bufferFrames_} * (channel->isDsd() ? 16 : 8);
  if (bytes > UINT32_MAX || !channel->allocateBuffer(static_cast<uint32_t>(bytes))) return ASE_NoMemory;
  (channel->isInput() ? set.activeInputs : set.activeOutputs).push_back(channel);
  if (!channel->dummy) {
    const uint32_t half = channel->bufferBytes / 2;
    uint32_t status = client_.ioctlAsioAcquireChannel(channel->info.channelId);
    if (status == 0) {
      status = client_.ioctlAsioSetChannelBuffers(ORVANE_ASIO_CHANNEL_BUFFERS{
          channel->info.channelId, half, ORVANE_ASIO_CHANNEL_BUFFER_WORD, reinterpret_cast<uintptr_t>(channel->buffer)});
    }
    if (status != 0) {
      // The whole call fails: a host must not write to a channel nobody plays.
      platform::formatText(errorText_, kAsioErrorTextChars, u"The channel %s is not available (%hs).",
                           channel->info.name, orvaneStatusName(status));
      return ASE_HWMalfunction;
    }
  }
  entry.buffers[0] = channel->buffer;
  entry.buffers[1] = channel->buffer + channel->bufferBytes / 2;
  return ASE_OK;
}

int32_t AsioDriver::hostMessage(int32_t selector, int32_t value) {
  if (callbacks_ == nullptr || callbacks_->asioMessage == nullptr) return 0;
  return callbacks_->asioMessage(selector, value, nullptr, nullptr);
}

void AsioDriver::askHostAbilities() {
  host_ = AsioHostAbilities{};
  host_.timeInfo = hostMessage(kAsioSupportsTimeInfo, 0) > 0;
  if (host_.timeInfo) {
    platform::CriticalSectionLock lock(timeLock_);
    timeInfo_ = ASIOTime{};
    timeInfo_.timeInfo.speed = 1.0;
    timeInfo_.timeInfo.sampleRate = currentSettings().sampleRates.currentRate;
    timeInfo_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
  }
  if (hostMessage(kAsioSelectorSupported, kAsioEngineVersion) != 0) {
    host_.engineVersion = hostMessage(kAsioEngineVersion, 0);
  }
  host_.resetRequest = hostMessage(kAsioSelectorSupported, kAsioResetRequest) > 0;
  host_.bufferSizeChange = hostMessage(kAsioSelectorSupported, kAsioBufferSizeChange) > 0;
  host_.resync = hostMessage(kAsioSelectorSupported, kAsioResyncRequest) > 0;
  host_.latenciesChanged = hostMessage(kAsioSelectorSupported, kAsioLatenciesChanged) > 0;
}

ASIOError AsioDriver::disposeBuffers() {
  stop();
  callbacks_ = nullptr;
  releaseBuffers();
  if (state_ == AsioDriverState::Prepared || state_ == AsioDriverState::Running) {
    state_ = AsioDriverState::Initialised;
  }
  return ASE_OK;
}

void AsioDriver::releaseBuffers() {
  // Both sets: a format switch while buffers exist leaves them in the other one.
  for (AsioChannelSet* set : {&pcmSet_, &dsdSet_}) {
    for (const auto* list : {&set->activeInputs, &set->activeOutputs}) {
      for (const AsioChannel* channel : *list) {
        if (!channel->dummy) client_.ioctlAsioReleaseChannel(channel->info.channelId);
      }
    }
    set->releaseActive();
  }
  retiredChannels_.clear();
  client_.ioctlAsioDisposeBuffers();
  bufferEvent_.closeHandle();
  if (sharedBlock_ != nullptr) platform::freeShareable(sharedBlock_);
  sharedBlock_ = nullptr;
}

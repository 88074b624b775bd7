#include "asio/asio_channel.h"

#include <algorithm>

#include "platform/shared_memory.h"

bool AsioChannel::allocateBuffer(uint32_t bytes) {
  freeBuffer();
  // Shareable, so that the kernel driver can reach it; zeroed.
  buffer = static_cast<uint8_t*>(platform::allocateShareable(bytes));
  if (buffer == nullptr) return false;
  bufferBytes = bytes;
  return true;
}

void AsioChannel::freeBuffer() {
  if (buffer != nullptr) platform::freeShareable(buffer);
  buffer = nullptr;
  bufferBytes = 0;
}

AsioChannel* AsioChannelSet::find(bool input, int32_t number) const {
  const auto& list = input ? inputs : outputs;
  if (number < 0 || static_cast<size_t>(number) >= list.size()) return nullptr;
  return list[static_cast<size_t>(number)].get();
}

void AsioChannelSet::append(std::unique_ptr<AsioChannel> channel) {
  (channel->isInput() ? inputs : outputs).push_back(std::move(channel));
}

void AsioChannelSet::releaseActive() {
  for (auto* list : {&activeInputs, &activeOutputs}) {
    for (AsioChannel* channel : *list) channel->freeBuffer();
    list->clear();
  }
}

void AsioChannelSet::clear() {
  releaseActive();
  inputs.clear();
  outputs.clear();
}

void AsioChannelSet::clearKeepingActive(std::vector<std::unique_ptr<AsioChannel>>& keep) {
  for (auto* list : {&inputs, &outputs}) {
    for (auto& channel : *list) {
      if (channel->buffer != nullptr) keep.push_back(std::move(channel));
    }
    list->clear();
  }
}

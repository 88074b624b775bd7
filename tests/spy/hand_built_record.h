#pragma once
// Statistics records built by hand for the tree's tests: a few helpers that
// append entries to a zeroed record.

#include <algorithm>
#include <memory>
#include <string_view>

#include "device-access/orvane_statistics.h"

namespace spy_testing {

inline ORVANE_DEVICE_ID deviceNumber(uint32_t n) { return ORVANE_DEVICE_ID{n, 0x2F1A0110}; }

template <size_t Chars>
void setName(char16_t (&field)[Chars], std::u16string_view text) {
  std::fill(field, field + Chars, u'\0');
  std::copy_n(text.begin(), std::min(text.size(), Chars), field);
}

class HandBuiltRecord {
 public:
  HandBuiltRecord() : record_(std::make_unique<ORVANE_STATISTICS>()) { record_->generation = 1; }

  ORVANE_STATISTICS& operator*() { return *record_; }
  ORVANE_STATISTICS* operator->() { return record_.get(); }

  ORVANE_STAT_DEVICE& device(uint32_t n, std::u16string_view name) {
    ORVANE_STAT_DEVICE& entry = record_->devices[record_->deviceCount++];
    entry.deviceId = deviceNumber(n);
    setName(entry.name, name);
    return entry;
  }
  ORVANE_STAT_HW_PORT& port(bool input, uint32_t device, uint32_t portId, uint32_t type, uint32_t number) {
    ORVANE_STAT_HW_PORT& entry = input ? record_->inputHwPorts[record_->inputHwPortCount++]
                                       : record_->outputHwPorts[record_->outputHwPortCount++];
    entry.hwPortIdLow = portId;
    entry.hwPortIdHigh = device;
    entry.deviceId = deviceNumber(device);
    entry.portType = type;
    entry.portNumber = number;
    return entry;
  }
  ORVANE_STAT_PORT_CHANNEL& portChannel(bool input, uint32_t device, uint32_t portId) {
    ORVANE_STAT_PORT_CHANNEL& entry = input ? record_->inputPortChannels[record_->inputPortChannelCount++]
                                            : record_->outputPortChannels[record_->outputPortChannelCount++];
    entry.hwPortIdLow = portId;
    entry.hwPortIdHigh = device;
    return entry;
  }
  ORVANE_STAT_SPDIF_DEFRAMER& deframer(uint32_t device, uint32_t portId) {
    ORVANE_STAT_SPDIF_DEFRAMER& entry = record_->spdifDeframers[record_->spdifDeframerCount++];
    entry.hwPortIdLow = portId;
    entry.hwPortIdHigh = device;
    return entry;
  }
  ORVANE_STAT_ISO_STREAM& stream(bool input, uint32_t device) {
    ORVANE_STAT_ISO_STREAM& entry = input ? record_->inputStreams[record_->inputStreamCount++].stream
                                          : record_->outputStreams[record_->outputStreamCount++];
    entry.deviceId = deviceNumber(device);
    return entry;
  }
  ORVANE_STAT_ASIO_CHANNEL& asioChannel(bool input, uint32_t device, std::u16string_view name, bool connected) {
    ORVANE_STAT_ASIO_CHANNEL& entry = input ? record_->inputAsioChannels[record_->inputAsioChannelCount++]
                                            : record_->outputAsioChannels[record_->outputAsioChannelCount++];
    entry.deviceId = deviceNumber(device);
    entry.connected = connected ? 1 : 0;
    setName(entry.name, name);
    return entry;
  }
  ORVANE_STAT_SOUND_DEVICE& soundDevice(bool recording, uint32_t device, std::u16string_view name, bool connected) {
    ORVANE_STAT_SOUND_DEVICE& entry = recording ? record_->recordingSoundDevices[record_->recordingSoundDeviceCount++]
                                                : record_->playbackSoundDevices[record_->playbackSoundDeviceCount++];
    entry.deviceId = deviceNumber(device);
    entry.connected = connected ? 1 : 0;
    setName(entry.name, name);
    return entry;
  }
  ORVANE_STAT_MIDI_PORT& midiPort(bool input, uint32_t device, uint32_t midiPortId, uint32_t index) {
    ORVANE_STAT_MIDI_PORT& entry = input ? record_->inputMidiPorts[record_->inputMidiPortCount++]
                                         : record_->outputMidiPorts[record_->outputMidiPortCount++];
    entry.midiPortIdLow = midiPortId;
    entry.midiPortIdHigh = device;
    entry.deviceId = deviceNumber(device);
    entry.index = index;
    return entry;
  }
  void midiClientIn(uint32_t device, uint32_t midiPortId) {
    ORVANE_STAT_MIDI_CLIENT_IN& entry = record_->inputMidiClients[record_->inputMidiClientCount++];
    entry.midiPortIdLow = midiPortId;
    entry.midiPortIdHigh = device;
  }
  void midiClientOut(uint32_t device, uint32_t midiPortId) {
    ORVANE_STAT_MIDI_CLIENT_OUT& entry = record_->outputMidiClients[record_->outputMidiClientCount++];
    entry.midiPortIdLow = midiPortId;
    entry.midiPortIdHigh = device;
  }
  ORVANE_STAT_ASIO_HOST& asioHost() { return record_->asioHosts[record_->asioHostCount++]; }

  // A device with one of everything: the record most tests start from.
  static HandBuiltRecord sample() {
    HandBuiltRecord r;
    r.device(1, u"Orvane A");
    r.stream(true, 1);
    r.stream(false, 1);
    r.port(true, 1, 0x10, 1, 0);
    r.port(true, 1, 0x11, 10, 0);
    r.portChannel(true, 1, 0x10);
    r.portChannel(true, 1, 0x10);
    r.port(false, 1, 0x20, 1, 0);
    r.portChannel(false, 1, 0x20);
    r.deframer(1, 0x11);
    r.asioChannel(true, 1, u"IN 01", true);
    r.asioChannel(true, 1, u"IN 02", false);
    r.asioChannel(false, 1, u"OUT 01", true);
    r.soundDevice(true, 1, u"In 1/2", false);
    r.soundDevice(false, 1, u"Out 1/2", true);
    r.midiPort(true, 1, 0x30, 0);
    r.midiPort(false, 1, 0x31, 0);
    r.midiClientIn(1, 0x30);
    r.midiClientOut(1, 0x31);
    r.asioHost();
    return r;
  }

 private:
  std::unique_ptr<ORVANE_STATISTICS> record_;
};

}  // namespace spy_testing

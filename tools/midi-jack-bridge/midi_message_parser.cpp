#include "tools/midi-jack-bridge/midi_message_parser.h"

namespace midi_jack_bridge {

size_t dataBytesAfter(uint8_t status) {
  if (status < 0xF0) return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
  switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
  }
}

void MidiMessageParser::endSysex(bool complete, const Emit& emit) {
  if (complete) {
    message_.push_back(0xF7);
    emit(message_.data(), message_.size());
  } else {
    dropped_ += message_.size();
  }
  message_.clear();
  sysex_ = false;
  sysexTooLong_ = false;
}

void MidiMessageParser::startMessage(uint8_t status, const Emit& emit) {
  if (!message_.empty() && !sysex_) dropped_ += message_.size();  // an unfinished message
  message_.assign(1, status);
  expected_ = dataBytesAfter(status);
  runningStatus_ = status < 0xF0 ? status : 0;  // system common messages cancel running status
  if (expected_ == 0) {
    if (status == 0xF6) emit(message_.data(), 1);  // tune request; F4 and F5 are undefined
    message_.clear();
  }
}

void MidiMessageParser::feed(const uint8_t* bytes, size_t count, const Emit& emit) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) {  // real-time: stands alone, interrupts nothing
      emit(&byte, 1);
      continue;
    }
    if (byte == 0xF7) {
      if (sysex_) {
        endSysex(!sysexTooLong_, emit);
      } else {
        ++dropped_;
      }
      continue;
    }
    if (byte >= 0x80) {
      if (sysex_) endSysex(false, emit);  // a status ends an unfinished system exclusive
      if (byte == 0xF0) {
        if (!message_.empty()) dropped_ += message_.size();
        message_.assign(1, byte);
        sysex_ = true;
        runningStatus_ = 0;
        continue;
      }
      startMessage(byte, emit);
      continue;
    }
    if (sysex_) {
      if (message_.size() >= kMaxSysex) {
        sysexTooLong_ = true;
        ++dropped_;
        continue;
      }
      message_.push_back(byte);
      continue;
    }
    if (message_.empty()) {
      if (runningStatus_ == 0) {
        ++dropped_;
        continue;
      }
      message_.assign(1, runningStatus_);
      expected_ = dataBytesAfter(runningStatus_);
    }
    message_.push_back(byte);
    if (message_.size() == expected_ + 1) {
      emit(message_.data(), message_.size());
      message_.clear();
    }
  }
}

}  // namespace midi_jack_bridge

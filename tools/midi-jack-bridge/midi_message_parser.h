#pragma once
// Cuts a MIDI byte stream into whole messages, as a MIDI input port does:
// running status, system exclusive up to its end, real-time bytes wherever
// they come. The driver's capture streams carry bytes as they arrived, with
// messages split across datagrams at any point; JACK carries whole messages.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace midi_jack_bridge {

class MidiMessageParser {
 public:
  using Emit = std::function<void(const uint8_t* message, size_t size)>;

  // System exclusive messages longer than this are dropped.
  static constexpr size_t kMaxSysex = 64 * 1024;

  // Calls `emit` for every message the bytes complete.
  void feed(const uint8_t* bytes, size_t count, const Emit& emit);

  // Bytes that belonged to no message (data without status, a broken or too
  // long system exclusive).
  uint64_t droppedBytes() const { return dropped_; }

 private:
  void startMessage(uint8_t status, const Emit& emit);
  void endSysex(bool complete, const Emit& emit);

  uint8_t runningStatus_ = 0;
  std::vector<uint8_t> message_;
  size_t expected_ = 0;  // data bytes the current message takes
  bool sysex_ = false;
  bool sysexTooLong_ = false;  // the whole system exclusive is dropped at its end
  uint64_t dropped_ = 0;
};

// Data bytes that follow a status byte (0 for real-time and F6; sysex: 0).
size_t dataBytesAfter(uint8_t status);

}  // namespace midi_jack_bridge

#pragma once
// The machine's MIDI devices as the global port limit of older systems sees
// them: up to 32 per direction, each flagged as an Ethernet MIDI port (the
// name contains "Ethernet MIDI" after its first character) or a Ternok port
// (". Internal MIDI" after the first character); the rest are regular ports.

#include <cstdint>
#include <string>
#include <vector>

class MidiDeviceCensus {
 public:
  static constexpr size_t kMaxDevices = 32;

  struct Entry {
    std::u16string name;
    bool ethernet = false;
    bool ternok = false;
    bool operator==(const Entry&) const = default;
  };

  void Refresh();
  // Refreshes; true when a count, a name or a flag differs from before.
  bool Changed();
  // The larger of the regular output and regular input device counts.
  int RegularPortCount() const;
  // 10 on system version 5.0, otherwise 32.
  int Limit() const { return limit_; }

  const std::vector<Entry>& Outputs() const { return outputs_; }
  const std::vector<Entry>& Inputs() const { return inputs_; }

  // The flags of one name.
  static Entry classify(const std::u16string& name);

 private:
  std::vector<Entry> outputs_;
  std::vector<Entry> inputs_;
  int limit_ = 32;
};

// On systems of major version 5 or lower: the requested Ethernet port count,
// clamped (with the "Global port limit exceed" message) so that regular,
// Ternok and Ethernet ports stay within the global limit. `ternokKnown`:
// the Ternok count was readable when the dialog started.
int CheckGlobalPortLimit(MidiDeviceCensus& census, int requested, bool ternokKnown);

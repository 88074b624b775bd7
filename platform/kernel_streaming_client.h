#pragma once
// The application side of kernel streaming: property and event requests on
// a filter or pin handle, MIDI pins created on a filter, and the MIDI stream
// records they read and write.
//
// The device host carries a request's input bytes to the driver and its
// output bytes back, but not what the caller put in its output buffer. The
// value of a set request and the KSEVENTDATA of an event therefore travel
// after the request in the input, where the drivers' kernel streaming looks
// for them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/device_io.h"
#include "platform/handles.h"
#include "platform/kernel_streaming.h"

namespace platform {

// 0 or the system error of each request; `returned` receives the bytes of
// the answer (optional).
uint32_t ksGetProperty(Handle device, const void* request, uint32_t requestSize, void* value, uint32_t valueSize,
                       uint32_t* returned = nullptr);
uint32_t ksSetProperty(Handle device, const void* request, uint32_t requestSize, const void* value,
                       uint32_t valueSize);
uint32_t ksEnableEvent(Handle device, const void* event, uint32_t eventSize, const KSEVENTDATA& data);
// Disables the event enabled with `data`, or every event of the handle for null.
uint32_t ksDisableEvent(Handle device, const KSEVENTDATA* data);

// A node property of the audio set on all channels, as the control filter takes it.
KSNODEPROPERTY_AUDIO_CHANNEL audioNodeProperty(uint32_t id, uint32_t flags, uint32_t node);

// The data format of a MIDI stream pin.
KSDATAFORMAT midiStreamFormat();

// The machine's monotonic clock in 100-ns units, the clock of MIDI record times.
int64_t monotonicTime100ns();

struct MidiRecord {
  int64_t time = 0;
  uint32_t flags = 0;
  uint32_t lostBytes = 0;
  std::vector<uint8_t> bytes;
};

void appendMidiRecord(std::vector<uint8_t>& stream, int64_t time, const uint8_t* bytes, size_t count);
// False for data that is not a sequence of whole records.
bool parseMidiRecords(const uint8_t* data, size_t size, std::vector<MidiRecord>* records);

// A MIDI pin of a filter, owned: closing it (destructor) ends the pin and
// any read still waiting.
class KsMidiPin {
 public:
  // Opens the filter at `filterPath` and turns the connection into a pin of
  // pin factory `pinId` in the stop state. Null with `error` set on failure.
  static std::unique_ptr<KsMidiPin> create(std::u16string_view filterPath, uint32_t pinId, uint32_t* error);
  ~KsMidiPin();
  KsMidiPin(const KsMidiPin&) = delete;
  KsMidiPin& operator=(const KsMidiPin&) = delete;

  Handle handle() const { return handle_.load(); }
  uint32_t setState(KSSTATE state);
  uint32_t getState(KSSTATE* state);
  // Sends records (appendMidiRecord); returns when the driver took them all.
  uint32_t write(const std::vector<uint8_t>& records);
  // Sends bytes as one record due at once.
  uint32_t writeBytes(const uint8_t* bytes, size_t count);
  // Waits up to `timeoutMs` (INFINITE for no limit) for records; a read that
  // timed out stays in flight and the next call goes on waiting for it.
  // 0, ERROR_TIMEOUT or the request's error.
  uint32_t read(std::vector<MidiRecord>* records, uint32_t timeoutMs);
  // Ends the pin at once (also from another thread): a waiting read returns
  // with an error.
  void close();

 private:
  explicit KsMidiPin(Handle handle);

  std::atomic<Handle> handle_;
  Handle readEvent_;
  Overlapped overlapped_;
  std::vector<uint8_t> buffer_;
  std::atomic<bool> reading_{false};
};

}  // namespace platform

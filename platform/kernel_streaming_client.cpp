#include "platform/kernel_streaming_client.h"

#include <time.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/waits.h"

namespace platform {

namespace {

uint32_t control(Handle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                 uint32_t outputSize, uint32_t* returned) {
  uint32_t bytes = 0;
  const bool ok = deviceIoControl(device, code, input, inputSize, output, outputSize, &bytes, nullptr);
  if (returned != nullptr) *returned = bytes;
  return ok ? ERROR_SUCCESS : lastError();
}

std::vector<uint8_t> joined(const void* head, uint32_t headSize, const void* tail, uint32_t tailSize) {
  std::vector<uint8_t> bytes(headSize + tailSize);
  if (headSize > 0) std::memcpy(bytes.data(), head, headSize);
  if (tailSize > 0) std::memcpy(bytes.data() + headSize, tail, tailSize);
  return bytes;
}

}  // namespace

uint32_t ksGetProperty(Handle device, const void* request, uint32_t requestSize, void* value, uint32_t valueSize,
                       uint32_t* returned) {
  return control(device, IOCTL_KS_PROPERTY, request, requestSize, value, valueSize, returned);
}

uint32_t ksSetProperty(Handle device, const void* request, uint32_t requestSize, const void* value,
                       uint32_t valueSize) {
  std::vector<uint8_t> input = joined(request, requestSize, value, valueSize);
  std::vector<uint8_t> output(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + valueSize);
  return control(device, IOCTL_KS_PROPERTY, input.data(), static_cast<uint32_t>(input.size()), output.data(),
                 valueSize, nullptr);
}

uint32_t ksEnableEvent(Handle device, const void* event, uint32_t eventSize, const KSEVENTDATA& data) {
  std::vector<uint8_t> input = joined(event, eventSize, &data, sizeof data);
  KSEVENTDATA output = data;
  return control(device, IOCTL_KS_ENABLE_EVENT, input.data(), static_cast<uint32_t>(input.size()), &output,
                 sizeof output, nullptr);
}

uint32_t ksDisableEvent(Handle device, const KSEVENTDATA* data) {
  return control(device, IOCTL_KS_DISABLE_EVENT, data, data != nullptr ? sizeof *data : 0, nullptr, 0, nullptr);
}

KSNODEPROPERTY_AUDIO_CHANNEL audioNodeProperty(uint32_t id, uint32_t flags, uint32_t node) {
  KSNODEPROPERTY_AUDIO_CHANNEL request{};
  request.nodeProperty.property.set = KSPROPSETID_Audio;
  request.nodeProperty.property.id = id;
  request.nodeProperty.property.flags = flags | KSPROPERTY_TYPE_TOPOLOGY;
  request.nodeProperty.nodeId = node;
  request.channel = -1;
  return request;
}

KSDATAFORMAT midiStreamFormat() {
  KSDATAFORMAT format{};
  format.formatSize = sizeof format;
  format.majorFormat = KSDATAFORMAT_TYPE_MUSIC;
  format.subFormat = KSDATAFORMAT_SUBTYPE_MIDI;
  format.specifier = KSDATAFORMAT_SPECIFIER_NONE;
  return format;
}

int64_t monotonicTime100ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

void appendMidiRecord(std::vector<uint8_t>& stream, int64_t time, const uint8_t* bytes, size_t count) {
  MidiStreamRecordHeader header{};
  header.time = time;
  header.byteCount = static_cast<uint32_t>(count);
  const size_t start = stream.size();
  stream.resize(start + midiRecordSize(header.byteCount), 0);
  std::memcpy(stream.data() + start, &header, sizeof header);
  if (count > 0) std::memcpy(stream.data() + start + sizeof header, bytes, count);
}

bool parseMidiRecords(const uint8_t* data, size_t size, std::vector<MidiRecord>* records) {
  size_t offset = 0;
  while (offset < size) {
    MidiStreamRecordHeader header;
    if (size - offset < sizeof header) return false;
    std::memcpy(&header, data + offset, sizeof header);
    if (header.byteCount > size - offset - sizeof header) return false;
    MidiRecord record;
    record.time = header.time;
    record.flags = header.flags;
    record.lostBytes = header.lostBytes;
    record.bytes.assign(data + offset + sizeof header, data + offset + sizeof header + header.byteCount);
    records->push_back(std::move(record));
    offset += midiRecordSize(header.byteCount);
  }
  return true;
}

// ================================================================ MIDI pins

namespace {
constexpr uint32_t kReadCapacity = 16 * 1024;
}

KsMidiPin::KsMidiPin(Handle handle)
    : handle_(handle), readEvent_(createEvent(true, false)), buffer_(kReadCapacity) {}

KsMidiPin::~KsMidiPin() {
  close();
  if (readEvent_ != nullptr) closeHandle(readEvent_);
}

std::unique_ptr<KsMidiPin> KsMidiPin::create(std::u16string_view filterPath, uint32_t pinId, uint32_t* error) {
  const Handle handle = openDevice(filterPath);
  if (handle == kInvalidHandle) {
    *error = lastError();
    return nullptr;
  }
  KSPIN_CONNECT connect{};
  connect.pinId = pinId;
  const KSDATAFORMAT format = midiStreamFormat();
  std::vector<uint8_t> request = joined(&connect, sizeof connect, &format, sizeof format);
  *error = control(handle, IOCTL_KS_CREATE_PIN, request.data(), static_cast<uint32_t>(request.size()), nullptr, 0,
                   nullptr);
  if (*error != ERROR_SUCCESS) {
    closeHandle(handle);
    return nullptr;
  }
  return std::unique_ptr<KsMidiPin>(new KsMidiPin(handle));
}

uint32_t KsMidiPin::setState(KSSTATE state) {
  KSPROPERTY request{KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET};
  const uint32_t value = state;
  return ksSetProperty(handle_, &request, sizeof request, &value, sizeof value);
}

uint32_t KsMidiPin::getState(KSSTATE* state) {
  KSPROPERTY request{KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_GET};
  uint32_t value = 0;
  const uint32_t error = ksGetProperty(handle_, &request, sizeof request, &value, sizeof value);
  if (error == ERROR_SUCCESS) *state = static_cast<KSSTATE>(value);
  return error;
}

uint32_t KsMidiPin::write(const std::vector<uint8_t>& records) {
  return control(handle_, IOCTL_KS_WRITE_STREAM, records.data(), static_cast<uint32_t>(records.size()), nullptr, 0,
                 nullptr);
}

uint32_t KsMidiPin::writeBytes(const uint8_t* bytes, size_t count) {
  std::vector<uint8_t> records;
  appendMidiRecord(records, 0, bytes, count);
  return write(records);
}

uint32_t KsMidiPin::read(std::vector<MidiRecord>* records, uint32_t timeoutMs) {
  const Handle handle = handle_.load();
  if (handle == kInvalidHandle) return ERROR_INVALID_HANDLE;
  if (!reading_) {
    overlapped_ = Overlapped{};
    overlapped_.event = readEvent_;
    uint32_t bytes = 0;
    if (deviceIoControl(handle, IOCTL_KS_READ_STREAM, nullptr, 0, buffer_.data(),
                        static_cast<uint32_t>(buffer_.size()), &bytes, &overlapped_)) {
      return parseMidiRecords(buffer_.data(), bytes, records) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    }
    if (lastError() != ERROR_IO_PENDING) return lastError();
    reading_ = true;
  }
  if (waitForSingle(readEvent_, timeoutMs) == WAIT_TIMEOUT) return ERROR_TIMEOUT;
  reading_ = false;
  const auto status = static_cast<uint32_t>(std::atomic_ref<uint64_t>(overlapped_.internal).load());
  const auto bytes = static_cast<uint32_t>(std::atomic_ref<uint64_t>(overlapped_.internalHigh).load());
  if (!statusSucceeded(status)) return errorFromStatus(status);
  return parseMidiRecords(buffer_.data(), bytes, records) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

void KsMidiPin::close() {
  const Handle handle = handle_.exchange(kInvalidHandle);
  if (handle == kInvalidHandle) return;
  closeHandle(handle);  // cancels a read in flight and sets its event
  if (reading_) waitForSingle(readEvent_, INFINITE);
}

}  // namespace platform

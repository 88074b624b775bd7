#pragma once
// Kernel streaming as applications and drivers exchange it: the request codes,
// identifiers and record layouts of property, event and pin requests on the
// device interfaces of audio drivers, and the MIDI stream records that pins
// read and write. Shared by the kernel side (platform/kernel/wdm) and user
// programs; every record is little-endian with a fixed size.

#include <cstdint>

#include "platform/guid.h"

namespace platform {

// ---------------------------------------------------------------- request codes

inline constexpr uint32_t IOCTL_KS_PROPERTY = 0x2F0003;
inline constexpr uint32_t IOCTL_KS_ENABLE_EVENT = 0x2F0007;
inline constexpr uint32_t IOCTL_KS_DISABLE_EVENT = 0x2F000B;
// Writes MIDI stream records to a render pin; completes when every byte has
// been handed to the driver.
inline constexpr uint32_t IOCTL_KS_WRITE_STREAM = 0x2F8013;
// Reads MIDI stream records from a capture pin; pends until there is one.
inline constexpr uint32_t IOCTL_KS_READ_STREAM = 0x2F4017;
// Turns a freshly opened connection to a filter into a pin of that filter:
// input KSPIN_CONNECT followed by the KSDATAFORMAT of the connection.
inline constexpr uint32_t IOCTL_KS_CREATE_PIN = 0x2F0403;

// ---------------------------------------------------------------- identifiers

// A set, an item of the set and flags: the head of property, event and
// method requests.
struct KSIDENTIFIER {
  Guid set;
  uint32_t id;
  uint32_t flags;
};
static_assert(sizeof(KSIDENTIFIER) == 24);
using KSPROPERTY = KSIDENTIFIER;
using KSEVENT = KSIDENTIFIER;

inline constexpr uint32_t KSPROPERTY_TYPE_GET = 0x1;
inline constexpr uint32_t KSPROPERTY_TYPE_SET = 0x2;
inline constexpr uint32_t KSPROPERTY_TYPE_BASICSUPPORT = 0x200;
inline constexpr uint32_t KSPROPERTY_TYPE_TOPOLOGY = 0x10000000;

inline constexpr uint32_t KSEVENT_TYPE_ENABLE = 0x1;
inline constexpr uint32_t KSEVENT_TYPE_BASICSUPPORT = 0x200;
inline constexpr uint32_t KSEVENT_TYPE_TOPOLOGY = 0x10000000;

// A property of one node of a filter's topology.
struct KSNODEPROPERTY {
  KSPROPERTY property;
  uint32_t nodeId;
  uint32_t reserved;
};
static_assert(sizeof(KSNODEPROPERTY) == 32);

struct KSNODEPROPERTY_AUDIO_CHANNEL {
  KSNODEPROPERTY nodeProperty;
  int32_t channel;  // -1: all channels
  uint32_t reserved;
};
static_assert(sizeof(KSNODEPROPERTY_AUDIO_CHANNEL) == 40);

// An event of one node.
struct KSE_NODE {
  KSEVENT event;
  uint32_t nodeId;
  uint32_t reserved;
};
static_assert(sizeof(KSE_NODE) == 32);

// How an enabled event is signalled; the output of IOCTL_KS_ENABLE_EVENT and
// the input of IOCTL_KS_DISABLE_EVENT.
struct KSEVENTDATA {
  uint32_t notificationType;
  uint32_t eventHandle;  // a handle of the caller's event
  uint32_t reserved[2];
};
static_assert(sizeof(KSEVENTDATA) == 16);
inline constexpr uint32_t KSEVENTF_EVENT_HANDLE = 1;

// The answer to a basic-support request.
struct KSPROPERTY_DESCRIPTION {
  uint32_t accessFlags;
  uint32_t descriptionSize;
  KSIDENTIFIER propTypeSet;
  uint32_t membersListCount;
  uint32_t reserved;
};
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);
inline constexpr uint32_t VT_UINT = 23;

// ---------------------------------------------------------------- sets and items

inline constexpr Guid KSPROPSETID_Audio = {0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr uint32_t KSPROPERTY_AUDIO_MUTE = 13;
inline constexpr uint32_t KSPROPERTY_AUDIO_DEV_SPECIFIC = 28;
inline constexpr uint32_t KSPROPERTY_AUDIO_CPU_RESOURCES = 33;

inline constexpr Guid KSEVENTSETID_AudioControlChange = {
    0xE85E9698, 0xFA2F, 0x11D1, {0x95, 0xBD, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
inline constexpr uint32_t KSEVENT_CONTROL_CHANGE = 0;

// Pin factories of a filter (filter-level properties; the instance after the
// KSPROPERTY is the pin id, except for KSPROPERTY_PIN_CTYPES).
inline constexpr Guid KSPROPSETID_Pin = {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
inline constexpr uint32_t KSPROPERTY_PIN_CINSTANCES = 0;     // KSPIN_CINSTANCES
inline constexpr uint32_t KSPROPERTY_PIN_CTYPES = 1;         // u32 pin count
inline constexpr uint32_t KSPROPERTY_PIN_DATAFLOW = 2;       // u32 KSPIN_DATAFLOW
inline constexpr uint32_t KSPROPERTY_PIN_COMMUNICATION = 7;  // u32 KSPIN_COMMUNICATION
inline constexpr uint32_t KSPROPERTY_PIN_CATEGORY = 11;      // Guid

struct KSP_PIN {
  KSPROPERTY property;
  uint32_t pinId;
  uint32_t reserved;
};
static_assert(sizeof(KSP_PIN) == 32);

struct KSPIN_CINSTANCES {
  uint32_t possibleCount;
  uint32_t currentCount;
};

// The state of a pin (set and read on the pin).
inline constexpr Guid KSPROPSETID_Connection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr uint32_t KSPROPERTY_CONNECTION_STATE = 0;

enum KSSTATE : uint32_t { KSSTATE_STOP = 0, KSSTATE_ACQUIRE = 1, KSSTATE_PAUSE = 2, KSSTATE_RUN = 3 };

enum KSPIN_DATAFLOW : uint32_t { KSPIN_DATAFLOW_IN = 1, KSPIN_DATAFLOW_OUT = 2 };
enum KSPIN_COMMUNICATION : uint32_t {
  KSPIN_COMMUNICATION_NONE = 0,
  KSPIN_COMMUNICATION_SINK = 1,
  KSPIN_COMMUNICATION_SOURCE = 2,
  KSPIN_COMMUNICATION_BOTH = 3,
  KSPIN_COMMUNICATION_BRIDGE = 4,
};

inline constexpr Guid KSCATEGORY_AUDIO = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid KSPROPTYPESETID_General = {
    0x97E99BA0, 0xBDEA, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid KSNODETYPE_MUTE = {0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid KSNODETYPE_SYNTHESIZER = {
    0xDFF220F3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid KSAUDFNAME_MIDI = {0x185FEDF8, 0x9905, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
inline constexpr Guid KSAUDFNAME_MIDI_MUTE = {
    0x185FEDE8, 0x9905, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};

// ---------------------------------------------------------------- data formats

inline constexpr Guid KSDATAFORMAT_TYPE_MUSIC = {
    0xE725D360, 0x62CC, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid KSDATAFORMAT_SUBTYPE_MIDI = {
    0x1D262760, 0xE957, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid KSDATAFORMAT_SUBTYPE_MIDI_BUS = {
    0x2CA15FA0, 0x6CFE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
inline constexpr Guid KSDATAFORMAT_SPECIFIER_NONE = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr Guid KSMUSIC_TECHNOLOGY_PORT = {
    0x86C92E60, 0x62E8, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// A data format, and the range of formats a pin accepts (same head).
struct alignas(8) KSDATAFORMAT {
  uint32_t formatSize;
  uint32_t flags;
  uint32_t sampleSize;
  uint32_t reserved;
  Guid majorFormat;
  Guid subFormat;
  Guid specifier;
};
static_assert(sizeof(KSDATAFORMAT) == 64);
using KSDATARANGE = KSDATAFORMAT;

struct alignas(8) KSDATARANGE_MUSIC {
  KSDATARANGE dataRange;
  Guid technology;
  uint32_t channels;
  uint32_t notes;
  uint32_t channelMask;
};
static_assert(sizeof(KSDATARANGE_MUSIC) == 96);

// ---------------------------------------------------------------- pins

struct KSPRIORITY {
  uint32_t priorityClass;
  uint32_t prioritySubClass;
};

// The head of a pin creation request; a KSDATAFORMAT follows.
struct KSPIN_CONNECT {
  KSIDENTIFIER interface;
  KSIDENTIFIER medium;
  uint32_t pinId;
  uint32_t reserved;
  uint64_t pinToHandle;  // 0: connected to an application, not to another pin
  KSPRIORITY priority;
};
static_assert(sizeof(KSPIN_CONNECT) == 72);

// One record of a MIDI stream: a header, then byteCount MIDI bytes, padded
// with zeros to a multiple of 8 bytes. A read returns as many whole records
// as fit; a write takes a sequence of them.
struct MidiStreamRecordHeader {
  // Read: when the bytes arrived. Write: when to send them; 0 (or a time
  // already past) sends at once. In 100-ns units of the machine's monotonic
  // clock (CLOCK_MONOTONIC).
  int64_t time;
  uint32_t byteCount;
  uint32_t flags;
  uint32_t lostBytes;  // read: bytes dropped just before this record
  uint32_t reserved;
};
static_assert(sizeof(MidiStreamRecordHeader) == 24);
// Read: bytes were lost before this record (the reader fell behind).
inline constexpr uint32_t MIDI_RECORD_DISCONTINUITY = 1;

constexpr uint32_t midiRecordSize(uint32_t byteCount) {
  return static_cast<uint32_t>(sizeof(MidiStreamRecordHeader)) + (byteCount + 7) / 8 * 8;
}

}  // namespace platform

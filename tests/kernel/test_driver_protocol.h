#pragma once
// Requests of the test driver (tests/kernel/test_driver.cpp).

#include <cstdint>

#include "platform/guid.h"

namespace test_driver {

inline constexpr char16_t kLinkName[] = u"{6D1B6B0C-3C7E-4C57-9E34-7F2A1E5D9A01}";
inline constexpr platform::Guid kInterfaceClass = {0x6D1B6B0C, 0x3C7E, 0x4C57, {0x9E, 0x34, 0x7F, 0x2A, 0x1E, 0x5D, 0x9A, 0x01}};
inline constexpr char16_t kDescription[] = u"Test device";

enum Code : uint32_t {
  kEcho = 0x00222000,            // output = input
  kFail = 0x00222004,            // FailInput: returns `status` with `information` bytes of 0xAB
  kKeepEvent = 0x00222008,       // u64 handle value: the file keeps that event
  kSignalLater = 0x0022200C,     // u32 milliseconds: the kept event is set that much later
  kWriteBuffer = 0x00222010,     // WriteInput: fills the caller's range with `value`
  kDelayed = 0x00222014,         // DelayedInput + payload: pending, completed later (by the driver's one
                                 // worker thread) with the payload
  kStats = 0x00222018,           // Stats out
  kAddInterface = 0x0022201C,    // InterfaceInput: a new echo interface
  kRemoveInterface = 0x00222020,  // UTF-16 link name: withdraws an interface added above
  kRegistryPath = 0x00222024,    // UTF-16 registry path out (no terminator)
  kCompleteInline = 0x00222028,  // pending, then completed before the dispatch returns; output = input
  kSignalKeptLocked = 0x0022202C,  // sets the kept event now, holding the lock every request of the driver takes
  kKeepMemory = 0x00222030,      // WriteInput: maps the caller's range and keeps it with the file
  kThrow = 0x00222034,           // the callback throws std::runtime_error("the test driver throws")
};

// When this variable is set, the entry logs its value and fails (STATUS_UNSUCCESSFUL).
inline constexpr char kRefuseVariable[] = "WN_TEST_DRIVER_REFUSE";

struct FailInput {
  uint32_t status;
  uint32_t information;
};

struct WriteInput {
  uint64_t address;
  uint64_t length;
  uint32_t value;
  uint32_t reserved;
};

struct DelayedInput {
  uint32_t milliseconds;
  uint32_t status;
};

struct Stats {
  uint32_t openFiles;
  uint32_t creates;
  uint32_t cleanups;
};

struct InterfaceInput {
  platform::Guid interfaceClass;
  char16_t linkName[64];
};

}  // namespace test_driver

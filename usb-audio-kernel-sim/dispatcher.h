#pragma once
// Request dispatch: a table from request code to handler. Before a handler
// runs, the dispatcher checks the buffer sizes against the request table
// (ORVANE_STATUS_INVALID_INBUFFER_SIZE / _OUTBUFFER_SIZE) and, for requests
// issued on a device connection, that the connection is attached to a device
// that is still plugged (ORVANE_STATUS_NO_DEVICE / _DEVICE_REMOVED). A code
// without a handler is answered with ORVANE_STATUS_INVALID_IOCTL.
//
// Handlers come in families, one source file each. A family registers its
// handlers from a static HandlerFamily object:
//
//   namespace {
//   NtStatus getBypassVolume(RequestContext& context) { ... }
//   void registerBypass(Dispatcher& dispatcher) {
//     dispatcher.add(ORVANE_IOCTL_GET_BYPASS_VOLUME, getBypassVolume);
//   }
//   const HandlerFamily bypassFamily("bypass", registerBypass);
//   }  // namespace

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <type_traits>

#include "platform/kernel/driver.h"

namespace usbaudio_sim {

using platform::kernel::NtStatus;

class Driver;
class VirtualDevice;
struct Connection;

// What a handler works with. With HandlerLocking::driverLockHeld (the
// default) the driver lock is held for the whole call and `device` is the
// attached device of a device-level request (null for driver-level ones).
// With HandlerLocking::handlerLocks the lock is not held, `device` is null and
// the handler takes the lock itself, never while it calls referenceEvent or
// mapUserMemory.
struct RequestContext {
  Driver& driver;
  Connection& connection;
  platform::kernel::IoRequest& request;
  VirtualDevice* device = nullptr;

  // The input record; the dispatcher has checked its size already.
  template <typename Record>
  Record input() const {
    static_assert(std::is_trivially_copyable_v<Record>);
    Record record{};
    std::memcpy(&record, request.input(), std::min<size_t>(sizeof record, request.inputSize()));
    return record;
  }
  // Writes the output record and its byte count; returns STATUS_SUCCESS.
  template <typename Record>
  NtStatus reply(const Record& record) {
    static_assert(std::is_trivially_copyable_v<Record>);
    return replyBytes(&record, sizeof record);
  }
  NtStatus replyBytes(const void* data, size_t size);
};

enum class HandlerLocking { driverLockHeld, handlerLocks };

using RequestHandler = std::function<NtStatus(RequestContext&)>;

class Dispatcher {
 public:
  // Registers the handler of a code (a later registration replaces it).
  void add(uint32_t code, RequestHandler handler, HandlerLocking locking = HandlerLocking::driverLockHeld);
  bool has(uint32_t code) const { return handlers_.count(code) != 0; }

  // Runs one request of a device link through the checks and its handler.
  NtStatus dispatch(Driver& driver, Connection& connection, platform::kernel::IoRequest& request) const;

  // Every family that registered itself.
  void registerFamilies();

 private:
  struct Entry {
    RequestHandler handler;
    HandlerLocking locking;
  };
  std::map<uint32_t, Entry> handlers_;
};

using FamilyRegistrar = void (*)(Dispatcher& dispatcher);

// Declares a family; construct one as a static object in the family's file.
class HandlerFamily {
 public:
  HandlerFamily(const char* name, FamilyRegistrar registrar);
};

}  // namespace usbaudio_sim

#pragma once
// Handles of waitable objects. A handle is a process-wide value naming one
// reference to a kernel object; the object lives until its last reference
// (handles and internal users such as a running thread) is gone.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

using Handle = void*;

inline const Handle kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// A kernel object that waits can observe. Readiness is reported through a file
// descriptor that poll() watches; acquiring decides whether the wait is
// satisfied (and consumes the signal for auto-reset objects).
class KernelObject {
 public:
  virtual ~KernelObject() = default;

  // Descriptor that becomes readable when the object may be signalled, or -1
  // for objects that must be polled by retrying tryAcquire().
  virtual int readinessFd() const = 0;

  // Satisfies a wait on this object if it is signalled: consumes the signal of
  // an auto-reset object, takes ownership of a mutex. Never blocks.
  virtual bool tryAcquire() = 0;

  // Whether a successful acquire was an abandoned mutex.
  virtual bool wasAbandoned() const { return false; }
};

// Enters an object into the process's handle table; returns its new handle.
Handle insertHandle(std::shared_ptr<KernelObject> object);

// The object a handle names, or null (last error 6) for a bad handle.
std::shared_ptr<KernelObject> lookupHandle(Handle handle);

// The object a handle names when it is of type T, or null (last error 6).
template <typename T>
std::shared_ptr<T> lookupHandleAs(Handle handle) {
  return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

// Removes a handle from the table. False with last error 6 for a bad handle.
bool closeHandle(Handle handle);

// A second handle to the same object (null with last error 6 for a bad one).
Handle duplicateHandle(Handle handle);

// How many handles this process holds; for leak checks in tests.
size_t openHandleCount();

}  // namespace platform

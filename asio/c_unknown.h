#pragma once
// The in-process server's object bases: the server's counts, CBaseObject
// (counts the live objects) and CUnknown (the reference-counted, aggregatable
// base of every object the server makes).
//
// An aggregatable object has two IUnknowns: its non-delegating one
// (INonDelegatingUnknown, owned by whoever created it: the outer object when
// aggregated, else the object itself) and the IUnknown of its other
// interfaces, which forwards to the controlling object.

#include <atomic>
#include <cstdint>

#include "platform/com/com.h"

// The server's counts. DllCanUnloadNow allows unloading while both are 0.
class ServerCounts {
 public:
  static long activeObjects() { return activeObjects_.load(); }
  static long locks() { return locks_.load(); }
  static void objectCreated() { ++activeObjects_; }
  static void objectDestroyed() { --activeObjects_; }
  static void lock(bool add) { add ? ++locks_ : --locks_; }

 private:
  static inline std::atomic<long> activeObjects_{0};
  static inline std::atomic<long> locks_{0};
};

class INonDelegatingUnknown {
 public:
  virtual platform::HRESULT NonDelegatingQueryInterface(const platform::IID& iid, void** object) = 0;
  virtual uint32_t NonDelegatingAddRef() = 0;
  virtual uint32_t NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

class CBaseObject {
 public:
  CBaseObject() { ServerCounts::objectCreated(); }
  ~CBaseObject() { ServerCounts::objectDestroyed(); }
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // `outer` is the controlling object when aggregated, else null.
  explicit CUnknown(platform::IUnknown* outer);
  virtual ~CUnknown() = default;

  // IUnknown answers the non-delegating IUnknown; anything else
  // E_NOINTERFACE. Objects add their interfaces and pass the rest on here.
  platform::HRESULT NonDelegatingQueryInterface(const platform::IID& iid, void** object) override;
  uint32_t NonDelegatingAddRef() override;
  // Destroys the object when the count reaches 0.
  uint32_t NonDelegatingRelease() override;

  // The object that answers QueryInterface, AddRef and Release of the other interfaces.
  platform::IUnknown* owner() const { return owner_; }

 protected:
  // Hands out `interface` with a reference added through the controlling object.
  platform::HRESULT getInterface(platform::IUnknown* interface, void** object);

 private:
  // The non-delegating operations as an IUnknown, which is how callers hold
  // them: the controlling object of an object that is not aggregated, and
  // what an outer object gets from CreateInstance.
  class NonDelegatingIdentity final : public platform::IUnknown {
   public:
    explicit NonDelegatingIdentity(CUnknown* object) : object_(object) {}
    platform::HRESULT QueryInterface(const platform::IID& iid, void** object) override {
      return object_->NonDelegatingQueryInterface(iid, object);
    }
    uint32_t AddRef() override { return object_->NonDelegatingAddRef(); }
    uint32_t Release() override { return object_->NonDelegatingRelease(); }

   private:
    CUnknown* const object_;
  };

  NonDelegatingIdentity identity_{this};
  platform::IUnknown* const owner_;
  std::atomic<long> references_{0};
};

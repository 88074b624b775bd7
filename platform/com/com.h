#pragma once
// The component object model's foundation: result codes, class and interface
// identifiers, and the two interfaces every in-process server deals in.
//
// An interface is a table of virtual operations in a fixed slot order, with no
// virtual destructor (objects are destroyed by their last Release), so a
// pointer to an interface is what a caller compiled against the published
// declarations expects: a pointer to the table, then the operations in order.

#include <cstdint>

#include "platform/guid.h"

namespace platform {

using HRESULT = int32_t;
using IID = Guid;
using CLSID = Guid;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);

// Where a class's server may run; only in-process servers exist here.
inline constexpr uint32_t CLSCTX_INPROC_SERVER = 0x1;

inline constexpr bool succeeded(HRESULT result) { return result >= 0; }
inline constexpr bool failed(HRESULT result) { return result < 0; }

// A system error code as a result (0x8007xxxx); 0 stays S_OK.
inline constexpr HRESULT hresultFromWin32(uint32_t error) {
  return error == 0 ? S_OK : static_cast<HRESULT>((error & 0xFFFF) | 0x80070000);
}

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Slots 0 to 2 of every interface.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Makes the objects of one class.
class IClassFactory : public IUnknown {
 public:
  // With an outer object the new object is aggregated into it.
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  // Keeps the server loaded (lock non-zero) or lets it go again.
  virtual HRESULT LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// The functions an in-process server exports, by these names.
using DllGetClassObjectFunction = HRESULT (*)(const CLSID& clsid, const IID& iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

}  // namespace platform

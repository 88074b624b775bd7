#include "asio/c_unknown.h"

using platform::HRESULT;

CUnknown::CUnknown(platform::IUnknown* outer) : owner_(outer != nullptr ? outer : &identity_) {}

HRESULT CUnknown::NonDelegatingQueryInterface(const platform::IID& iid, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  if (iid == platform::IID_IUnknown) {
    *object = static_cast<platform::IUnknown*>(&identity_);
    NonDelegatingAddRef();
    return platform::S_OK;
  }
  *object = nullptr;
  return platform::E_NOINTERFACE;
}

uint32_t CUnknown::NonDelegatingAddRef() {
  const long count = ++references_;
  return static_cast<uint32_t>(count > 1 ? count : 1);
}

uint32_t CUnknown::NonDelegatingRelease() {
  const long count = --references_;
  if (count == 0) {
    // A release from inside the destructor must not delete a second time.
    references_ = 1;
    delete this;
    return 0;
  }
  return static_cast<uint32_t>(count > 1 ? count : 1);
}

HRESULT CUnknown::getInterface(platform::IUnknown* interface, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  *object = interface;
  interface->AddRef();
  return platform::S_OK;
}

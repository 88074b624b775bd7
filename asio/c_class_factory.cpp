#include "asio/c_class_factory.h"

#include <new>

using platform::HRESULT;

HRESULT CClassFactory::QueryInterface(const platform::IID& iid, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  if (iid == platform::IID_IUnknown || iid == platform::IID_IClassFactory) {
    *object = this;
    AddRef();
    return platform::S_OK;
  }
  *object = nullptr;
  return platform::E_NOINTERFACE;
}

uint32_t CClassFactory::AddRef() { return ++references_; }

uint32_t CClassFactory::Release() {
  const uint32_t count = --references_;
  if (count == 0) delete this;
  return count;
}

HRESULT CClassFactory::CreateInstance(platform::IUnknown* outer, const platform::IID& iid, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  *object = nullptr;
  // An aggregated object hands its outer object only its non-delegating IUnknown.
  if (outer != nullptr && iid != platform::IID_IUnknown) return platform::E_NOINTERFACE;
  CUnknown* created = entry_->create(outer);
  if (created == nullptr) return platform::E_OUTOFMEMORY;
  // A failed query releases the only reference and so destroys the object.
  created->NonDelegatingAddRef();
  const HRESULT result = created->NonDelegatingQueryInterface(iid, object);
  created->NonDelegatingRelease();
  return result;
}

HRESULT CClassFactory::LockServer(int32_t lock) {
  ServerCounts::lock(lock != 0);
  return platform::S_OK;
}

#pragma once
// The class factory of the in-process server and its table of classes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "asio/c_unknown.h"
#include "platform/com/com.h"

// One class the server makes.
struct CFactoryTemplate {
  const char16_t* name;
  const platform::CLSID* clsid;
  // A new object for an optional outer object, with no reference yet; null
  // when it cannot be made.
  CUnknown* (*create)(platform::IUnknown* outer);
  // Called when the module is loaded (true) and unloaded (false); may be null.
  void (*loadHook)(bool loading);
};

// The server's classes.
std::span<const CFactoryTemplate> factoryTemplates();

class CClassFactory final : public platform::IClassFactory {
 public:
  explicit CClassFactory(const CFactoryTemplate* entry) : entry_(entry) {}

  platform::HRESULT QueryInterface(const platform::IID& iid, void** object) override;
  uint32_t AddRef() override;
  // Deletes the factory when the count reaches 0.
  uint32_t Release() override;
  platform::HRESULT CreateInstance(platform::IUnknown* outer, const platform::IID& iid, void** object) override;
  platform::HRESULT LockServer(int32_t lock) override;

 private:
  ~CClassFactory() = default;

  const CFactoryTemplate* const entry_;
  std::atomic<uint32_t> references_{0};
};

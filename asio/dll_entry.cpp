// The in-process server's exported functions and module entry.

#include <cstdio>
#include <span>

#include "asio/asio_driver.h"
#include "asio/asio_registration.h"
#include "asio/c_class_factory.h"
#include "asio/registration_message.h"
#include "platform/format.h"

#define ASIO_EXPORT extern "C" __attribute__((visibility("default")))

using platform::HRESULT;

namespace {

constexpr char16_t kAsioKeyName[] = u"SorvikUSB ASIO";
constexpr char16_t kDescription[] = u"SorvikUSB ASIO Driver";
constexpr char16_t kThreadingModel[] = u"Apartment";
constexpr HRESULT kRegistrationFailed = static_cast<HRESULT>(0xFFFFFFFF);

const CFactoryTemplate kTemplates[] = {
    {u"ASIODRV", &CLSID_SorvikUsbAsio, &AsioDriver::create, nullptr},
};

void reportFailure(const char16_t* what, uint32_t error) {
  char16_t text[256];
  platform::formatText(text, std::size(text), u"%s (%d)", what, error);
  showRegistrationMessage(text, kDescription);
}

__attribute__((constructor)) void moduleLoaded() {
  for (const CFactoryTemplate& entry : kTemplates) {
    if (entry.loadHook != nullptr) entry.loadHook(true);
  }
}

__attribute__((destructor)) void moduleUnloaded() {
  for (const CFactoryTemplate& entry : kTemplates) {
    if (entry.loadHook != nullptr) entry.loadHook(false);
  }
}

}  // namespace

std::span<const CFactoryTemplate> factoryTemplates() { return kTemplates; }

ASIO_EXPORT HRESULT DllGetClassObject(const platform::CLSID& clsid, const platform::IID& iid, void** object) {
  if (object == nullptr) return platform::E_POINTER;
  *object = nullptr;
  if (iid != platform::IID_IUnknown && iid != platform::IID_IClassFactory) return platform::E_NOINTERFACE;
  for (const CFactoryTemplate& entry : kTemplates) {
    if (*entry.clsid != clsid) continue;
    auto* factory = new (std::nothrow) CClassFactory(&entry);
    if (factory == nullptr) return platform::E_OUTOFMEMORY;
    factory->AddRef();
    *object = factory;
    return platform::S_OK;
  }
  return platform::CLASS_E_CLASSNOTAVAILABLE;
}

ASIO_EXPORT HRESULT DllCanUnloadNow() {
  return ServerCounts::locks() > 0 || ServerCounts::activeObjects() > 0 ? platform::S_FALSE : platform::S_OK;
}

ASIO_EXPORT HRESULT DllRegisterServer() {
  const uint32_t error = registerAsioDriver(CLSID_SorvikUsbAsio, kAsioKeyName, kDescription, kThreadingModel);
  if (error != 0) {
    reportFailure(u"Register server failed !", error);
    return kRegistrationFailed;
  }
  return platform::S_OK;
}

ASIO_EXPORT HRESULT DllUnregisterServer() {
  // Turning the identifier into text cannot fail here, so neither can this.
  unregisterAsioDriver(CLSID_SorvikUsbAsio, kAsioKeyName);
  return platform::S_OK;
}

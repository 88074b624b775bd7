#include "service/wn_service.h"

#include "platform/errors.h"

WnServiceCtrlHandle::~WnServiceCtrlHandle() { close(); }

void WnServiceCtrlHandle::close() {
  if (handle_ != nullptr) (void)platform::closeServiceHandle(handle_);
  handle_ = nullptr;
}

uint32_t WnServiceCtrlHandle::assign(platform::ServiceHandle handle) {
  const uint32_t error = handle == nullptr ? platform::lastError() : 0;
  close();
  handle_ = handle;
  return error;
}

uint32_t WnServiceCtrlMgr::open() {
  return assign(platform::openServiceManager(nullptr, platform::SERVICES_ACTIVE_DATABASE, platform::SC_MANAGER_ALL_ACCESS));
}

uint32_t WnServiceCtrl::create(const WnServiceCtrlMgr& manager, const char16_t* serviceName,
                               const char16_t* displayName, uint32_t access, uint32_t serviceType, uint32_t startType,
                               uint32_t errorControl, const char16_t* binaryPathName, const char16_t* loadOrderGroup,
                               const char16_t* dependencies, const char16_t* account, const char16_t* password) {
  return assign(platform::createService(manager.handle(), serviceName, displayName, access, serviceType, startType,
                                        errorControl, binaryPathName, loadOrderGroup, nullptr, dependencies, account,
                                        password));
}

uint32_t WnServiceCtrl::open(const WnServiceCtrlMgr& manager, const char16_t* serviceName, uint32_t access) {
  return assign(platform::openService(manager.handle(), serviceName, access));
}

#include "usb-audio-kernel-sim/dispatcher.h"

#include <mutex>
#include <vector>

#include "device-access/orvane_ioctl.h"
#include "device-access/orvane_status.h"
#include "usb-audio-kernel-sim/driver.h"

namespace usbaudio_sim {
namespace {

struct FamilyEntry {
  const char* name;
  FamilyRegistrar registrar;
};

// Filled by the static HandlerFamily objects while the module loads.
std::vector<FamilyEntry>& familyList() {
  static std::vector<FamilyEntry> families;
  return families;
}

NtStatus checkSizes(const OrvaneRequest& row, const platform::kernel::IoRequest& request) {
  if (!row.input.fits(request.inputSize())) return ORVANE_STATUS_INVALID_INBUFFER_SIZE;
  if (!row.output.fits(request.outputCapacity())) return ORVANE_STATUS_INVALID_OUTBUFFER_SIZE;
  if (row.inOut && request.outputCapacity() != request.inputSize()) return ORVANE_STATUS_INVALID_OUTBUFFER_SIZE;
  return platform::kernel::STATUS_SUCCESS;
}

}  // namespace

HandlerFamily::HandlerFamily(const char* name, FamilyRegistrar registrar) {
  familyList().push_back(FamilyEntry{name, registrar});
}

NtStatus RequestContext::replyBytes(const void* data, size_t size) {
  if (size > request.outputCapacity()) return ORVANE_STATUS_INVALID_OUTBUFFER_SIZE;
  if (size > 0) std::memcpy(request.output(), data, size);
  request.setInformation(static_cast<uint32_t>(size));
  return platform::kernel::STATUS_SUCCESS;
}

void Dispatcher::add(uint32_t code, RequestHandler handler, HandlerLocking locking) {
  handlers_[code] = Entry{std::move(handler), locking};
}

void Dispatcher::registerFamilies() {
  for (const FamilyEntry& family : familyList()) family.registrar(*this);
}

NtStatus Dispatcher::dispatch(Driver& driver, Connection& connection, platform::kernel::IoRequest& request) const {
  const auto found = handlers_.find(request.code());
  if (found == handlers_.end()) return ORVANE_STATUS_INVALID_IOCTL;
  const OrvaneRequest* row = findOrvaneRequest(request.code());
  if (row != nullptr) {
    const NtStatus sizes = checkSizes(*row, request);
    if (sizes != platform::kernel::STATUS_SUCCESS) return sizes;
  }
  const bool onDevice = row != nullptr && row->issuedOn == OrvaneConnectionKind::device &&
                        request.code() != ORVANE_IOCTL_ATTACH_DEVICE;
  RequestContext context{driver, connection, request, nullptr};
  std::unique_lock lock(driver.mutex());
  if (onDevice) {
    if (!connection.attachedDevice) return ORVANE_STATUS_NO_DEVICE;
    context.device = driver.findDevice(*connection.attachedDevice);
    if (context.device == nullptr) return ORVANE_STATUS_DEVICE_REMOVED;
  }
  if (found->second.locking == HandlerLocking::handlerLocks) {
    context.device = nullptr;
    lock.unlock();
  }
  return found->second.handler(context);
}

}  // namespace usbaudio_sim

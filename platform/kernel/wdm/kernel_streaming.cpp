#include "platform/kernel/wdm/kernel_streaming.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "platform/kernel/wdm/driver_module.h"

namespace platform::wdm {

void ksGenerateEvent(KSEVENT_ENTRY* entry) {
  if (entry != nullptr && entry->event) entry->event->set();
}

namespace {

// One application request on its way through the device's driver. Shared by
// the connection's callback and the request's completion, whichever comes last.
struct BridgedRequest {
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;
  std::mutex mutex;
  bool completed = false;
  NtStatus status = STATUS_SUCCESS;
  uint32_t information = 0;
  std::shared_ptr<platform::kernel::PendingRequest> pending;
};

NtStatus bridgedCompletion(DeviceObject*, Irp* irp, void* context) {
  auto* holder = static_cast<std::shared_ptr<BridgedRequest>*>(context);
  std::shared_ptr<BridgedRequest> request = std::move(*holder);
  delete holder;
  std::shared_ptr<platform::kernel::PendingRequest> pending;
  {
    std::lock_guard lock(request->mutex);
    request->completed = true;
    request->status = irp->ioStatus.status;
    request->information = static_cast<uint32_t>(std::min<uintptr_t>(irp->ioStatus.information,
                                                                     request->output.size()));
    pending = request->pending;
  }
  ioFreeIrp(irp);
  if (pending) pending->complete(request->status, request->output.data(), request->information);
  return STATUS_MORE_PROCESSING_REQUIRED;  // the request is ours and already freed
}

NtStatus bridgedDeviceControl(DeviceObject* device, FileObject* file, platform::kernel::IoRequest& hostRequest) {
  auto request = std::make_shared<BridgedRequest>();
  request->input.assign(hostRequest.input(), hostRequest.input() + hostRequest.inputSize());
  request->output.assign(hostRequest.outputCapacity(), 0);

  Irp* irp = ioAllocateIrp(device->stackSize, false);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  irp->requestorMode = UserMode;
  irp->userBuffer = request->output.empty() ? nullptr : request->output.data();
  irp->hostRequest = &hostRequest;
  IoStackLocation* next = ioGetNextIrpStackLocation(irp);
  next->majorFunction = IRP_MJ_DEVICE_CONTROL;
  next->fileObject = file;
  next->parameters.deviceIoControl.ioControlCode = hostRequest.code();
  next->parameters.deviceIoControl.inputBufferLength = hostRequest.inputSize();
  next->parameters.deviceIoControl.outputBufferLength = hostRequest.outputCapacity();
  next->parameters.deviceIoControl.type3InputBuffer = request->input.empty() ? nullptr : request->input.data();
  ioSetCompletionRoutine(irp, bridgedCompletion, new std::shared_ptr<BridgedRequest>(request), true, true, true);

  ioCallDriver(device, irp);  // the IRP is gone once it has completed

  std::lock_guard lock(request->mutex);
  if (request->completed) {
    if (request->information > 0) std::memcpy(hostRequest.output(), request->output.data(), request->information);
    hostRequest.setInformation(request->information);
    return request->status;
  }
  request->pending = hostRequest.markPending();
  return STATUS_PENDING;
}

}  // namespace

NtStatus ksRegisterDeviceInterface(DeviceObject* device, const std::u16string& linkName, const Guid& category,
                                   const std::u16string& description, const std::u16string& referenceString) {
  platform::kernel::DriverObject* host = hostDriverObject();
  if (host == nullptr || device == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
  platform::kernel::DeviceCallbacks callbacks;
  callbacks.create = [device, referenceString](platform::kernel::FileObject& connection) -> NtStatus {
    auto* file = new FileObject();
    obReferenceObject(device);
    file->deviceObject = device;
    file->fileName = referenceString;
    const NtStatus status = ioSendFileRequest(file, IRP_MJ_CREATE);
    if (!ntSuccess(status)) {
      // A refused create gets no cleanup or close.
      file->deviceObject = nullptr;
      obDereferenceObject(device);
      obDereferenceObject(file);
      return status;
    }
    connection.context = file;
    return STATUS_SUCCESS;
  };
  callbacks.deviceControl = [device](platform::kernel::FileObject& connection,
                                     platform::kernel::IoRequest& request) -> NtStatus {
    return bridgedDeviceControl(device, static_cast<FileObject*>(connection.context), request);
  };
  callbacks.cleanup = [](platform::kernel::FileObject& connection) {
    auto* file = static_cast<FileObject*>(connection.context);
    connection.context = nullptr;
    if (file != nullptr) obDereferenceObject(file);  // cleanup and close go to the device
  };
  return host->createInterface(platform::kernel::DeviceInterfaceInfo{linkName, category, description},
                               std::move(callbacks));
}

NtStatus ksRemoveDeviceInterface(const std::u16string& linkName) {
  platform::kernel::DriverObject* host = hostDriverObject();
  if (host == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
  return host->removeInterface(linkName);
}

}  // namespace platform::wdm

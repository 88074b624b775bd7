// The I/O manager stand-in: requests through a device stack, buffered
// output, pending and completion, completion routines, cancellation, memory
// descriptors, named devices opened as files, and work items.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/kernel/wdm/io.h"

namespace platform::wdm {
namespace {

constexpr uint32_t kEcho = ctlCode(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr uint32_t kPend = ctlCode(FILE_DEVICE_UNKNOWN, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);

// A driver whose device answers device control requests: kEcho completes at
// once with the input reversed, kPend keeps the request until the test
// completes or cancels it.
struct TestDriver {
  DriverObject* driver = nullptr;
  DeviceObject* device = nullptr;
  Irp* kept = nullptr;
  int creates = 0;
  int cleanups = 0;
  int closes = 0;
};
TestDriver* current = nullptr;

NtStatus complete(Irp* irp, NtStatus status, uintptr_t information = 0) {
  irp->ioStatus.status = status;
  irp->ioStatus.information = information;
  ioCompleteRequest(irp);
  return status;
}

void cancelKept(DeviceObject*, Irp* irp) {
  current->kept = nullptr;
  complete(irp, STATUS_CANCELLED);
}

NtStatus dispatchControl(DeviceObject*, Irp* irp) {
  const auto& parameters = ioGetCurrentIrpStackLocation(irp)->parameters.deviceIoControl;
  if (parameters.ioControlCode == kPend) {
    ioMarkIrpPending(irp);
    ioSetCancelRoutine(irp, cancelKept);
    current->kept = irp;
    return STATUS_PENDING;
  }
  auto* buffer = static_cast<uint8_t*>(irp->systemBuffer);
  std::reverse(buffer, buffer + parameters.inputBufferLength);
  return complete(irp, STATUS_SUCCESS, parameters.inputBufferLength);
}

NtStatus dispatchFile(DeviceObject*, Irp* irp) {
  switch (ioGetCurrentIrpStackLocation(irp)->majorFunction) {
    case IRP_MJ_CREATE: ++current->creates; break;
    case IRP_MJ_CLEANUP: ++current->cleanups; break;
    case IRP_MJ_CLOSE: ++current->closes; break;
  }
  return complete(irp, STATUS_SUCCESS);
}

class IoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    current = &test;
    violations = violationCount();
    test.driver = new DriverObject();
    test.driver->majorFunction[IRP_MJ_DEVICE_CONTROL] = dispatchControl;
    test.driver->majorFunction[IRP_MJ_CREATE] = dispatchFile;
    test.driver->majorFunction[IRP_MJ_CLEANUP] = dispatchFile;
    test.driver->majorFunction[IRP_MJ_CLOSE] = dispatchFile;
    UnicodeString name;
    rtlInitUnicodeString(&name, u"\\Device\\WnTest");
    ASSERT_EQ(ioCreateDevice(test.driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, false, &test.device), STATUS_SUCCESS);
    irpsBefore = poolUsage(kIrpTag).outstandingBlocks;
  }
  void TearDown() override {
    ioDeleteDevice(test.device);
    obDereferenceObject(test.driver);
    shutdownExecutive();
    EXPECT_EQ(poolUsage(kIrpTag).outstandingBlocks, irpsBefore);
    EXPECT_EQ(poolUsage(kMdlTag).outstandingBlocks, 0u);
    EXPECT_EQ(violationCount(), violations);
    current = nullptr;
  }

  TestDriver test;
  uint64_t violations = 0;
  uint64_t irpsBefore = 0;
};

TEST_F(IoTest, ABufferedRequestCopiesItsOutputBackAndFreesItself) {
  char input[] = "abc";
  char output[8] = {};
  Event done;
  keInitializeEvent(&done, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = ioBuildDeviceIoControlRequest(kEcho, test.device, input, 3, output, sizeof output, false, &done, &iosb);
  ASSERT_NE(irp, nullptr);
  EXPECT_EQ(ioCallDriver(test.device, irp), STATUS_SUCCESS);
  EXPECT_EQ(keReadStateEvent(&done), 1);
  EXPECT_EQ(iosb.information, 3u);
  EXPECT_STREQ(output, "cba");
}

TEST_F(IoTest, APendingRequestReportsToItsIssuerWhenItCompletes) {
  Event done;
  keInitializeEvent(&done, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = ioBuildDeviceIoControlRequest(kPend, test.device, nullptr, 0, nullptr, 0, false, &done, &iosb);
  EXPECT_EQ(ioCallDriver(test.device, irp), STATUS_PENDING);
  EXPECT_EQ(keReadStateEvent(&done), 0);
  std::thread([&] {
    Irp* kept = test.kept;
    ioSetCancelRoutine(kept, nullptr);
    complete(kept, STATUS_BUFFER_OVERFLOW, 4);
  }).join();
  EXPECT_EQ(keWaitForSingleObject(&done, Executive, KernelMode, false, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(iosb.status, STATUS_BUFFER_OVERFLOW);
}

TEST_F(IoTest, CancellingCallsTheCancelRoutine) {
  Event done;
  keInitializeEvent(&done, NotificationEvent, false);
  IoStatusBlock iosb;
  Irp* irp = ioBuildDeviceIoControlRequest(kPend, test.device, nullptr, 0, nullptr, 0, false, &done, &iosb);
  ASSERT_EQ(ioCallDriver(test.device, irp), STATUS_PENDING);
  EXPECT_TRUE(ioCancelIrp(irp));
  EXPECT_EQ(keReadStateEvent(&done), 1);
  EXPECT_EQ(iosb.status, STATUS_CANCELLED);
}

TEST_F(IoTest, ACompletionRoutineThatKeepsTheRequestOwnsIt) {
  char input[] = "xy";
  Irp* irp = ioBuildDeviceIoControlRequest(kEcho, test.device, input, 2, nullptr, 0, false, nullptr, nullptr);
  static int calls = 0;
  calls = 0;
  ioSetCompletionRoutine(
      irp,
      [](DeviceObject*, Irp* completed, void*) -> NtStatus {
        ++calls;
        EXPECT_EQ(completed->ioStatus.status, STATUS_SUCCESS);
        return STATUS_MORE_PROCESSING_REQUIRED;
      },
      nullptr, true, true, true);
  EXPECT_EQ(ioCallDriver(test.device, irp), STATUS_SUCCESS);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(irp->ioStatus.information, 2u);  // still there: ours to free
  ioFreeIrp(irp);
}

TEST_F(IoTest, AnUnlockedDescriptorHasNoBufferAndALockedOneIsFreedWithTheRequest) {
  uint8_t data[16] = {};
  Mdl* loose = ioAllocateMdl(data, sizeof data, false, false, nullptr);
  EXPECT_EQ(mmGetSystemAddressForMdlSafe(loose, 0), nullptr);
  EXPECT_EQ(violationCount() - violations, 1u);
  violations = violationCount();
  mmProbeAndLockPages(loose, KernelMode, IoReadAccess);
  EXPECT_EQ(mmGetSystemAddressForMdlSafe(loose, 0), data);
  mmUnlockPages(loose);
  ioFreeMdl(loose);

  Irp* irp = ioBuildDeviceIoControlRequest(kEcho, test.device, data, 1, nullptr, 0, false, nullptr, nullptr);
  Mdl* attached = ioAllocateMdl(data, sizeof data, false, false, irp);
  mmProbeAndLockPages(attached, KernelMode, IoModifyAccess);
  EXPECT_EQ(irp->mdlAddress, attached);
  ioCallDriver(test.device, irp);  // completion unlocks and frees it
}

TEST_F(IoTest, RequestsForADeviceWithoutHandlerFail) {
  test.driver->majorFunction[IRP_MJ_DEVICE_CONTROL] = nullptr;
  IoStatusBlock iosb;
  Irp* irp = ioBuildDeviceIoControlRequest(kEcho, test.device, nullptr, 0, nullptr, 0, true, nullptr, &iosb);
  EXPECT_EQ(ioCallDriver(test.device, irp), STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(iosb.status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(IoTest, ANamedDeviceOpensAsAFileThatCleansUpAndClosesAtItsEnd) {
  UnicodeString name;
  rtlInitUnicodeString(&name, u"\\DEVICE\\wntest");
  ObjectAttributes attributes;
  initializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE);
  IoStatusBlock iosb;
  Handle handle = nullptr;
  ASSERT_EQ(zwCreateFile(&handle, 0, &attributes, &iosb, nullptr, FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN, 0, nullptr, 0),
            STATUS_SUCCESS);
  EXPECT_EQ(test.creates, 1);
  void* object = nullptr;
  ASSERT_EQ(obReferenceObjectByHandle(handle, 0, ObjectType::File, KernelMode, &object, nullptr), STATUS_SUCCESS);
  auto* file = static_cast<FileObject*>(object);
  EXPECT_EQ(ioGetRelatedDeviceObject(file), test.device);
  zwClose(handle);
  EXPECT_EQ(test.closes, 0);  // still referenced
  obDereferenceObject(file);
  EXPECT_EQ(test.cleanups, 1);
  EXPECT_EQ(test.closes, 1);

  attributes.attributes = OBJ_KERNEL_HANDLE;  // case matters now
  EXPECT_EQ(zwCreateFile(&handle, 0, &attributes, &iosb, nullptr, 0, 0, FILE_OPEN, 0, nullptr, 0),
            STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(IoTest, TwoDevicesCannotShareAName) {
  UnicodeString name;
  rtlInitUnicodeString(&name, u"\\Device\\WNTEST");
  DeviceObject* second = nullptr;
  EXPECT_EQ(ioCreateDevice(test.driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, false, &second),
            STATUS_OBJECT_NAME_COLLISION);
}

TEST_F(IoTest, AWorkItemRunsWithItsDeviceReferenced) {
  static int32_t referencesDuringWork = 0;
  IoWorkItem* item = ioAllocateWorkItem(test.device);
  const int32_t before = test.device->referenceCount();
  ioQueueWorkItem(item,
                  [](DeviceObject* device, void*) { referencesDuringWork = device->referenceCount(); },
                  DelayedWorkQueue, nullptr);
  exFlushWorkQueues();
  EXPECT_EQ(referencesDuringWork, before + 1);
  EXPECT_EQ(test.device->referenceCount(), before);
  ioFreeWorkItem(item);
}

TEST_F(IoTest, AttachedDevicesGetTheRequestsOfTheStack) {
  DeviceObject* filter = nullptr;
  ASSERT_EQ(ioCreateDevice(test.driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, false, &filter), STATUS_SUCCESS);
  EXPECT_EQ(ioAttachDeviceToDeviceStack(filter, test.device), test.device);
  EXPECT_EQ(filter->stackSize, 2);
  FileObject file;
  obReferenceObject(test.device);
  file.deviceObject = test.device;
  EXPECT_EQ(ioGetRelatedDeviceObject(&file), filter);
  file.deviceObject = nullptr;
  obDereferenceObject(test.device);
  ioDetachDevice(test.device);
  ioDeleteDevice(filter);
}

}  // namespace
}  // namespace platform::wdm

// A small driver for the device host's tests: echo, failures with a given
// status, keeping and later signalling the caller's event, writing into the
// caller's shareable memory, pending requests and extra interfaces.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/driver.h"
#include "tests/kernel/test_driver_protocol.h"

using namespace platform::kernel;
using namespace test_driver;

namespace {

struct FileState {
  std::shared_ptr<KernelEvent> keptEvent;
  std::vector<std::shared_ptr<MappedMemory>> keptMemory;
};

class TestDriver {
 public:
  explicit TestDriver(DriverObject* driver) : driver_(driver) {}

  ~TestDriver() {
    {
      std::lock_guard lock(workMutex_);
      stopping_ = true;
    }
    workChanged_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  DeviceCallbacks callbacks() {
    DeviceCallbacks callbacks;
    callbacks.create = [this](FileObject& file) { return create(file); };
    callbacks.deviceControl = [this](FileObject& file, IoRequest& request) { return control(file, request); };
    callbacks.cleanup = [this](FileObject& file) { cleanup(file); };
    return callbacks;
  }

 private:
  struct Work {
    std::chrono::steady_clock::time_point due;
    std::function<void()> work;
  };

  NtStatus create(FileObject& file) {
    file.context = new FileState;
    std::lock_guard lock(mutex_);
    ++stats_.openFiles;
    ++stats_.creates;
    return STATUS_SUCCESS;
  }

  void cleanup(FileObject& file) {
    delete static_cast<FileState*>(file.context);
    file.context = nullptr;
    std::lock_guard lock(mutex_);
    --stats_.openFiles;
    ++stats_.cleanups;
  }

  template <typename T>
  static bool read(IoRequest& request, T* value) {
    if (request.inputSize() < sizeof(T)) return false;
    std::memcpy(value, request.input(), sizeof(T));
    return true;
  }

  static NtStatus reply(IoRequest& request, const void* data, size_t size) {
    if (request.outputCapacity() < size) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(request.output(), data, size);
    request.setInformation(static_cast<uint32_t>(size));
    return STATUS_SUCCESS;
  }

  // Runs `work` after a delay on the driver's one worker thread, as a driver
  // runs deferred work; dropped when the driver unloads first.
  void later(uint32_t milliseconds, std::function<void()> work) {
    std::lock_guard lock(workMutex_);
    if (!worker_.joinable()) worker_ = std::thread([this] { runWork(); });
    queue_.push_back(Work{std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds), std::move(work)});
    workChanged_.notify_all();
  }

  void runWork() {
    std::unique_lock lock(workMutex_);
    while (!stopping_) {
      if (queue_.empty()) {
        workChanged_.wait(lock);
        continue;
      }
      auto next = std::min_element(queue_.begin(), queue_.end(),
                                   [](const Work& a, const Work& b) { return a.due < b.due; });
      if (std::chrono::steady_clock::now() < next->due) {
        workChanged_.wait_until(lock, next->due);
        continue;
      }
      std::function<void()> work = std::move(next->work);
      queue_.erase(next);
      lock.unlock();
      work();
      lock.lock();
    }
  }

  NtStatus control(FileObject& file, IoRequest& request) {
    auto* state = static_cast<FileState*>(file.context);
    switch (request.code()) {
      case kEcho: {
        const uint32_t size = std::min(request.inputSize(), request.outputCapacity());
        if (size > 0) std::memcpy(request.output(), request.input(), size);
        request.setInformation(size);
        return STATUS_SUCCESS;
      }
      case kFail: {
        FailInput input;
        if (!read(request, &input)) return STATUS_INVALID_PARAMETER;
        const uint32_t size = std::min(input.information, request.outputCapacity());
        std::memset(request.output(), 0xAB, size);
        request.setInformation(size);
        return input.status;
      }
      case kKeepEvent: {
        uint64_t handle;
        if (!read(request, &handle)) return STATUS_INVALID_PARAMETER;
        std::shared_ptr<KernelEvent> event;
        const NtStatus status = request.referenceEvent(handle, &event);
        if (status == STATUS_SUCCESS) state->keptEvent = event;
        return status;
      }
      case kSignalLater: {
        uint32_t milliseconds;
        if (!read(request, &milliseconds)) return STATUS_INVALID_PARAMETER;
        if (!state->keptEvent) return STATUS_INVALID_DEVICE_REQUEST;
        later(milliseconds, [event = state->keptEvent] { event->set(); });
        return STATUS_SUCCESS;
      }
      case kSignalKeptLocked: {
        std::lock_guard lock(mutex_);
        if (!state->keptEvent) return STATUS_INVALID_DEVICE_REQUEST;
        state->keptEvent->set();
        return STATUS_SUCCESS;
      }
      case kThrow:
        throw std::runtime_error("the test driver throws");
      case kKeepMemory: {
        WriteInput input;
        if (!read(request, &input)) return STATUS_INVALID_PARAMETER;
        std::shared_ptr<MappedMemory> memory;
        const NtStatus status = request.mapUserMemory(input.address, input.length, &memory);
        if (status == STATUS_SUCCESS) state->keptMemory.push_back(memory);
        return status;
      }
      case kWriteBuffer: {
        WriteInput input;
        if (!read(request, &input)) return STATUS_INVALID_PARAMETER;
        std::shared_ptr<MappedMemory> memory;
        const NtStatus status = request.mapUserMemory(input.address, input.length, &memory);
        if (status != STATUS_SUCCESS) return status;
        std::memset(memory->data(), static_cast<int>(input.value), memory->size());
        return STATUS_SUCCESS;
      }
      case kDelayed: {
        DelayedInput input;
        if (!read(request, &input)) return STATUS_INVALID_PARAMETER;
        const uint8_t* payload = request.input() + sizeof input;
        std::vector<uint8_t> data(payload, payload + (request.inputSize() - sizeof input));
        std::shared_ptr<PendingRequest> pending = request.markPending();
        later(input.milliseconds, [pending, input, data = std::move(data)] {
          pending->complete(input.status, data.data(), static_cast<uint32_t>(data.size()));
        });
        return STATUS_PENDING;
      }
      case kCompleteInline: {
        std::shared_ptr<PendingRequest> pending = request.markPending();
        pending->complete(STATUS_SUCCESS, request.input(), request.inputSize());
        return STATUS_PENDING;
      }
      case kStats: {
        std::lock_guard lock(mutex_);
        return reply(request, &stats_, sizeof stats_);
      }
      case kAddInterface: {
        InterfaceInput input;
        if (!read(request, &input)) return STATUS_INVALID_PARAMETER;
        input.linkName[63] = 0;
        DeviceInterfaceInfo info{input.linkName, input.interfaceClass, u"Extra test interface"};
        return driver_->createInterface(info, callbacks());
      }
      case kRemoveInterface: {
        const std::u16string link(reinterpret_cast<const char16_t*>(request.input()), request.inputSize() / 2);
        return driver_->removeInterface(link);
      }
      case kRegistryPath: {
        const std::u16string& path = driver_->registryPath();
        return reply(request, path.data(), path.size() * sizeof(char16_t));
      }
      default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
  }

  DriverObject* driver_;
  std::mutex mutex_;
  Stats stats_{};
  std::mutex workMutex_;
  std::condition_variable workChanged_;
  std::vector<Work> queue_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t DriverEntry(DriverObject* driver,
                                                                       const char16_t* registryPath) {
  if (driver == nullptr || registryPath == nullptr || driver->registryPath() != registryPath) {
    return STATUS_INVALID_PARAMETER;
  }
  if (const char* refusal = std::getenv(kRefuseVariable)) {
    driver->log(std::string("refusing to start: ") + refusal);
    return STATUS_UNSUCCESSFUL;
  }
  auto* state = new TestDriver(driver);
  const NtStatus status =
      driver->createInterface(DeviceInterfaceInfo{kLinkName, kInterfaceClass, kDescription}, state->callbacks());
  if (status != STATUS_SUCCESS) {
    delete state;
    return status;
  }
  driver->setUnload([state] { delete state; });
  return STATUS_SUCCESS;
}

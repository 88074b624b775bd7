#include "service/wn_pnp_notificator.h"

#include <cstring>

#include "platform/apc.h"
#include "platform/device_notifications.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/format.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "platform/waits.h"

namespace {

constexpr uint32_t kReadyTimeoutMs = 10000;
constexpr size_t kNameChars = 80;

}  // namespace

// The hidden window: it lives on the notificator's thread, receives its
// messages there (in the loop's alertable wait) and hands them to the
// notificator's windowProc, as the window's user data would.
class WnPnPNotificator::HiddenWindow final : public platform::DeviceNotificationRecipient {
 public:
  HiddenWindow(WnPnPNotificator* owner, uint32_t threadId) : owner_(owner), threadId_(threadId) {
    platform::formatText(className_, kNameChars, u"PnPNotificatorWndCls_%u_%u", platform::currentProcessId(), threadId);
    platform::formatText(windowName_, kNameChars, u"PnPNotificator_HiddenWindow_%u_%u", platform::currentProcessId(),
                         threadId);
    quit_ = platform::createEvent(true, false);
  }
  ~HiddenWindow() override {
    if (quit_ != nullptr) platform::closeHandle(quit_);
  }

  bool created() const { return quit_ != nullptr; }
  uint32_t threadId() const { return threadId_; }

  // Device interface notifications arrive on the window's thread.
  void onDeviceChange(uint32_t eventType, const uint8_t* record) override {
    dispatch(platform::WM_DEVICECHANGE, eventType, reinterpret_cast<intptr_t>(record));
  }

  intptr_t dispatch(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (destroyed_) return 0;
    return owner_->windowProc(message, wParam, lParam);
  }

  // The default handling: a closed window is destroyed.
  intptr_t defaultProc(uint32_t message) {
    if (message == WM_CLOSE && !destroyed_) {
      (void)owner_->windowProc(WM_DESTROY, 0, 0);
      destroyed_ = true;
    }
    return 0;
  }

  // Posts a message to the window's thread.
  bool post(uint32_t message) {
    std::weak_ptr<HiddenWindow> self = self_;
    return platform::queueApcToThread(threadId_, [self, message] {
      if (const auto window = self.lock()) (void)window->dispatch(message, 0, 0);
    });
  }

  void postQuit() { platform::setEvent(quit_); }

  // The message loop: runs until the quit message.
  void runLoop() {
    while (platform::waitForSingle(quit_, platform::INFINITE, true) != platform::WAIT_OBJECT_0) {
    }
  }

  std::weak_ptr<HiddenWindow> self_;

 private:
  WnPnPNotificator* owner_;
  uint32_t threadId_;
  char16_t className_[kNameChars] = {};
  char16_t windowName_[kNameChars] = {};
  platform::Handle quit_ = nullptr;
  bool destroyed_ = false;
};

WnPnPNotificator::WnPnPNotificator() = default;

WnPnPNotificator::~WnPnPNotificator() { (void)stop(platform::INFINITE); }

uint32_t WnPnPNotificator::start(WnPnPNotificatorCallbackInterface* callback, const void* module) {
  if (callback == nullptr) return platform::ERROR_INVALID_PARAMETER;
  if (module == nullptr) module = reinterpret_cast<const void*>(&platform::programPath);
  std::lock_guard lock(lock_);
  if (started_) return platform::ERROR_ALREADY_INITIALIZED;
  module_ = module;
  callback_ = callback;
  if (const uint32_t error = ready_.create(true); error != 0) return error;
  windowResult_ = 0;
  if (const uint32_t error = thread_.start(this, 0, 0); error != 0) return error;
  if (platform::waitForSingle(ready_.handle(), kReadyTimeoutMs) != platform::WAIT_OBJECT_0) {
    return platform::ERROR_TIMEOUT;
  }
  if (windowResult_ != 0) {
    (void)thread_.wait(platform::INFINITE);
    return windowResult_;
  }
  started_ = true;
  return 0;
}

uint32_t WnPnPNotificator::run() {
  auto window = std::make_shared<HiddenWindow>(this, platform::currentThreadId());
  window->self_ = window;
  // start holds the lock while it waits for the ready event, which publishes these.
  windowResult_ = window->created() ? 0 : platform::lastError();
  if (windowResult_ == 0) window_ = window;
  platform::setEvent(ready_.handle());
  if (!window->created()) return windowResult_;
  window->runLoop();
  return 0;
}

intptr_t WnPnPNotificator::windowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Runs on the window's thread, which may not take the lock: stop holds it
  // while it waits for this thread. window_ is set before the thread reports
  // ready and cleared only after the thread has ended.
  if (message == WM_DESTROY) {
    if (window_) window_->postQuit();
    return 0;
  }
  if (message == platform::WM_DEVICECHANGE) {
    const auto* header = reinterpret_cast<const uint8_t*>(lParam);
    uint32_t deviceType = 0;
    if (header != nullptr) std::memcpy(&deviceType, header + 4, sizeof deviceType);
    if ((wParam == platform::DBT_DEVICEARRIVAL || wParam == platform::DBT_DEVICEREMOVECOMPLETE) &&
        deviceType == platform::DBT_DEVTYP_DEVICEINTERFACE && callback_ != nullptr) {
      callback_->onDeviceChange(static_cast<uint32_t>(wParam), header);
    }
    return 0;
  }
  return window_ ? window_->defaultProc(message) : 0;
}

uint32_t WnPnPNotificator::stop(uint32_t timeout) {
  uint32_t result = 0;
  {
    std::lock_guard lock(lock_);
    if (started_) {
      if (window_) (void)window_->post(WM_CLOSE);
      result = thread_.wait(timeout);
      if (result == 0) {
        started_ = false;
        module_ = nullptr;
        callback_ = nullptr;
      }
    }
  }
  notifications_.removeAll();
  std::lock_guard lock(lock_);
  if (!started_) window_.reset();  // the registrations that named it are gone
  return result;
}

uint32_t WnPnPNotificator::registerInterface(const platform::Guid& interfaceClass) {
  std::lock_guard lock(lock_);
  if (!started_ || !window_) return platform::ERROR_INVALID_DATA;
  // Registered on the window's thread, so that its notifications arrive there.
  const std::shared_ptr<HiddenWindow> window = window_;
  WnEvent done;
  if (const uint32_t error = done.create(true); error != 0) return error;
  auto result = std::make_shared<uint32_t>(platform::ERROR_INVALID_DATA);
  const platform::Handle doneHandle = done.handle();
  if (!platform::queueApcToThread(window->threadId(), [this, window, interfaceClass, result, doneHandle] {
        *result = notifications_.add(window.get(), interfaceClass, platform::DEVICE_NOTIFY_WINDOW_HANDLE);
        platform::setEvent(doneHandle);
      })) {
    return platform::ERROR_INVALID_DATA;
  }
  (void)platform::waitForSingle(doneHandle, platform::INFINITE);
  return *result;
}

#include "control-panel/wn_post_window_message_thread.h"

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/ui/window.h"
#include "platform/waits.h"

WnPostWindowMessageThread::WnPostWindowMessageThread() { stopEvent_.create(false); }

WnPostWindowMessageThread::~WnPostWindowMessageThread() { stop(); }

void WnPostWindowMessageThread::configure(platform::ui::WindowHandle targetWindow, platform::Handle watchedEvent,
                                          uint32_t message) {
  targetWindow_ = targetWindow;
  watchedEvent_ = watchedEvent;
  message_ = message;
}

uint32_t WnPostWindowMessageThread::start(size_t stackSize, uint32_t creationFlags) {
  return thread_.start(this, stackSize, creationFlags);
}

void WnPostWindowMessageThread::stop() {
  if (!isRunning()) return;
  platform::setEvent(stopEvent_.handle());
  thread_.wait(platform::INFINITE);
}

uint32_t WnPostWindowMessageThread::run() {
  const platform::Handle handles[2] = {stopEvent_.handle(), watchedEvent_};
  for (;;) {
    const uint32_t result = platform::waitForMultiple(2, handles, platform::INFINITE);
    if (result == platform::WAIT_OBJECT_0) return 0;
    if (result == platform::WAIT_OBJECT_0 + 1) {
      platform::ui::postMessage(targetWindow_, message_, 0, 0);
    } else if (result == platform::WAIT_FAILED) {
      // A failed wait is tried again; a short pause keeps a lasting failure
      // from taking a whole core.
      platform::sleepMs(10);
    } else {
      return 0;
    }
  }
}

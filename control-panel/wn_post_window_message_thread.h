#pragma once
// A thread that turns the signals of one event into window messages: each
// time the watched event is signalled it posts the message (both parameters
// 0) to the target window. It never touches a window itself.

#include <cstdint>

#include "device-access/wn_event.h"
#include "device-access/wn_thread.h"
#include "platform/handles.h"
#include "platform/ui/types.h"

class WnPostWindowMessageThread : public WnThreadCallbackInterface {
 public:
  WnPostWindowMessageThread();
  virtual ~WnPostWindowMessageThread();  // stops the thread

  // Set before start.
  void configure(platform::ui::WindowHandle targetWindow, platform::Handle watchedEvent, uint32_t message);
  // Starts the thread; its status (183 when it runs already).
  uint32_t start(size_t stackSize = 0, uint32_t creationFlags = 0);
  // Signals the stop event and waits for the thread to end.
  void stop();
  bool isRunning() const { return thread_.handle() != nullptr; }

  uint32_t run() override;

 private:
  WnThread thread_;
  platform::ui::WindowHandle targetWindow_;
  platform::Handle watchedEvent_ = nullptr;  // not owned
  WnEvent stopEvent_;
  uint32_t message_ = 0;
};

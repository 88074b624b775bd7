#pragma once
// The monitor's connection to the Ethernet MIDI driver's control filter:
// finds the filter among the audio device interfaces (the driver's device,
// the path containing "topology"), subscribes to its control-change event
// and gets and sets the mute mask and the status word / loop-back switch.
//
// A failing request shows "Device is not properly installed." with the
// system's text and ends the program's message loop with exit code 1.

#include <atomic>
#include <cstdint>
#include <thread>

#include "ethernet-midi-monitor/c_ternok_api_interface.h"
#include "platform/handles.h"
#include "platform/kernel_streaming.h"

class DriverControlClient {
 public:
  explicit DriverControlClient(CTernokApiInterface& owner);
  ~DriverControlClient();
  DriverControlClient(const DriverControlClient&) = delete;
  DriverControlClient& operator=(const DriverControlClient&) = delete;

  bool IsOpen() const { return device_ != platform::kInvalidHandle; }
  // Whether a request failed (the program is ending with exit code 1); also
  // for a failure before the message loop runs, when the quit message is lost.
  bool Failed() const { return failed_; }

  uint32_t GetMuteMask();
  void SetMuteMask(uint32_t mask);
  uint32_t GetStatusWord();
  void SetLoopback(bool on);

  // The text shown for a failed request.
  static std::u16string failureText(uint32_t error);

 private:
  void openControlFilter();
  void notificationLoop();
  uint32_t getProperty(uint32_t id);
  void setProperty(uint32_t id, uint32_t value);
  void reportFailure(uint32_t error);

  CTernokApiInterface& owner_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> failed_{false};
  platform::KSEVENTDATA eventData_{};
  platform::KSE_NODE eventRequest_{};
  platform::Handle notificationEvent_;
  platform::Handle device_ = platform::kInvalidHandle;
  std::thread notificationThread_;
};

#include "forms/streaming_status_panes.h"

#include "platform/format.h"

void showStreamingStatus(platform::ui::FrameWindow& frame, bool connected, const ORVANE_STREAMING_STATUS* status,
                         std::span<const char16_t* const> stateTexts) {
  if (!connected) {
    frame.setPaneText(kStreamingStatePane, u"Driver not available.");
    frame.setPaneText(kSamplingRatePane, u"");
    return;
  }
  if (status == nullptr) {
    frame.setPaneText(kStreamingStatePane, u"Streaming state unknown");
    frame.setPaneText(kSamplingRatePane, u"Current sampling rate: unknown");
    return;
  }
  if (status->state < stateTexts.size()) frame.setPaneText(kStreamingStatePane, stateTexts[status->state]);
  frame.setPaneText(kSamplingRatePane, platform::formatText(u"Current sampling rate: %u.%03u kHz",
                                                            status->sampleRate / 1000, status->sampleRate % 1000));
}

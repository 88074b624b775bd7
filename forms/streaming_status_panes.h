#pragma once
// The two status bar panes the control panel and the spy tool share: the
// streaming state (pane 1) and the current sampling rate (pane 2).

#include <span>

#include "device-access/orvane_records.h"
#include "platform/ui/frame_window.h"

inline constexpr int kStreamingStatePane = 1;
inline constexpr int kSamplingRatePane = 2;

// `status` is null when the connection is open but the streaming status
// could not be read. `stateTexts` is indexed by the streaming state; a state
// past its end leaves the state pane as it was.
void showStreamingStatus(platform::ui::FrameWindow& frame, bool connected, const ORVANE_STREAMING_STATUS* status,
                         std::span<const char16_t* const> stateTexts);

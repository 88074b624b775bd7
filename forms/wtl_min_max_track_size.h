#pragma once
// The mix-in that answers WM_GETMINMAXINFO for a frame class T: the smallest
// and largest size the user can give the window (-1: not limited).

#include <cstdint>

#include "platform/ui/messages.h"

template <class T>
class WtlMinMaxTrackSize {
 public:
  WtlMinMaxTrackSize(int minWidth, int minHeight, int maxWidth = -1, int maxHeight = -1)
      : minimum_{minWidth, minHeight}, maximum_{maxWidth, maxHeight} {}
  virtual ~WtlMinMaxTrackSize() = default;

  platform::ui::Size minimumTrackSize() const { return minimum_; }
  platform::ui::Size maximumTrackSize() const { return maximum_; }

 protected:
  bool processTrackSizeMessage(uint32_t message, platform::ui::WParam, platform::ui::LParam lParam,
                               platform::ui::LResult& result) {
    if (message != platform::ui::WM_GETMINMAXINFO) return false;
    auto* info = reinterpret_cast<platform::ui::MinMaxInfo*>(lParam);
    info->minTrackSize = minimum_;
    info->maxTrackSize = maximum_;
    result = 0;
    return true;
  }

 private:
  platform::ui::Size minimum_;
  platform::ui::Size maximum_;
};

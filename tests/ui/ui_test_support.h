#pragma once
// Small windows for the window layer's tests: a dialog made from a template
// that records every message it receives.

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/ui/dialog.h"
#include "platform/ui/messages.h"

namespace ui_testing {

using namespace platform::ui;

struct Received {
  uint32_t message;
  WParam wParam;
  LParam lParam;
};

// A dialog that records its messages; `handler` may answer them.
class RecordingDialog : public Dialog {
 public:
  explicit RecordingDialog(const DialogTemplate& dialogTemplate) : Dialog(dialogTemplate) {}

  bool processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) override {
    received.push_back({message, wParam, lParam});
    if (message == WM_NOTIFY) notifyCodes.push_back(reinterpret_cast<const NotifyHeader*>(lParam)->code);
    if (message == WM_NOTIFY && reinterpret_cast<const NotifyHeader*>(lParam)->code == LVN_ITEMCHANGED) {
      itemChanges.push_back(*reinterpret_cast<const ListViewChange*>(lParam));
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NotifyHeader*>(lParam)->code == TVN_SELCHANGED) {
      treeChanges.push_back(*reinterpret_cast<const TreeViewChange*>(lParam));
    }
    return handler && handler(message, wParam, lParam, result);
  }

  // The received messages of one kind.
  std::vector<Received> only(uint32_t message) const {
    std::vector<Received> found;
    for (const Received& entry : received) {
      if (entry.message == message) found.push_back(entry);
    }
    return found;
  }

  std::function<bool(uint32_t, WParam, LParam, LResult&)> handler;
  std::vector<Received> received;
  std::vector<uint32_t> notifyCodes;
  std::vector<ListViewChange> itemChanges;
  std::vector<TreeViewChange> treeChanges;
};

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
  return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace ui_testing

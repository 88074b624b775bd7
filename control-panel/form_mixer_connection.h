#pragma once
// One cell of a mixer window: the four crosspoints between a stereo pair of
// inputs and a stereo pair of outputs, each a clickable text (gain on green
// while on, "x" on white while off) that opens the crosspoint editor.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "control-panel/form_weight_ctrl.h"
#include "device-access/orvane_records.h"
#include "forms/form_base_impl.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/messages.h"

class FormMixerConnection : public FormBaseImpl<FormMixerConnection> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  // Input left to output left, input left to output right, input right to
  // output left, input right to output right.
  static constexpr std::array<int, 4> kTextIds{1069, 1070, 1071, 1072};

  // The four entries (in the order of kTextIds) belong to the mixer window.
  FormMixerConnection(const ORVANE_DEVICE_ID& device, std::array<ORVANE_MIXER_CROSSPOINT*, 4> entries);
  // Ends an open editor: a layout change or the device's removal may remove
  // the cell while its editor runs.
  ~FormMixerConnection() override;

  void updateForm() override {}
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  void showEntries();
  void showUnavailable();
  // Opens the crosspoint editor for one of the four texts (0 to 3) and shows
  // the entry again when it closes.
  void editCrosspoint(int index);
  // The editor while it is open, or null.
  FormWeightCtrl* editor() const { return editor_; }
  // The background a text is painted on: green while its crosspoint is on.
  platform::ui::Colour background(int index) const;

  static std::u16string crosspointText(const ORVANE_MIXER_CROSSPOINT& entry);

 private:
  void showEntry(int index);

  ORVANE_DEVICE_ID device_;
  std::array<ORVANE_MIXER_CROSSPOINT*, 4> entries_;
  platform::ui::StaticColours white_{platform::ui::rgb(0, 0, 0), platform::ui::rgb(255, 255, 255)};
  platform::ui::StaticColours green_{platform::ui::rgb(0, 0, 0), platform::ui::rgb(0, 255, 0)};
  FormWeightCtrl* editor_ = nullptr;
  // False once the cell is gone; the editor's caller checks it when the
  // modal loop returns.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

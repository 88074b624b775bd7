#pragma once
// The statistics pages: one object of the kernel driver's statistics record
// as a two-column list of named values. Each page kind appends its rows in
// its constructor; the rows point into the frame's copy of the record and are
// re-formatted by updateStatistics.

#include <span>

#include "device-access/orvane_statistics.h"
#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "spy/list_item.h"
#include "spy/spy_form_base.h"

class FormStatistics : public FormBaseImpl<FormStatistics, SpyFormBase> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kListId = 1012;
  static constexpr int kGroupId = 1013;
  static constexpr int kDescriptionId = 1014;

  bool isStatisticsForm() override { return true; }
  void updateStatistics(const ORVANE_STATISTICS& record) override;
  void updateForm() override {}

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  // Column 0 gets three fifths of the list's client width, column 1 two fifths.
  void onFormSize() override;
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

  const ListItemContainer& items() const { return items_; }
  platform::ui::ListView* list() const { return list_; }

 protected:
  explicit FormStatistics(const void* entry) : entry_(entry) {}

  // Row builders for the kinds' constructors: the value is a field of the
  // page's entry; kinds are ListItem::kPlain or ListItem::kError.
  void addSeparator();
  template <typename T>
  void addInt(std::u16string_view label, const T& value, std::u16string_view format,
              uint32_t kind = ListItem::kPlain, std::u16string_view description = {}) {
    items_.add<ListItemIntT<T>>(label, &value, format, kind, description);
  }
  // A negative value shows as "n/a".
  void addIntOrNa(std::u16string_view label, const int32_t& value, std::u16string_view format);
  void addBool(std::u16string_view label, const uint32_t& value);
  template <typename T>
  void addPercentage(std::u16string_view label, const T& value, std::u16string_view format) {
    items_.add<ListItemPercentageT<T>>(label, &value, format, ListItem::kPlain);
  }
  template <size_t Capacity>
  void addText(std::u16string_view label, const char16_t (&field)[Capacity]) {
    items_.add<ListItemWStr>(label, field, Capacity, u"%s", ListItem::kPlain);
  }

  ListItemContainer items_;
  const void* entry_;
  platform::ui::ListView* list_ = nullptr;

 private:
  void updateDescription();
  platform::ui::LResult customDraw(platform::ui::CustomDraw& draw);

  platform::ui::StaticText* description_ = nullptr;
};

class FormStatisticsDevice : public FormStatistics {
 public:
  explicit FormStatisticsDevice(const ORVANE_STAT_DEVICE* entry);
};

class FormStatisticsIsoStream : public FormStatistics {
 protected:
  explicit FormStatisticsIsoStream(const ORVANE_STAT_ISO_STREAM* entry);
};

class FormStatisticsIsoStreamIn : public FormStatisticsIsoStream {
 public:
  explicit FormStatisticsIsoStreamIn(const ORVANE_STAT_ISO_STREAM_IN* entry);
};

class FormStatisticsIsoStreamOut : public FormStatisticsIsoStream {
 public:
  explicit FormStatisticsIsoStreamOut(const ORVANE_STAT_ISO_STREAM* entry);
};

class FormStatisticsHwPort : public FormStatistics {
 public:
  explicit FormStatisticsHwPort(const ORVANE_STAT_HW_PORT* entry);
};

class FormStatisticsPortChannel : public FormStatistics {
 public:
  explicit FormStatisticsPortChannel(const ORVANE_STAT_PORT_CHANNEL* entry);
};

class FormStatisticsSpdifDeframer : public FormStatistics {
 public:
  explicit FormStatisticsSpdifDeframer(const ORVANE_STAT_SPDIF_DEFRAMER* entry);
};

class FormStatisticsAsioChannel : public FormStatistics {
 public:
  explicit FormStatisticsAsioChannel(const ORVANE_STAT_ASIO_CHANNEL* entry);
};

class FormStatisticsSoundDevice : public FormStatistics {
 public:
  explicit FormStatisticsSoundDevice(const ORVANE_STAT_SOUND_DEVICE* entry);
};

class FormStatisticsMidiPortIn : public FormStatistics {
 public:
  explicit FormStatisticsMidiPortIn(const ORVANE_STAT_MIDI_PORT* entry);
};

class FormStatisticsMidiPortOut : public FormStatistics {
 public:
  explicit FormStatisticsMidiPortOut(const ORVANE_STAT_MIDI_PORT* entry);
};

class FormStatisticsMidiClientIn : public FormStatistics {
 public:
  explicit FormStatisticsMidiClientIn(const ORVANE_STAT_MIDI_CLIENT_IN* entry);
};

class FormStatisticsMidiClientOut : public FormStatistics {
 public:
  explicit FormStatisticsMidiClientOut(const ORVANE_STAT_MIDI_CLIENT_OUT* entry);
};

class FormStatisticsAsioHost : public FormStatistics {
 public:
  explicit FormStatisticsAsioHost(const ORVANE_STAT_ASIO_HOST* entry);
};

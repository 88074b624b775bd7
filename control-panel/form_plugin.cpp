#include "control-panel/form_plugin.h"

#include <algorithm>
#include <limits>

#include "control-panel/orvane_cpl_client.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::groupBox, -1, u"Echo Effect for Mixer Output Channels", 7, 7, 186, 136},
    {ControlKind::comboBox, FormPlugin::kPairsId, u"", 15, 21, 90, 80,
     style::sorted | style::verticalScroll | style::tabStop},
    {ControlKind::staticText, -1, u"Delay", 15, 40, 50, 8},
    {ControlKind::trackBar, FormPlugin::kDelayId, u"", 20, 50, 30, 76,
     style::vertical | style::autoTicks | style::bothTicks | style::tabStop},
    {ControlKind::staticText, FormPlugin::kDelayTextId, u"", 15, 129, 50, 8},
    {ControlKind::staticText, -1, u"Amplification", 105, 40, 60, 8},
    {ControlKind::trackBar, FormPlugin::kAmplificationId, u"", 110, 50, 30, 76,
     style::vertical | style::autoTicks | style::bothTicks | style::tabStop},
    {ControlKind::staticText, FormPlugin::kAmplificationTextId, u"", 105, 129, 50, 8},
};

ORVANE_PLUGIN_PARAMETERS record(uint32_t selector, uint32_t answerOrPairCount) {
  ORVANE_PLUGIN_PARAMETERS parameters{};
  parameters.selector = selector;
  parameters.answerOrPairCount = answerOrPairCount;
  return parameters;
}

bool movesTheSlider(uint16_t code) { return code <= SB_THUMBTRACK; }

// No device has more output channels than a channel list holds; a larger
// count is a broken answer and would fill the list for a very long time.
constexpr uint32_t kMaximumOutputChannels = static_cast<uint32_t>(ORVANE_MAX_CHANNELS);
// The sliders' positions are ints.
constexpr uint32_t kLargestSliderValue = std::numeric_limits<int>::max();

// The top is the largest value; a value beyond the maximum puts the slider at the top.
int sliderPosition(uint32_t maximum, uint32_t value) { return static_cast<int>(maximum - std::min(value, maximum)); }

}  // namespace

const DialogTemplate FormPlugin::kTemplate{258, u"", 200, 150, kControls};
const std::span<const ResizeRule> FormPlugin::kResizeRules{};

OrvaneDevice* FormPlugin::device() const { return mainConnection().findDevice(deviceId_.first, deviceId_.second); }

LResult FormPlugin::onInitForm(uint32_t, WParam, LParam, bool&) {
  pairs_ = controlAs<ComboBox>(kPairsId);
  delay_ = controlAs<TrackBar>(kDelayId);
  amplification_ = controlAs<TrackBar>(kAmplificationId);
  delayMaximum_ = kDefaultMaximumDelay;
  if (OrvaneDevice* connection = device()) {
    ORVANE_PLUGIN_PARAMETERS parameters = record(ORVANE_PLUGIN_MAXIMUM_DELAY, 0);
    if (connection->ioctlGetPluginParameters(&parameters, sizeof parameters) == 0) {
      delayMaximum_ = std::min(parameters.answerOrPairCount, kLargestSliderValue);
    }
  }
  delay_->setRange(static_cast<int>(delayMinimum_), static_cast<int>(delayMaximum_));
  delay_->setPosition(0);
  delay_->setTickFrequency(static_cast<int>(delayMaximum_ / 10));
  amplification_->setRange(static_cast<int>(amplificationMinimum_), static_cast<int>(amplificationMaximum_));
  amplification_->setPosition(0);
  amplification_->setTickFrequency(100);
  return 0;
}

void FormPlugin::updateForm() {
  pairs_->resetContent();
  OrvaneDevice* connection = device();
  if (connection == nullptr) return;
  ORVANE_PLUGIN_PARAMETERS parameters = record(ORVANE_PLUGIN_OUTPUT_CHANNEL_COUNT, 0);
  if (connection->ioctlGetPluginParameters(&parameters, sizeof parameters) == 0) {
    const uint32_t channels = std::min(parameters.answerOrPairCount, kMaximumOutputChannels);
    for (uint32_t pair = 0; pair < channels / 2; ++pair) {
      const int position = pairs_->addString(platform::formatText(u"Channel %02u/%02u", 2 * pair + 1, 2 * pair + 2));
      pairs_->setItemData(position, 2 * pair);
    }
  }
  pairs_->setCurrentSelection(0);
  readDelay();
  readAmplification();
}

bool FormPlugin::readValue(uint32_t selector, uint32_t channel, uint32_t& value) const {
  OrvaneDevice* connection = device();
  if (connection == nullptr) return false;
  ORVANE_PLUGIN_PARAMETERS parameters = record(selector, 1);
  parameters.pairs[0].channel = channel;
  if (connection->ioctlGetPluginParameters(&parameters, sizeof parameters) != 0) return false;
  value = parameters.pairs[0].value;
  return true;
}

bool FormPlugin::selectedChannel(uint32_t& channel) const {
  const int selected = pairs_->currentSelection();
  if (selected < 0) return false;
  channel = static_cast<uint32_t>(pairs_->itemData(selected));
  return true;
}

void FormPlugin::readDelay() {
  uint32_t channel = 0;
  uint32_t value = 0;
  if (!selectedChannel(channel) || !readValue(ORVANE_PLUGIN_DELAY, channel, value)) return;
  delay_->setPosition(sliderPosition(delayMaximum_, value));
  setItemText(kDelayTextId, platform::formatText(u"%u ms", value));
}

void FormPlugin::readAmplification() {
  uint32_t channel = 0;
  uint32_t value = 0;
  if (!selectedChannel(channel) || !readValue(ORVANE_PLUGIN_AMPLIFICATION, channel, value)) return;
  amplification_->setPosition(sliderPosition(amplificationMaximum_, value));
  setItemText(kAmplificationTextId, platform::formatText(u"%u.%02u", value / 1000, value % 1000 / 10));
}

void FormPlugin::sliderMoved(LParam slider) {
  uint32_t channel = 0;
  OrvaneDevice* connection = device();
  if (connection == nullptr || !selectedChannel(channel)) return;
  const bool isDelay = static_cast<uint64_t>(slider) == delay_->handle().value;
  if (!isDelay && static_cast<uint64_t>(slider) != amplification_->handle().value) return;
  const uint32_t value = isDelay ? delayMaximum_ - static_cast<uint32_t>(delay_->position())
                                 : amplificationMaximum_ - static_cast<uint32_t>(amplification_->position());
  ORVANE_PLUGIN_PARAMETERS parameters = record(isDelay ? ORVANE_PLUGIN_DELAY : ORVANE_PLUGIN_AMPLIFICATION, 2);
  parameters.pairs[0] = {channel, value};
  parameters.pairs[1] = {channel + 1, value};
  (void)connection->ioctlSetPluginParameters(&parameters, sizeof parameters);
  if (isDelay) {
    readDelay();
  } else {
    readAmplification();
  }
}

bool FormPlugin::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_COMMAND && commandId(wParam) == kPairsId && commandCode(wParam) == CBN_SELCHANGE) {
    readDelay();
    readAmplification();
    result = 0;
    return true;
  }
  if (message == WM_VSCROLL) {
    if (movesTheSlider(lowWord(wParam))) sliderMoved(lParam);
    result = 0;
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}

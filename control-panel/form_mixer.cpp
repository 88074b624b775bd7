#include "control-panel/form_mixer.h"

#include <algorithm>

#include "control-panel/control_panel_resources.h"
#include "control-panel/mixer_entries.h"
#include "platform/format.h"

namespace {

using namespace platform::ui;

constexpr char16_t kNoPins[] = u"No mixer pins.";

std::u16string pairName(const ORVANE_MIXER_PIN& left, const ORVANE_MIXER_PIN& right, bool input) {
  const char16_t* format = nullptr;
  switch (left.portType) {
    case 0:
      format = u"I2S %u/%u";
      break;
    case 1:
      format = u"SPDIF %u/%u";
      break;
    case 2:
      format = input ? u"I2S %u/%u" : nullptr;
      break;
    case 3:
      format = input ? u"SPDIF %u/%u" : nullptr;
      break;
    case ORVANE_MIXER_PORT_VIRTUAL:
      format = u"Virtual %u/%u";
      break;
    default:
      break;
  }
  if (format == nullptr) return u"unknown";
  return platform::formatText(format, static_cast<uint32_t>(left.channel), static_cast<uint32_t>(right.channel));
}

Rect sizeOf(WindowHandle window) {
  const Rect rect = getWindowRect(window);
  return Rect{0, 0, rect.width(), rect.height()};
}

void place(WindowHandle window, int x, int y) {
  const Rect size = sizeOf(window);
  moveWindow(window, Rect{x, y, x + size.right, y + size.bottom});
  showWindow(window, SW_SHOW);
}

}  // namespace

const DialogTemplate FormMixer::kTemplate{251, u"Mixer", 100, 40, {}};

FormMixer::FormMixer(const ORVANE_DEVICE_ID& device, bool monitor) : Dialog(kTemplate), device_(device), monitor_(monitor) {}

FormMixer::~FormMixer() = default;

bool FormMixer::createMixer() { return create(WindowHandle{}); }

std::u16string FormMixer::inputPairName(const ORVANE_MIXER_PIN& left, const ORVANE_MIXER_PIN& right) {
  return pairName(left, right, true);
}

std::u16string FormMixer::outputPairName(const ORVANE_MIXER_PIN& left, const ORVANE_MIXER_PIN& right) {
  return pairName(left, right, false);
}

std::u16string FormMixer::rowHeader() const { return monitor_ ? u"Hardware Inputs" : u"Playback"; }
std::u16string FormMixer::columnHeader() const { return u"Hardware Outputs"; }

OrvaneDevice* FormMixer::device() const { return mainConnection().findDevice(device_.first, device_.second); }

void FormMixer::showMixer() {
  if (isWindowVisible(handle())) return;
  clearMixer();
  buildMixer();
  showWindow(handle(), SW_SHOW);
}

void FormMixer::rebuildIfVisible() {
  if (!isWindowVisible(handle())) return;
  showWindow(handle(), SW_HIDE);
  clearMixer();
  buildMixer();
  showWindow(handle(), SW_SHOW);
}

StaticText* FormMixer::addStatic(std::u16string_view text, const Rect& rect) {
  auto control = Control::make(ControlKind::staticText);
  const ControlTemplate header{ControlKind::staticText, -1, text, 0, 0, 0, 0,
                               style::staticEdge | style::centre | style::centreVertically};
  control->create(header, *this, rect);
  auto* result = dynamic_cast<StaticText*>(control.get());
  headers_.push_back(std::move(control));
  return result;
}

void FormMixer::buildMixer() {
  setWindowText(handle(), monitor_ ? u"Monitor Mixer (hardware inputs)" : u"Playback Mixer (ASIO/WDM playback)");
  OrvaneDevice* connection = device();
  if (connection == nullptr) return;
  if (connection->ioctlGetMixerPins(ORVANE_MIXER_PINS_OUTPUTS, outputPins_.data(), ORVANE_MIXER_MAX_OUTPUT_PINS,
                                    outputPinCount_) != 0) {
    outputPinCount_ = 0;
  }
  const uint32_t inputSelector = monitor_ ? ORVANE_MIXER_PINS_MONITOR_INPUTS : ORVANE_MIXER_PINS_PLAYBACK_INPUTS;
  if (connection->ioctlGetMixerPins(inputSelector, inputPins_.data(), ORVANE_MIXER_MAX_INPUT_PINS, inputPinCount_) !=
      0) {
    inputPinCount_ = 0;
  }
  outputPinCount_ = std::min<uint32_t>(outputPinCount_, ORVANE_MIXER_MAX_OUTPUT_PINS);
  inputPinCount_ = std::min<uint32_t>(inputPinCount_, ORVANE_MIXER_MAX_INPUT_PINS);

  if (outputPinCount_ == 0 && inputPinCount_ == 0) {
    noPins_ = std::make_unique<FormStaticText>(kNoPins);
    noPins_->create(handle());
    const Rect size = sizeOf(noPins_->handle());
    place(noPins_->handle(), 0, 0);
    const Rect window = getWindowRect(handle());
    moveWindow(handle(), Rect{window.left, window.top, window.left + size.right, window.top + size.bottom});
    return;
  }
  if (!view_.isOpen()) view_.openConnection(cpl::kDeviceLinkName, ORVANE_CLIENT_TYPE_VIEW, false);
  if (!mixerView_.isOpen()) mixerView_.openConnection(cpl::kDeviceLinkName, ORVANE_CLIENT_TYPE_MIXER_VIEW, false);

  const uint32_t inputPairs = inputPinCount_ / 2;
  const uint32_t outputPairs = outputPinCount_ / 2;
  int stripWidth = 0;   // W
  int stripHeight = 0;  // of an input strip (a row)
  for (uint32_t k = 0; k < inputPairs; ++k) {
    ORVANE_MIXER_LEVEL* left = &inputLevels_[inputLevelCount_++];
    ORVANE_MIXER_LEVEL* right = &inputLevels_[inputLevelCount_++];
    left->pin = inputPins_[2 * k];
    right->pin = inputPins_[2 * k + 1];
    auto strip = std::make_unique<FormStereoInputCtrl>(inputPairName(left->pin, right->pin), left, right);
    strip->create(handle());
    const Rect size = sizeOf(strip->handle());
    stripWidth = size.right;
    stripHeight = size.bottom;
    place(strip->handle(), 0, kHeaderHeight + static_cast<int>(k) * stripHeight);
    inputStrips_.push_back(std::move(strip));
  }
  if (inputPairs > 0) addStatic(rowHeader(), Rect{0, 0, stripWidth, kHeaderHeight});

  int cellWidth = 0;
  int cellHeight = stripHeight;
  for (uint32_t j = 0; j < outputPairs; ++j) {
    for (uint32_t k = 0; k < inputPairs; ++k) {
      std::array<ORVANE_MIXER_CROSSPOINT*, 4> entries{};
      const ORVANE_MIXER_PIN outputs[2] = {outputPins_[2 * j], outputPins_[2 * j + 1]};
      const ORVANE_MIXER_PIN inputs[2] = {inputPins_[2 * k], inputPins_[2 * k + 1]};
      for (int n = 0; n < 4; ++n) {
        ORVANE_MIXER_CROSSPOINT& entry = crosspoints_[crosspointCount_++];
        entry = {};
        entry.outputPin = outputs[n % 2];
        entry.inputPin = inputs[n / 2];
        entries[static_cast<size_t>(n)] = &entry;
      }
      auto cell = std::make_unique<FormMixerConnection>(device_, entries);
      cell->create(handle());
      const Rect size = sizeOf(cell->handle());
      cellWidth = size.right;
      cellHeight = size.bottom;
      place(cell->handle(), stripWidth + static_cast<int>(j) * (cellWidth + kSeparatorWidth) + kSeparatorWidth,
            kHeaderHeight + static_cast<int>(k) * cellHeight);
      cells_.push_back(std::move(cell));
    }
  }

  const int outputTop = kHeaderHeight + static_cast<int>(inputPairs) * stripHeight;
  int outputWidth = 0;
  int outputHeight = 0;
  for (uint32_t j = 0; j < outputPairs; ++j) {
    ORVANE_MIXER_LEVEL* leftLevel = &outputLevels_[outputLevelCount_++];
    ORVANE_MIXER_LEVEL* rightLevel = &outputLevels_[outputLevelCount_++];
    ORVANE_MIXER_GAIN* leftGain = &gains_[gainCount_++];
    ORVANE_MIXER_GAIN* rightGain = &gains_[gainCount_++];
    leftLevel->pin = leftGain->pin = outputPins_[2 * j];
    rightLevel->pin = rightGain->pin = outputPins_[2 * j + 1];
    auto strip = std::make_unique<FormStereoOutputCtrl>(outputPairName(leftLevel->pin, rightLevel->pin), device_,
                                                        leftGain, rightGain, leftLevel, rightLevel);
    strip->create(handle());
    const Rect size = sizeOf(strip->handle());
    outputWidth = size.right;
    outputHeight = size.bottom;
    const int x = stripWidth + static_cast<int>(j) * (outputWidth + kSeparatorWidth) + kSeparatorWidth;
    place(strip->handle(), x, outputTop);
    outputStrips_.push_back(std::move(strip));

    auto separator = Control::make(ControlKind::staticText);
    const ControlTemplate edge{ControlKind::staticText, -1, u"", 0, 0, 0, 0, style::staticEdge};
    const int separatorX = stripWidth + static_cast<int>(j) * (outputWidth + kSeparatorWidth) + 1;
    separator->create(edge, *this, Rect{separatorX, 0, separatorX + kSeparatorWidth, outputTop + outputHeight});
    separators_.push_back(std::move(separator));
  }
  const int right = stripWidth + static_cast<int>(outputPairs) * (std::max(outputWidth, cellWidth) + kSeparatorWidth);
  int bottom = outputTop + outputHeight;
  if (outputPinCount_ > 0) {
    addStatic(columnHeader(), Rect{stripWidth, bottom, right, bottom + kHeaderHeight});
    bottom += kHeaderHeight;
  }
  const Rect window = getWindowRect(handle());
  moveWindow(handle(), Rect{window.left, window.top, window.left + std::max(right, stripWidth), window.top + bottom});

  refreshCrosspoints();
  refreshGains();
  timer_ = setTimer(handle(), kTimerId, kMeterPeriodMs);
}

void FormMixer::clearMixer() {
  if (timer_ != 0) killTimer(handle(), timer_);
  timer_ = 0;
  const auto destroy = [](auto& windows) {
    for (auto& window : windows) {
      if (window->exists()) destroyWindow(window->handle());
    }
    windows.clear();
  };
  destroy(outputStrips_);
  destroy(inputStrips_);
  destroy(cells_);
  destroy(separators_);
  destroy(headers_);
  if (noPins_ != nullptr && noPins_->exists()) destroyWindow(noPins_->handle());
  noPins_.reset();
  outputPinCount_ = inputPinCount_ = outputLevelCount_ = inputLevelCount_ = gainCount_ = crosspointCount_ = 0;
  view_.closeDriver();
  mixerView_.closeDriver();
}

void FormMixer::refreshLevels() {
  OrvaneDevice* connection = device();
  if (connection == nullptr) return;
  if (outputLevelCount_ > 0) {
    const bool read = exchangeKeepingPins(*connection, &OrvaneDevice::ioctlGetMixerOutputLevels, outputLevels_.data(),
                                          outputLevelCount_) == 0;
    for (auto& strip : outputStrips_) strip->showLevels(read);
  }
  if (inputLevelCount_ > 0) {
    const bool read = exchangeKeepingPins(*connection, &OrvaneDevice::ioctlGetMixerInputLevels, inputLevels_.data(),
                                          inputLevelCount_) == 0;
    for (auto& strip : inputStrips_) strip->showLevels(read);
  }
}

void FormMixer::refreshGains() {
  OrvaneDevice* connection = device();
  if (connection == nullptr || gainCount_ == 0) return;
  const bool read = exchangeKeepingPins(*connection, &OrvaneDevice::ioctlGetMixerGains, gains_.data(), gainCount_) == 0;
  for (auto& strip : outputStrips_) read ? strip->showEntries() : strip->showUnavailable();
}

void FormMixer::refreshCrosspoints() {
  OrvaneDevice* connection = device();
  if (connection == nullptr || crosspointCount_ == 0) return;
  const bool read = exchangeKeepingPins(*connection, &OrvaneDevice::ioctlGetMixerCrosspoints, crosspoints_.data(),
                                        crosspointCount_) == 0;
  for (auto& cell : cells_) read ? cell->showEntries() : cell->showUnavailable();
}

bool FormMixer::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  switch (message) {
    case WM_INITDIALOG:
      showWindow(handle(), SW_HIDE);
      setWindowIcon(handle(), loadIcon(cpl::IDR_MAINFRAME));
      result = 1;
      return true;
    case WM_CLOSE:
      showWindow(handle(), SW_HIDE);
      clearMixer();
      result = 0;
      return true;
    case WM_DESTROY:
      // The children go with the window; stop what refers to them.
      if (timer_ != 0) killTimer(handle(), timer_);
      timer_ = 0;
      view_.closeDriver();
      mixerView_.closeDriver();
      return Dialog::processMessage(message, wParam, lParam, result);
    case WM_TIMER:
      refreshLevels();
      result = 0;
      return true;
    case WM_CTLCOLORSTATIC:
      for (const auto& header : headers_) {
        if (header->handle().value == static_cast<uint64_t>(lParam)) {
          result = reinterpret_cast<LResult>(&headerColours_);
          return true;
        }
      }
      result = 0;
      return true;
    case WM_COMMAND:
      if (commandId(wParam) == IDCANCEL || commandId(wParam) == IDOK) {
        showWindow(handle(), SW_HIDE);
        clearMixer();
        result = 0;
        return true;
      }
      break;
    default:
      break;
  }
  return Dialog::processMessage(message, wParam, lParam, result);
}

#include "forms/wtl_registry_setting.h"

#include <algorithm>
#include <cstdint>

#include "platform/registry.h"
#include "platform/ui/screen.h"
#include "platform/ui/window.h"

using platform::RegistryHive;
using platform::RegistryKey;
using platform::ui::Rect;
using platform::ui::Size;

namespace {

constexpr int kSmallest = 50;

// Clamps to the screen, or the screen's size when it cannot be read.
Size currentScreen() {
  Size screen{kSmallest * 2, kSmallest * 2};
  platform::ui::screenSize(&screen);
  return screen;
}

}  // namespace

Rect clampToScreen(const Rect& rect, const Size& screen) {
  const Rect centred{screen.width / 2 - kSmallest / 2, screen.height / 2 - kSmallest / 2,
                     screen.width / 2 + kSmallest / 2, screen.height / 2 + kSmallest / 2};
  if (rect.width() < kSmallest || rect.height() < kSmallest) return centred;
  Rect clamped;
  clamped.left = std::min(std::max(rect.left, 0), screen.width - kSmallest);
  clamped.top = std::min(std::max(rect.top, 0), screen.height - kSmallest);
  clamped.right = std::min(std::max(rect.right, kSmallest), screen.width);
  clamped.bottom = std::min(std::max(rect.bottom, kSmallest), screen.height);
  if (clamped.width() < kSmallest || clamped.height() < kSmallest) return centred;
  return clamped;
}

bool loadWindowPlacement(platform::ui::WindowHandle window, std::u16string_view key, bool show) {
  RegistryKey settings;
  if (RegistryKey::create(RegistryHive::CurrentUser, key,
                          platform::KEY_READ | platform::KEY_CREATE_SUB_KEY | platform::KEY_SET_VALUE,
                          settings) != 0) {
    return false;
  }
  uint32_t values[4] = {};
  const char16_t* names[4] = {u"PosX", u"PosY", u"Width", u"Height"};
  for (int i = 0; i < 4; ++i) {
    if (settings.getDword(names[i], values[i]) != 0) return false;
  }
  const auto x = static_cast<int32_t>(values[0]);
  const auto y = static_cast<int32_t>(values[1]);
  const Rect stored{x, y, x + static_cast<int32_t>(values[2]), y + static_cast<int32_t>(values[3])};
  if (!platform::ui::moveWindow(window, clampToScreen(stored, currentScreen()))) return false;
  if (show) platform::ui::showWindow(window, platform::ui::SW_SHOW);
  return true;
}

bool saveWindowPlacement(platform::ui::WindowHandle window, std::u16string_view key) {
  if (!platform::ui::isWindow(window) || platform::ui::isIconic(window)) return false;
  const Rect rect = clampToScreen(platform::ui::getWindowRect(window), currentScreen());
  RegistryKey settings;
  if (RegistryKey::create(RegistryHive::CurrentUser, key,
                          platform::KEY_READ | platform::KEY_CREATE_SUB_KEY | platform::KEY_SET_VALUE,
                          settings) != 0) {
    return false;
  }
  const std::pair<const char16_t*, int> values[] = {
      {u"PosX", rect.left}, {u"PosY", rect.top}, {u"Width", rect.width()}, {u"Height", rect.height()}};
  for (const auto& [name, value] : values) {
    if (settings.setDword(name, static_cast<uint32_t>(value)) != 0) return false;
  }
  return true;
}

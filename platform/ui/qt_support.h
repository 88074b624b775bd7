#pragma once
// Helpers of the window layer's implementation that need Qt: text and colour
// conversions and the scope of a call that came from Qt. Not for programs.

#include <QColor>
#include <QString>

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ui/menu.h"
#include "platform/ui/types.h"

class QMenu;

namespace platform::ui {

inline QString toQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string fromQString(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

inline QColor toQColor(Colour colour) { return QColor(redOf(colour), greenOf(colour), blueOf(colour)); }

inline Colour fromQColor(const QColor& colour) {
  return rgb(static_cast<uint8_t>(colour.red()), static_cast<uint8_t>(colour.green()),
             static_cast<uint8_t>(colour.blue()));
}

// Marks code that runs inside a Qt event handler or signal: a window
// destroyed there frees its widgets only when control is back in the event
// loop. GUI thread only.
class QtCallbackScope {
 public:
  QtCallbackScope() { ++depth_; }
  ~QtCallbackScope() { --depth_; }
  QtCallbackScope(const QtCallbackScope&) = delete;
  QtCallbackScope& operator=(const QtCallbackScope&) = delete;
  static bool active() { return depth_ > 0; }

 private:
  static inline int depth_ = 0;
};

// Windows texts: "&" marks the next character as the mnemonic, "&&" is a
// plain ampersand; Qt reads them the same way in buttons and menus. A lone
// carriage return and CR LF break the line.
QString windowsText(std::u16string_view text);
// The same for static texts, which show the mnemonic's character plainly.
QString labelText(std::u16string_view text);

// Fills a Qt menu from menu items: a chosen command calls `onCommand`; each
// command's prompt is the program's string of its number (up to a line break).
void fillQtMenu(QMenu* menu, std::span<const MenuItem> items, const std::function<void(int)>& onCommand,
                std::span<const CommandImage> images);

}  // namespace platform::ui

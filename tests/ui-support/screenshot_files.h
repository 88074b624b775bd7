#pragma once
// The screenshot programs' files: a widget saved as PNG, and file names made
// from tree item texts.

#include <QPixmap>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/text.h"

namespace ui_testing {

// Saves the widget's picture and prints one line about it.
inline bool saveScreenshot(QWidget* widget, const std::filesystem::path& file) {
  const bool saved = widget->grab().save(QString::fromStdString(file.string()));
  std::printf("%s %s\n", saved ? "wrote" : "could not write", file.string().c_str());
  return saved;
}

// "IN 1/2 (nc)" becomes "in-1-2-nc": lower-case letters and digits, one dash
// for every run of anything else, none at the end.
inline std::string screenshotName(const std::u16string& itemText) {
  std::string name;
  for (const char c : platform::toUtf8(itemText)) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    } else if (!name.empty() && name.back() != '-') {
      name += '-';
    }
  }
  while (!name.empty() && name.back() == '-') name.pop_back();
  return name;
}

}  // namespace ui_testing

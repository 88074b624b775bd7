#include "platform/ui/qt_support.h"

namespace platform::ui {

QString windowsText(std::u16string_view text) {
  QString result;
  result.reserve(static_cast<qsizetype>(text.size()));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      result.append(QChar(u'\n'));
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      result.append(QChar(text[i]));
    }
  }
  return result;
}

QString labelText(std::u16string_view text) {
  const QString converted = windowsText(text);
  QString result;
  result.reserve(converted.size());
  for (qsizetype i = 0; i < converted.size(); ++i) {
    // "&x" shows x, "&&" shows one ampersand.
    if (converted[i] == QChar(u'&') && i + 1 < converted.size()) ++i;
    result.append(converted[i]);
  }
  return result;
}

}  // namespace platform::ui

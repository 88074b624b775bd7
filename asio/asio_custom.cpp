#include "asio/asio_custom.h"

#include "platform/format.h"

namespace {
constexpr size_t kCommandLineChars = 260;
}  // namespace

const char16_t* AsioCustom::driverName() const { return u"SorvikUSB ASIO Driver"; }

const char16_t* AsioCustom::deviceLinkName() const { return u"{7045B601-879C-4d77-80C0-88D4F867070B}"; }

ASIOError AsioCustom::openControlPanel(void* /*moduleHandle*/, const char16_t* directory) {
  char16_t commandLine[kCommandLineChars];
  platform::formatText(commandLine, kCommandLineChars, u"\"%s%s\" %s", directory, u"orvanecpl.exe", u"-asio");
  // TODO(process creation): start commandLine once platform/process.h is on main.
  return ASE_OK;
}

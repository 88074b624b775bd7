#include "asio/asio_custom.h"

#include "platform/format.h"
#include "platform/handles.h"
#include "platform/process.h"

namespace {
constexpr size_t kCommandLineChars = 260;
// Programs carry no ".exe" here; the control panel lies next to the driver.
constexpr char16_t kControlPanelProgram[] = u"orvanecpl";
}  // namespace

const char16_t* AsioCustom::driverName() const { return u"SorvikUSB ASIO Driver"; }

const char16_t* AsioCustom::deviceLinkName() const { return u"{7045B601-879C-4d77-80C0-88D4F867070B}"; }

ASIOError AsioCustom::openControlPanel(void* /*moduleHandle*/, const char16_t* directory) {
  char16_t commandLine[kCommandLineChars];
  platform::formatText(commandLine, kCommandLineChars, u"\"%s%s\" %s", directory, kControlPanelProgram, u"-asio");
  platform::ProcessInformation process;
  if (platform::createProcess(nullptr, commandLine, 0, nullptr, &process)) platform::closeHandle(process.process);
  // The host learns nothing of a control panel that could not be started.
  return ASE_OK;
}

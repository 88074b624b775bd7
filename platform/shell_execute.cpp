#include "platform/shell_execute.h"

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/handles.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/user_rights.h"

namespace platform {

uint32_t shellExecute(std::u16string_view verb, std::u16string_view file, std::u16string_view parameters,
                      int showCommand) {
  (void)showCommand;  // a new top-level window is shown in its normal state
  const bool elevated = verb == u"runas";
  if (!elevated && !verb.empty() && verb != u"open") return ERROR_INVALID_PARAMETER;
  std::vector<std::string> arguments{toUtf8(file)};
  for (const std::u16string& argument : splitCommandLine(parameters)) arguments.push_back(toUtf8(argument));
  ProcessOptions options;
  options.detached = true;
  if (elevated) options.environment.emplace_back(kAdministratorVariable, "1");
  ProcessInformation info;
  const uint32_t error = startProcess(arguments, options, info);
  if (error == ERROR_SUCCESS) closeHandle(info.process);
  return error;
}

}  // namespace platform

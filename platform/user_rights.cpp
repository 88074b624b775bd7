#include "platform/user_rights.h"

#include <cstdlib>
#include <cstring>

namespace platform {

bool isAdministrator() {
  const char* value = std::getenv(kAdministratorVariable);
  return value == nullptr || std::strcmp(value, "0") != 0;
}

}  // namespace platform

#include "platform/system_root.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

#include "platform/errors.h"

namespace platform {

namespace {
std::filesystem::path homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/tmp";
}

std::filesystem::path defaultSystemRoot() { return homeDirectory() / ".local" / "share" / "wn-system"; }

}  // namespace

std::filesystem::path systemRoot() {
  if (const char* root = std::getenv(kSystemRootVariable); root != nullptr && *root != '\0') return root;
  return defaultSystemRoot();
}

std::string systemRootProblem() {
  const char* value = std::getenv(kSystemRootVariable);
  if (value != nullptr && *value == '\0') {
    return std::string(kSystemRootVariable) + " is set but empty; unset it to use the default system root " +
           defaultSystemRoot().string() + ", or set it to a directory";
  }
  const std::filesystem::path root = systemRoot();
  std::error_code error;
  if (std::filesystem::exists(root, error) && !std::filesystem::is_directory(root, error)) {
    return "the system root " + root.string() + " is not a directory";
  }
  return {};
}

std::filesystem::path systemDirectory(const std::string& name) {
  std::filesystem::path dir = systemRoot() / name;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    setLastErrorFromErrno(ec.value());
    return {};
  }
  return dir;
}

}  // namespace platform

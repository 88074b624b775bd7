// regsvr: registers an in-process server by calling its DllRegisterServer,
// or unregisters it with DllUnregisterServer, and reports the result.

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/format.h"
#include "tools/common/tool.h"

namespace {

constexpr const char* kUsage = R"(Usage: regsvr [-u] [-s] LIBRARY

Registers the in-process server LIBRARY (a shared library) by calling its
DllRegisterServer, or unregisters it with -u (DllUnregisterServer). The
registry is the one under $WN_SYSTEM_ROOT.

Options (before or after the library):
  -u           unregister instead of register
  -s           silent: print nothing on success
  -h, --help   this text
  --version    the program's version

Exit codes: 0 success, 1 the library could not be loaded or its function
failed, 2 a usage error.
)";

constexpr tool::OptionSpec kOptions[] = {{"-u", false}, {"-s", false}};

// The server records its own file's path, so it must be loaded by its full one.
std::string fullPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

int run(const tool::CommandLine& line) {
  const std::vector<std::string>& words = line.words();
  if (words.empty()) throw tool::UsageError{"no library given"};
  if (words.size() > 1) throw tool::UsageError{"more than one library given ('" + words[1] + "')"};
  tool::checkSystemRoot();
  const std::string path = fullPath(words[0]);
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    throw tool::Failure{"the module \"" + path + "\" failed to load: " + ::dlerror()};
  }
  const char* entry = line.has("-u") ? "DllUnregisterServer" : "DllRegisterServer";
  auto* function = reinterpret_cast<platform::DllRegisterServerFunction>(::dlsym(library, entry));
  if (function == nullptr) {
    ::dlclose(library);
    throw tool::Failure{"the module \"" + path + "\" was loaded, but the entry point " + entry + " was not found"};
  }
  const platform::HRESULT result = function();
  ::dlclose(library);
  if (platform::failed(result)) {
    throw tool::Failure{platform::formatText("%s in \"%s\" failed with 0x%08X", entry, path.c_str(),
                                             static_cast<uint32_t>(result))};
  }
  if (!line.has("-s")) std::printf("%s in \"%s\" succeeded.\n", entry, path.c_str());
  return tool::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) { return tool::run({"regsvr", kUsage, kOptions}, argc, argv, run); }

// regsvr: registers an in-process server by calling its DllRegisterServer,
// or unregisters it with DllUnregisterServer, and reports the result.

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/com.h"

namespace {

constexpr const char* kUsage = R"(Usage: regsvr [-u] [-s] LIBRARY

Registers the in-process server LIBRARY (a shared library) by calling its
DllRegisterServer, or unregisters it with -u (DllUnregisterServer). The
registry is the one under $WN_SYSTEM_ROOT.

Options:
  -u           unregister instead of register
  -s           silent: print nothing on success
  -h, --help   this text
  --version    the program's version

Exit codes: 0 success, 1 the library could not be loaded or its function
failed, 2 a usage error.
)";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
  bool unregister = false;
  bool silent = false;
  bool help = false;
  bool version = false;
  std::string library;
};

// Options may come before or after the library.
bool parse(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-u" || argument == "/u") {
      options->unregister = true;
    } else if (argument == "-s" || argument == "/s") {
      options->silent = true;
    } else if (argument == "-h" || argument == "--help" || argument == "-?") {
      options->help = true;
    } else if (argument == "--version") {
      options->version = true;
    } else if (argument.size() > 1 && argument[0] == '-') {
      *error = "unknown option " + std::string(argument);
      return false;
    } else if (!options->library.empty()) {
      *error = "more than one library given";
      return false;
    } else {
      options->library = argument;
    }
  }
  if (options->library.empty() && !options->help && !options->version) {
    *error = "no library given";
    return false;
  }
  return true;
}

// The server records its own file's path, so it must be loaded by its full one.
std::string fullPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

int run(const Options& options) {
  const std::string path = fullPath(options.library);
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "regsvr: the module \"%s\" failed to load: %s\n", path.c_str(), ::dlerror());
    return kExitFailure;
  }
  const char* entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto* function = reinterpret_cast<platform::DllRegisterServerFunction>(::dlsym(library, entry));
  if (function == nullptr) {
    std::fprintf(stderr, "regsvr: the module \"%s\" was loaded, but the entry point %s was not found\n", path.c_str(),
                 entry);
    ::dlclose(library);
    return kExitFailure;
  }
  const platform::HRESULT result = function();
  ::dlclose(library);
  if (platform::failed(result)) {
    std::fprintf(stderr, "regsvr: %s in \"%s\" failed with 0x%08X\n", entry, path.c_str(),
                 static_cast<unsigned>(result));
    return kExitFailure;
  }
  if (!options.silent) std::printf("%s in \"%s\" succeeded.\n", entry, path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse(argc, argv, &options, &error)) {
    std::fprintf(stderr, "regsvr: %s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::puts("regsvr 1.0");
    return 0;
  }
  return run(options);
}

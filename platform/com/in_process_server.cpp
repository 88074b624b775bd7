#include "platform/com/in_process_server.h"

#include <dlfcn.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

namespace {

struct LoadedServer {
  std::string path;
  void* library = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;  // null: never unloaded
};

// The servers this process loaded. Each is loaded once; the lock is not held
// while a server's own functions run, except DllCanUnloadNow.
class ServerTable {
 public:
  static ServerTable& instance() {
    static ServerTable table;  // lives until exit
    return table;
  }

  HRESULT load(const std::string& path, DllGetClassObjectFunction* getClassObject) {
    std::lock_guard lock(mutex_);
    for (const LoadedServer& server : servers_) {
      if (server.path == path) {
        *getClassObject = server.getClassObject;
        return S_OK;
      }
    }
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return hresultFromWin32(ERROR_MOD_NOT_FOUND);
    LoadedServer server{path, library,
                        reinterpret_cast<DllGetClassObjectFunction>(::dlsym(library, "DllGetClassObject")),
                        reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(library, "DllCanUnloadNow"))};
    if (server.getClassObject == nullptr) {
      ::dlclose(library);
      return hresultFromWin32(ERROR_PROC_NOT_FOUND);
    }
    *getClassObject = server.getClassObject;
    servers_.push_back(std::move(server));
    return S_OK;
  }

  void freeUnused() {
    std::lock_guard lock(mutex_);
    std::erase_if(servers_, [](const LoadedServer& server) {
      if (server.canUnloadNow == nullptr || server.canUnloadNow() != S_OK) return false;
      ::dlclose(server.library);
      return true;
    });
  }

  size_t count() {
    std::lock_guard lock(mutex_);
    return servers_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<LoadedServer> servers_;
};

// The registered library path of `clsid`, or empty.
std::string serverPath(const CLSID& clsid) {
  RegistryKey key;
  const std::u16string path = u"CLSID\\" + guidToWide(clsid) + u"\\InprocServer32";
  if (RegistryKey::open(RegistryHive::ClassesRoot, path, KEY_READ, key) != ERROR_SUCCESS) return {};
  std::u16string value;
  if (key.getString(u"", value) != ERROR_SUCCESS) return {};
  return toUtf8(value);
}

}  // namespace

HRESULT getClassObject(const CLSID& clsid, uint32_t context, const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  const std::string path = serverPath(clsid);
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  DllGetClassObjectFunction entry = nullptr;
  const HRESULT loaded = ServerTable::instance().load(path, &entry);
  if (failed(loaded)) return loaded;
  return entry(clsid, iid, object);
}

HRESULT createInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  IClassFactory* factory = nullptr;
  const HRESULT found = getClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (failed(found)) return found;
  const HRESULT created = factory->CreateInstance(outer, iid, object);
  factory->Release();
  if (failed(created)) *object = nullptr;
  return created;
}

void freeUnusedLibraries() { ServerTable::instance().freeUnused(); }

size_t loadedServerCount() { return ServerTable::instance().count(); }

}  // namespace platform

#pragma once
// Creating objects of classes that in-process servers provide: the class is
// looked up by its identifier under HKEY_CLASSES_ROOT\CLSID\{id}\InprocServer32,
// whose default value is the path of the server's shared library. The library
// is loaded once per process and kept until freeUnusedLibraries finds that its
// DllCanUnloadNow allows unloading.

#include <cstddef>
#include <cstdint>

#include "platform/com/com.h"

namespace platform {

// The server's class factory (or another interface of it) for `clsid`.
// REGDB_E_CLASSNOTREG when the class is not registered (or `context` does not
// allow an in-process server), the system error as a result when the library
// cannot be loaded (126 missing or unloadable, 127 without DllGetClassObject),
// else the result of the server's DllGetClassObject.
HRESULT getClassObject(const CLSID& clsid, uint32_t context, const IID& iid, void** object);

// A new object of `clsid`, asked for `iid`: the factory's CreateInstance.
// E_POINTER for a null `object`; otherwise `*object` is null on failure.
HRESULT createInstance(const CLSID& clsid, IUnknown* outer, uint32_t context, const IID& iid, void** object);

// Unloads every loaded server whose DllCanUnloadNow answers S_OK.
void freeUnusedLibraries();

// How many server libraries this process holds loaded through this interface.
size_t loadedServerCount();

}  // namespace platform

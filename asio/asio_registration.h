#pragma once
// What registering and unregistering the in-process server write: the class
// key HKEY_CLASSES_ROOT\CLSID\{id} with its InprocServer32 subkey (the path
// of the driver's file and the threading model), and the host's entry
// HKEY_LOCAL_MACHINE\SOFTWARE\ASIO\<key name> with the class identifier and
// the description.

#include <cstdint>

#include "platform/com/com.h"

// 0, or the system error of creating the ASIO entry (or of finding the
// driver's own file). The class key is written only when it is missing or
// names another file; failures while writing it are ignored.
uint32_t registerAsioDriver(const platform::CLSID& clsid, const char16_t* keyName, const char16_t* description,
                            const char16_t* threadingModel);

// Deletes the class key with its subkeys and the ASIO entry; what is missing
// is no failure. Always 0.
uint32_t unregisterAsioDriver(const platform::CLSID& clsid, const char16_t* keyName);

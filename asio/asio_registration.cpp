#include "asio/asio_registration.h"

#include <string>

#include "asio/asio_module.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"

using platform::RegistryHive;
using platform::RegistryKey;

namespace {

constexpr size_t kMaxPathChars = 360;
constexpr size_t kMaxIdentifierChars = 99;
constexpr char16_t kClassesKey[] = u"CLSID";
constexpr char16_t kAsioKey[] = u"SOFTWARE\\ASIO";

// Whether the class key must be (re)written for a server at `path`. A key
// that names another file is deleted first; that fails while it still has
// its InprocServer32 subkey, and its values are then overwritten.
bool classKeyNeedsWriting(const std::u16string& identifier, const std::u16string& path) {
  RegistryKey server;
  if (RegistryKey::open(RegistryHive::ClassesRoot, std::u16string(kClassesKey) + u"\\" + identifier + u"\\InprocServer32",
                        platform::KEY_READ, server) != platform::ERROR_SUCCESS) {
    return true;
  }
  std::u16string registered;
  if (server.getString(u"", registered) != platform::ERROR_SUCCESS) return false;
  // File names compare without regard to case, as on Windows.
  if (platform::foldCase(registered) == platform::foldCase(path)) return false;
  RegistryKey classes;
  if (RegistryKey::open(RegistryHive::ClassesRoot, kClassesKey, platform::KEY_ALL_ACCESS, classes) ==
      platform::ERROR_SUCCESS) {
    classes.deleteSubKey(identifier);
  }
  return true;
}

void writeClassKey(const std::u16string& identifier, const std::u16string& path, const char16_t* description,
                   const char16_t* threadingModel) {
  const std::u16string classPath = std::u16string(kClassesKey) + u"\\" + identifier;
  RegistryKey classKey;
  if (RegistryKey::create(RegistryHive::ClassesRoot, classPath, platform::KEY_ALL_ACCESS, classKey) ==
      platform::ERROR_SUCCESS) {
    classKey.setString(u"", description);
  }
  RegistryKey server;
  if (RegistryKey::create(RegistryHive::ClassesRoot, classPath + u"\\InprocServer32", platform::KEY_ALL_ACCESS,
                          server) == platform::ERROR_SUCCESS) {
    server.setString(u"", path);
    server.setString(u"ThreadingModel", threadingModel);
  }
}

void deleteAsioEntry(const char16_t* keyName) {
  RegistryKey asio;
  if (RegistryKey::open(RegistryHive::LocalMachine, kAsioKey, platform::KEY_ALL_ACCESS, asio) ==
      platform::ERROR_SUCCESS) {
    asio.deleteSubKey(keyName);
  }
}

std::u16string identifierText(const platform::CLSID& clsid) {
  return platform::guidToWide(clsid).substr(0, kMaxIdentifierChars);
}

}  // namespace

uint32_t registerAsioDriver(const platform::CLSID& clsid, const char16_t* keyName, const char16_t* description,
                            const char16_t* threadingModel) {
  const std::u16string path = asioModulePath().substr(0, kMaxPathChars);
  if (path.empty()) return platform::ERROR_FILE_NOT_FOUND;
  const std::u16string identifier = identifierText(clsid);
  if (classKeyNeedsWriting(identifier, path)) writeClassKey(identifier, path, description, threadingModel);

  deleteAsioEntry(keyName);
  RegistryKey entry;
  const uint32_t created = RegistryKey::create(RegistryHive::LocalMachine, std::u16string(kAsioKey) + u"\\" + keyName,
                                               platform::KEY_ALL_ACCESS, entry);
  if (created == platform::ERROR_SUCCESS) {
    entry.setString(u"CLSID", identifier);
    entry.setString(u"Description", description);
  }
  return created;
}

uint32_t unregisterAsioDriver(const platform::CLSID& clsid, const char16_t* keyName) {
  RegistryKey classes;
  if (RegistryKey::open(RegistryHive::ClassesRoot, kClassesKey, platform::KEY_ALL_ACCESS, classes) ==
      platform::ERROR_SUCCESS) {
    // With its InprocServer32 subkey: a class key left behind would still load the driver.
    classes.deleteSubTree(identifierText(clsid));
  }
  deleteAsioEntry(keyName);
  return platform::ERROR_SUCCESS;
}

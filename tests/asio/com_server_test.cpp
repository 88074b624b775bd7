// The in-process server as hosts meet it: the module's exported functions,
// its class factory, aggregation, the unload rule, registration, and object
// creation through the class registry by the platform's loader.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "asio/asio_driver.h"
#include "platform/asio/asio_interface.h"
#include "platform/com/in_process_server.h"
#include "platform/registry.h"
#include "tests/support/test_system_root.h"

using platform::HRESULT;
using platform::RegistryHive;
using platform::RegistryKey;

namespace {

constexpr char16_t kClassKey[] = u"CLSID\\{F8DA6A5E-E27D-473D-ABD5-4ABC76B21CEF}";
constexpr char16_t kServerKey[] = u"CLSID\\{F8DA6A5E-E27D-473D-ABD5-4ABC76B21CEF}\\InprocServer32";
constexpr char16_t kAsioEntry[] = u"SOFTWARE\\ASIO\\SorvikUSB ASIO";
constexpr platform::IID kOtherInterface{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// The driver module loaded by path, with its exported functions.
class ServerModule {
 public:
  explicit ServerModule(const std::string& path = WN_ASIO_MODULE) : library_(::dlopen(path.c_str(), RTLD_NOW)) {
    if (library_ == nullptr) return;
    getClassObject = reinterpret_cast<platform::DllGetClassObjectFunction>(::dlsym(library_, "DllGetClassObject"));
    canUnloadNow = reinterpret_cast<platform::DllCanUnloadNowFunction>(::dlsym(library_, "DllCanUnloadNow"));
    registerServer = reinterpret_cast<platform::DllRegisterServerFunction>(::dlsym(library_, "DllRegisterServer"));
    unregisterServer =
        reinterpret_cast<platform::DllUnregisterServerFunction>(::dlsym(library_, "DllUnregisterServer"));
  }
  ~ServerModule() {
    if (library_ != nullptr) ::dlclose(library_);
  }
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  bool loaded() const { return library_ != nullptr && getClassObject != nullptr; }

  platform::IClassFactory* factory() {
    void* object = nullptr;
    EXPECT_EQ(getClassObject(CLSID_SorvikUsbAsio, platform::IID_IClassFactory, &object), platform::S_OK);
    return static_cast<platform::IClassFactory*>(object);
  }

  // A driver object from the module's factory; null on failure.
  IASIO* createDriver() {
    platform::IClassFactory* classFactory = factory();
    if (classFactory == nullptr) return nullptr;
    IASIO* driver = nullptr;
    EXPECT_EQ(classFactory->CreateInstance(nullptr, CLSID_SorvikUsbAsio, reinterpret_cast<void**>(&driver)),
              platform::S_OK);
    classFactory->Release();
    return driver;
  }

  platform::DllGetClassObjectFunction getClassObject = nullptr;
  platform::DllCanUnloadNowFunction canUnloadNow = nullptr;
  platform::DllRegisterServerFunction registerServer = nullptr;
  platform::DllUnregisterServerFunction unregisterServer = nullptr;

 private:
  void* library_;
};

bool isLoaded(const std::string& path) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return false;
  ::dlclose(library);
  return true;
}

std::u16string stringValue(RegistryHive hive, std::u16string_view path, std::u16string_view name) {
  RegistryKey key;
  std::u16string value;
  if (RegistryKey::open(hive, path, platform::KEY_READ, key) != 0 || key.getString(name, value) != 0) return u"<none>";
  return value;
}

void setStringValue(RegistryHive hive, std::u16string_view path, std::u16string_view name, std::u16string_view value) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::create(hive, path, platform::KEY_ALL_ACCESS, key), 0u);
  ASSERT_EQ(key.setString(name, value), 0u);
}

class ComServer : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::freeUnusedLibraries();
    platform::closeRegistry();
  }

  testing_support::TestSystemRoot root;
};

TEST_F(ComServer, ClassObjectsOnlyForTheKnownClassAndFactoryInterfaces) {
  ServerModule module;
  ASSERT_TRUE(module.loaded());
  void* object = &object;
  EXPECT_EQ(module.getClassObject(kOtherInterface, platform::IID_IClassFactory, &object),
            platform::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(module.getClassObject(CLSID_SorvikUsbAsio, kOtherInterface, &object), platform::E_NOINTERFACE);
  EXPECT_EQ(module.getClassObject(CLSID_SorvikUsbAsio, CLSID_SorvikUsbAsio, &object), platform::E_NOINTERFACE);
  EXPECT_EQ(module.getClassObject(CLSID_SorvikUsbAsio, platform::IID_IUnknown, nullptr), platform::E_POINTER);
  ASSERT_EQ(module.getClassObject(CLSID_SorvikUsbAsio, platform::IID_IUnknown, &object), platform::S_OK);
  static_cast<platform::IUnknown*>(object)->Release();

  platform::IClassFactory* factory = module.factory();
  ASSERT_NE(factory, nullptr);
  void* again = nullptr;
  EXPECT_EQ(factory->QueryInterface(platform::IID_IUnknown, nullptr), platform::E_POINTER);
  EXPECT_EQ(factory->QueryInterface(kOtherInterface, &again), platform::E_NOINTERFACE);
  ASSERT_EQ(factory->QueryInterface(platform::IID_IClassFactory, &again), platform::S_OK);
  EXPECT_EQ(again, factory);
  EXPECT_EQ(factory->Release(), 1u);
  EXPECT_EQ(factory->CreateInstance(nullptr, CLSID_SorvikUsbAsio, nullptr), platform::E_POINTER);
  EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ComServer, TheModuleMayUnloadOnlyWithoutObjectsAndLocks) {
  ServerModule module;
  ASSERT_TRUE(module.loaded());
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
  platform::IClassFactory* factory = module.factory();
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);  // a factory is no object

  IASIO* driver = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, CLSID_SorvikUsbAsio, reinterpret_cast<void**>(&driver)), platform::S_OK);
  EXPECT_EQ(module.canUnloadNow(), platform::S_FALSE);
  EXPECT_EQ(driver->AddRef(), 2u);
  EXPECT_EQ(driver->Release(), 1u);
  EXPECT_EQ(module.canUnloadNow(), platform::S_FALSE);
  EXPECT_EQ(driver->Release(), 0u);
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);

  ASSERT_EQ(factory->LockServer(1), platform::S_OK);
  EXPECT_EQ(module.canUnloadNow(), platform::S_FALSE);
  ASSERT_EQ(factory->LockServer(0), platform::S_OK);
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);

  // An interface the object does not have: the object is gone again at once.
  void* object = &object;
  EXPECT_EQ(factory->CreateInstance(nullptr, kOtherInterface, &object), platform::E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
  factory->Release();
}

// An object that aggregates the driver: it hands out the driver's IASIO as its
// own and counts the references the driver forwards to it.
class Outer final : public platform::IUnknown {
 public:
  HRESULT QueryInterface(const platform::IID& iid, void** object) override {
    if (iid == platform::IID_IUnknown) {
      *object = this;
      AddRef();
      return platform::S_OK;
    }
    return inner->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return ++references; }
  uint32_t Release() override { return --references; }

  uint32_t references = 1;
  platform::IUnknown* inner = nullptr;  // the driver's non-delegating IUnknown
};

TEST_F(ComServer, AnAggregatedDriverForwardsItsIdentityToTheOuterObject) {
  ServerModule module;
  ASSERT_TRUE(module.loaded());
  platform::IClassFactory* factory = module.factory();
  Outer outer;
  void* object = &object;
  EXPECT_EQ(factory->CreateInstance(&outer, CLSID_SorvikUsbAsio, &object), platform::E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);

  ASSERT_EQ(factory->CreateInstance(&outer, platform::IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
            platform::S_OK);
  factory->Release();
  EXPECT_EQ(outer.references, 1u);  // the inner object's own count holds the outer's reference

  IASIO* driver = nullptr;
  ASSERT_EQ(outer.QueryInterface(CLSID_SorvikUsbAsio, reinterpret_cast<void**>(&driver)), platform::S_OK);
  EXPECT_EQ(outer.references, 2u);  // added through the controlling object
  char name[32];
  driver->getDriverName(name);
  EXPECT_STREQ(name, "SorvikUSB ASIO Driver");
  platform::IUnknown* identity = nullptr;
  ASSERT_EQ(driver->QueryInterface(platform::IID_IUnknown, reinterpret_cast<void**>(&identity)), platform::S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(outer.references, 3u);
  driver->Release();
  identity->Release();
  EXPECT_EQ(outer.references, 1u);
  EXPECT_EQ(module.canUnloadNow(), platform::S_FALSE);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
}

// The table of operations a host compiled against the published interface
// calls, written out slot by slot.
struct IasioTable {
  void* queryInterface;
  uint32_t (*addRef)(void*);
  uint32_t (*release)(void*);
  ASIOBool (*init)(void*, void*);
  void (*getDriverName)(void*, char*);
  int32_t (*getDriverVersion)(void*);
  void (*getErrorMessage)(void*, char*);
  ASIOError (*start)(void*);
  ASIOError (*stop)(void*);
  ASIOError (*getChannels)(void*, int32_t*, int32_t*);
  void* between[12];
  ASIOError (*outputReady)(void*);
};

TEST_F(ComServer, CreatedByClassIdThroughTheRegistryAndLetGoWhenUnused) {
  void* object = &object;
  EXPECT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  {
    ServerModule module;
    ASSERT_EQ(module.registerServer(), platform::S_OK);
  }
  ASSERT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::S_OK);
  EXPECT_EQ(platform::loadedServerCount(), 1u);
  EXPECT_TRUE(isLoaded(WN_ASIO_MODULE));

  // Called as a host compiled against the published slot order calls it.
  const IasioTable* table = *static_cast<IasioTable* const*>(object);
  char name[32] = {};
  table->getDriverName(object, name);
  EXPECT_STREQ(name, "SorvikUSB ASIO Driver");
  EXPECT_EQ(table->getDriverVersion(object), 291);
  EXPECT_EQ(table->outputReady(object), ASE_NotPresent);
  int32_t inputs = -1, outputs = -1;
  EXPECT_EQ(table->getChannels(object, &inputs, &outputs), ASE_NotPresent);  // not initialised
  EXPECT_EQ(table->addRef(object), 2u);
  EXPECT_EQ(table->release(object), 1u);

  platform::freeUnusedLibraries();
  EXPECT_EQ(platform::loadedServerCount(), 1u);  // the driver object still lives
  EXPECT_EQ(table->release(object), 0u);
  platform::freeUnusedLibraries();
  EXPECT_EQ(platform::loadedServerCount(), 0u);  // let go; whether it stays mapped is the module's affair
}

TEST_F(ComServer, ALibraryThatIsMissingOrNoServerIsReported) {
  setStringValue(RegistryHive::ClassesRoot, kServerKey, u"", (root.path() / "missing.so").u16string());
  void* object = nullptr;
  EXPECT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::hresultFromWin32(126));
  setStringValue(RegistryHive::ClassesRoot, kServerKey, u"", std::u16string(u"libc.so.6"));
  EXPECT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::hresultFromWin32(127));
  EXPECT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, 0x4, CLSID_SorvikUsbAsio, &object),
            platform::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(platform::loadedServerCount(), 0u);
}

TEST_F(ComServer, RegisteringTwiceWritesTheClassKeyOnceAndTheAsioEntryEachTime) {
  ServerModule module;
  ASSERT_EQ(module.registerServer(), platform::S_OK);
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kClassKey, u""), u"SorvikUSB ASIO Driver");
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kServerKey, u""), std::filesystem::path(WN_ASIO_MODULE).u16string());
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kServerKey, u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(stringValue(RegistryHive::LocalMachine, kAsioEntry, u"CLSID"), u"{F8DA6A5E-E27D-473D-ABD5-4ABC76B21CEF}");
  EXPECT_EQ(stringValue(RegistryHive::LocalMachine, kAsioEntry, u"Description"), u"SorvikUSB ASIO Driver");

  setStringValue(RegistryHive::ClassesRoot, kServerKey, u"ThreadingModel", u"Both");
  setStringValue(RegistryHive::LocalMachine, kAsioEntry, u"Description", u"changed");
  setStringValue(RegistryHive::LocalMachine, kAsioEntry, u"Extra", u"left by someone");
  ASSERT_EQ(module.registerServer(), platform::S_OK);
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kServerKey, u"ThreadingModel"), u"Both");
  EXPECT_EQ(stringValue(RegistryHive::LocalMachine, kAsioEntry, u"Description"), u"SorvikUSB ASIO Driver");
  EXPECT_EQ(stringValue(RegistryHive::LocalMachine, kAsioEntry, u"Extra"), u"<none>");
}

TEST_F(ComServer, RegisteringFromANewPathRewritesTheClassKeysValues) {
  {
    ServerModule module;
    ASSERT_EQ(module.registerServer(), platform::S_OK);
  }
  setStringValue(RegistryHive::ClassesRoot, kClassKey, u"Extra", u"kept: the old class key cannot be deleted");
  setStringValue(RegistryHive::ClassesRoot, kServerKey, u"ThreadingModel", u"Both");
  const std::filesystem::path moved = root.path() / "Moved Driver" / "sorvikusbasio_x64.so";
  std::filesystem::create_directories(moved.parent_path());
  std::filesystem::copy_file(WN_ASIO_MODULE, moved);
  {
    ServerModule module(moved.string());
    ASSERT_TRUE(module.loaded());
    ASSERT_EQ(module.registerServer(), platform::S_OK);
  }
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kServerKey, u""), moved.u16string());
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kServerKey, u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(stringValue(RegistryHive::ClassesRoot, kClassKey, u"Extra"), u"kept: the old class key cannot be deleted");

  void* object = nullptr;
  ASSERT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::S_OK);
  EXPECT_TRUE(isLoaded(moved.string()));
  static_cast<IASIO*>(object)->Release();
}

TEST_F(ComServer, UnregisteringRemovesTheClassAndTheAsioEntry) {
  ServerModule module;
  ASSERT_EQ(module.registerServer(), platform::S_OK);
  ASSERT_EQ(module.unregisterServer(), platform::S_OK);
  RegistryKey key;
  EXPECT_EQ(RegistryKey::open(RegistryHive::ClassesRoot, kClassKey, platform::KEY_READ, key), 2u);
  EXPECT_EQ(RegistryKey::open(RegistryHive::LocalMachine, kAsioEntry, platform::KEY_READ, key), 2u);
  void* object = nullptr;
  EXPECT_EQ(platform::createInstance(CLSID_SorvikUsbAsio, nullptr, platform::CLSCTX_INPROC_SERVER, CLSID_SorvikUsbAsio,
                                     &object),
            platform::REGDB_E_CLASSNOTREG);
  EXPECT_EQ(module.unregisterServer(), platform::S_OK);  // nothing left to remove
}

TEST_F(ComServer, TheControlPanelStartsFromTheDriversDirectory) {
  const std::filesystem::path directory = root.path() / "Driver Folder";
  std::filesystem::create_directories(directory);
  std::filesystem::copy_file(WN_ASIO_MODULE, directory / "sorvikusbasio_x64.so");
  const std::filesystem::path panel = directory / "orvanecpl";
  std::ofstream(panel) << "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/started.tmp\"\n"
                          "mv \"$(dirname \"$0\")/started.tmp\" \"$(dirname \"$0\")/started\"\n";
  std::filesystem::permissions(panel, std::filesystem::perms::owner_all);

  ServerModule module((directory / "sorvikusbasio_x64.so").string());
  ASSERT_TRUE(module.loaded());
  IASIO* driver = module.createDriver();
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(driver->controlPanel(), ASE_OK);
  const std::filesystem::path started = directory / "started";
  for (int i = 0; i < 500 && !std::filesystem::exists(started); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream arguments(started);
  std::string line;
  std::getline(arguments, line);
  EXPECT_EQ(line, "-asio");

  // Without the program the host still hears of no failure.
  std::filesystem::remove(panel);
  EXPECT_EQ(driver->controlPanel(), ASE_OK);
  driver->Release();
  // The thread that collects the started program runs the module's code: the
  // module stays loaded for the rest of the process.
  EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
}

TEST_F(ComServer, AModuleUnloadsUnlessItsPlatformStateMustLiveOn) {
  const std::filesystem::path copy = root.path() / "sorvikusbasio_x64.so";
  std::filesystem::copy_file(WN_ASIO_MODULE, copy);
  {
    ServerModule module(copy.string());
    ASSERT_EQ(module.registerServer(), platform::S_OK);
    EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
  }
  EXPECT_FALSE(isLoaded(copy.string()));

  // A driver object makes handles, and the control panel's start leaves a
  // thread that collects the program: tables and a thread that live until
  // the process ends, reached through the module, which therefore stays.
  std::ofstream(root.path() / "orvanecpl") << "#!/bin/sh\nsleep 0.2\n";
  std::filesystem::permissions(root.path() / "orvanecpl", std::filesystem::perms::owner_all);
  {
    ServerModule module(copy.string());
    IASIO* driver = module.createDriver();
    ASSERT_NE(driver, nullptr);
    driver->controlPanel();
    driver->Release();
    EXPECT_EQ(module.canUnloadNow(), platform::S_OK);
  }
  EXPECT_TRUE(isLoaded(copy.string()));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the thread wakes in the module's code
}

}  // namespace

#pragma once
// The registry of the emulated machine: hives of keys with typed values,
// stored in one SQLite database under the system root (<root>/registry.db)
// so that several processes read and write it at once.
//
// Key names are case-insensitive and keep the case they were created with;
// paths separate key names with a backslash. Every function returns a system
// error code (0 on success) and never throws; none of them sets the last error.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegistryHive { LocalMachine, CurrentUser, ClassesRoot };

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Access rights of an open key.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = KEY_READ | KEY_WRITE;

// Returned when the database itself cannot be read or written.
// The longest key name (one path component) and value name, in UTF-16 units;
// longer ones are refused with ERROR_INVALID_PARAMETER.
inline constexpr size_t kRegistryMaxKeyNameLength = 255;
inline constexpr size_t kRegistryMaxValueNameLength = 16383;
inline constexpr uint32_t ERROR_REGISTRY_IO_FAILED = 1016;

// An open registry key. Closing it (destructor, close(), moving over it)
// never touches the stored key. A key deleted while open stays a valid object
// whose operations return ERROR_KEY_DELETED.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() = default;
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool isOpen() const { return id_ != 0; }
  uint32_t access() const { return access_; }
  void close();

  // Opens hive\path (an empty path opens the hive's root key).
  // ERROR_FILE_NOT_FOUND when a key on the path is missing.
  static uint32_t open(RegistryHive hive, std::u16string_view path, uint32_t access, RegistryKey& out);
  // Opens hive\path, creating it and any missing keys above it. `existed`
  // (optional) tells whether the key was there before.
  static uint32_t create(RegistryHive hive, std::u16string_view path, uint32_t access, RegistryKey& out,
                         bool* existed = nullptr);

  // The same relative to this key. Creating a key needs KEY_CREATE_SUB_KEY here.
  uint32_t openSubKey(std::u16string_view path, uint32_t access, RegistryKey& out) const;
  uint32_t createSubKey(std::u16string_view path, uint32_t access, RegistryKey& out, bool* existed = nullptr) const;

  // Reads a value (the empty name is the key's default value). `type` and
  // `data` may be null; `size` holds the buffer size on entry and the value's
  // size on return. A null `data` only asks for the size; a buffer that is too
  // short gives ERROR_MORE_DATA. Needs KEY_QUERY_VALUE.
  uint32_t queryValue(std::u16string_view name, uint32_t* type, void* data, uint32_t* size) const;
  // Writes a value as raw bytes. REG_DWORD needs 4 bytes and REG_QWORD 8.
  // Needs KEY_SET_VALUE.
  uint32_t setValue(std::u16string_view name, uint32_t type, const void* data, uint32_t size) const;
  uint32_t deleteValue(std::u16string_view name) const;

  // Typed access. A getter gives ERROR_INVALID_DATA when the stored value has
  // another type or shape. Strings are stored as UTF-16LE with a terminator;
  // a multi-string as its items, each terminated, then one more terminator
  // (items must not be empty).
  uint32_t getDword(std::u16string_view name, uint32_t& value) const;
  uint32_t getQword(std::u16string_view name, uint64_t& value) const;
  uint32_t getString(std::u16string_view name, std::u16string& value) const;  // REG_SZ or REG_EXPAND_SZ
  uint32_t getMultiString(std::u16string_view name, std::vector<std::u16string>& value) const;
  uint32_t getBinary(std::u16string_view name, std::vector<uint8_t>& value) const;  // any type, raw bytes
  uint32_t setDword(std::u16string_view name, uint32_t value) const;
  uint32_t setQword(std::u16string_view name, uint64_t value) const;
  uint32_t setString(std::u16string_view name, std::u16string_view value, uint32_t type = REG_SZ) const;
  uint32_t setMultiString(std::u16string_view name, const std::vector<std::u16string>& value) const;
  uint32_t setBinary(std::u16string_view name, const std::vector<uint8_t>& value) const;

  // Enumeration by index in the order of the folded names; ERROR_NO_MORE_ITEMS
  // past the end. Subkeys need KEY_ENUMERATE_SUB_KEYS, values KEY_QUERY_VALUE.
  uint32_t enumSubKey(uint32_t index, std::u16string& name) const;
  uint32_t enumValue(uint32_t index, std::u16string& name, uint32_t* type = nullptr,
                     std::vector<uint8_t>* data = nullptr) const;
  uint32_t queryInfo(uint32_t* subKeyCount, uint32_t* valueCount) const;

  // Deletes the key at `path` below this one: ERROR_ACCESS_DENIED when it has
  // subkeys, ERROR_FILE_NOT_FOUND when it is missing. deleteTree removes the
  // key with everything below it.
  uint32_t deleteSubKey(std::u16string_view path) const;
  uint32_t deleteSubTree(std::u16string_view path) const;

  static uint32_t deleteKey(RegistryHive hive, std::u16string_view path);
  static uint32_t deleteTree(RegistryHive hive, std::u16string_view path);

 private:
  RegistryKey(int64_t id, uint32_t access) : id_(id), access_(access) {}
  friend struct RegistryKeyAccess;

  int64_t id_ = 0;
  uint32_t access_ = 0;
};

// Runs `body` as one transaction: the registry changes it makes (through any
// RegistryKey of this process, on this thread) take effect together when it
// returns 0 and not at all otherwise. Other threads of the process wait until
// it ends. Returns the body's result, or the error that stopped the commit.
uint32_t runRegistryBatch(const std::function<uint32_t()>& body);

// Closes this process's database connection. The next registry call opens it
// again, under the system root current at that time.
void closeRegistry();

// The hive's full name ("HKEY_LOCAL_MACHINE", ...).
std::u16string_view registryHiveName(RegistryHive hive);

// Byte forms of registry data: little-endian integers of 1 to 8 bytes, and
// UTF-16LE strings with their terminator (a multi-string ends with one more).
void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes);
uint64_t readLittleEndian(const std::vector<uint8_t>& data);
std::vector<uint8_t> encodeRegistryString(std::u16string_view text);
std::vector<uint8_t> encodeRegistryMultiString(const std::vector<std::u16string>& items);

}  // namespace platform

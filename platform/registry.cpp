#include "platform/registry.h"
#include "platform/user_rights.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/errors.h"
#include "platform/system_root.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform {

// Builds and reads RegistryKey objects for the functions of this file.
struct RegistryKeyAccess {
  static RegistryKey make(int64_t id, uint32_t access) { return RegistryKey(id, access); }
  static int64_t id(const RegistryKey& key) { return key.id_; }
};

namespace {

// A writer waits this long for another process's transaction to end.
constexpr int kBusyTimeoutMs = 10000;
constexpr uint32_t kFullAccess = 0xFFFFFFFF;

// Keys form a tree: the three hive roots have fixed ids and no parent. Ids
// are never reused (AUTOINCREMENT), so a key deleted under an open
// RegistryKey can never be mistaken for a key created later. Deleting a key
// deletes its values and subkeys through the foreign keys; writing under a
// deleted key fails on them, which is how ERROR_KEY_DELETED is detected on
// writes without an extra look-up.
//
// Durability: WAL with synchronous=NORMAL. A commit has been written into the
// WAL file before it returns, so a change whose call succeeded survives the
// death of the writing process (kill -9 included); only a power loss or an
// operating system crash can lose the last commits, never corrupt the file.
// FULL would add an fsync to every write for that case alone.
constexpr const char* kSetupSql = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
PRAGMA foreign_keys=ON;
BEGIN IMMEDIATE;
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, folded)) WITHOUT ROWID;
INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES
  (1, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),
  (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user'),
  (3, NULL, 'HKEY_CLASSES_ROOT', 'hkey_classes_root');
COMMIT;
)sql";

enum Statement {
  kFindChild,
  kInsertKey,
  kKeyExists,
  kChildCount,
  kDeleteKey,
  kEnumChild,
  kQueryValue,
  kSetValue,
  kDeleteValue,
  kEnumValue,
  kValueCount,
  kBegin,
  kCommit,
  kRollback,
  kSavepoint,
  kRelease,
  kRollbackTo,
  kParentOf,
  kStatementCount
};

constexpr std::array<const char*, kStatementCount> kStatementSql = {
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT count(*) FROM keys WHERE parent = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2",
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT count(*) FROM vals WHERE key = ?1",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT registry_operation",
    "RELEASE registry_operation",
    "ROLLBACK TO registry_operation",
    "SELECT parent FROM keys WHERE id = ?1",
};

uint32_t errorFromSqlite(int rc) {
  if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) return ERROR_KEY_DELETED;
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_TIMEOUT;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_PERM:
    case SQLITE_READONLY:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// SQLite's own file layer refuses database paths longer than 512 bytes, and a
// system root may be far longer. The database is therefore opened through the
// root directory's descriptor, "/proc/self/fd/N/registry.db", a short path
// whatever the root's length. This layer is SQLite's unix one except that it
// keeps such a path as it is instead of resolving the link back into the long
// one. Locks, the WAL and its index belong to the file (its inode), so other
// processes that name the same file differently share them as usual.
//
// Each copy of this code in a process (a driver module keeps its own) registers
// its layer under a name of its own and withdraws it when it is unloaded, so
// that no connection ever uses a layer whose code has gone.
constexpr std::string_view kDescriptorPrefix = "/proc/self/fd/";

sqlite3_vfs* gUnixVfs = nullptr;

int fullPathnameKeepingDescriptorPaths(sqlite3_vfs* vfs, const char* path, int size, char* out) {
  if (std::string_view(path).substr(0, kDescriptorPrefix.size()) == kDescriptorPrefix) {
    if (std::strlen(path) >= static_cast<size_t>(size)) return SQLITE_CANTOPEN;
    std::strcpy(out, path);
    return SQLITE_OK;
  }
  return gUnixVfs->xFullPathname(vfs, path, size, out);
}

class RegistryVfs {
 public:
  RegistryVfs() {
    gUnixVfs = sqlite3_vfs_find("unix");
    if (gUnixVfs == nullptr) return;
    name_ = "wn-registry-" + std::to_string(reinterpret_cast<uintptr_t>(this));
    vfs_ = *gUnixVfs;
    vfs_.zName = name_.c_str();
    vfs_.pNext = nullptr;
    vfs_.xFullPathname = fullPathnameKeepingDescriptorPaths;
    registered_ = sqlite3_vfs_register(&vfs_, 0) == SQLITE_OK;
  }
  ~RegistryVfs() {
    if (registered_) sqlite3_vfs_unregister(&vfs_);
  }
  RegistryVfs(const RegistryVfs&) = delete;
  RegistryVfs& operator=(const RegistryVfs&) = delete;

  // The layer's name, or null when it could not be registered.
  const char* name() const { return registered_ ? name_.c_str() : nullptr; }

 private:
  std::string name_;
  sqlite3_vfs vfs_{};
  bool registered_ = false;
};

const char* registryVfsName() {
  static const RegistryVfs vfs;
  return vfs.name();
}

struct Connection {
  sqlite3* db = nullptr;
  std::filesystem::path root;
  UniqueFd rootFd;  // the directory the database is opened through
  pid_t pid = 0;
  std::array<sqlite3_stmt*, kStatementCount> statements{};

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
    sqlite3_close(db);
  }
};

std::recursive_mutex gMutex;
std::unique_ptr<Connection> gConnection;
int gBatchDepth = 0;

// Switches the database to WAL and creates the tables. Two processes that do
// this at once on a new file can each hold the lock the other one needs; SQLite
// then fails one of them at once without waiting, so that one tries again.
int runSetup(sqlite3* db) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    const int rc = sqlite3_exec(db, kSetupSql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return rc;
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

uint32_t openConnection(const std::filesystem::path& root, std::unique_ptr<Connection>& out) {
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  if (ec) return errorFromErrno(ec.value());
  const char* vfs = registryVfsName();
  if (vfs == nullptr) return ERROR_REGISTRY_IO_FAILED;
  auto connection = std::make_unique<Connection>();
  connection->root = root;
  connection->pid = ::getpid();
  connection->rootFd.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!connection->rootFd.valid()) return errorFromErrno(errno);
  const std::string file = std::string(kDescriptorPrefix) + std::to_string(connection->rootFd.get()) + "/registry.db";
  int rc = sqlite3_open_v2(file.c_str(), &connection->db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, vfs);
  if (rc != SQLITE_OK) return errorFromSqlite(rc);
  sqlite3_extended_result_codes(connection->db, 1);
  sqlite3_busy_timeout(connection->db, kBusyTimeoutMs);
  if (rc = runSetup(connection->db); rc != SQLITE_OK) return errorFromSqlite(rc);
  for (size_t i = 0; i < kStatementCount; ++i) {
    rc = sqlite3_prepare_v3(connection->db, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                            &connection->statements[i], nullptr);
    if (rc != SQLITE_OK) return errorFromSqlite(rc);
  }
  out = std::move(connection);
  return ERROR_SUCCESS;
}

// Makes gConnection usable for the current system root; the caller holds gMutex.
uint32_t ensureConnection() {
  if (gConnection && gConnection->pid != ::getpid()) {
    // Inherited through fork: SQLite connections must not cross a fork, not
    // even to be closed, so the child abandons its copy.
    static_cast<void>(gConnection.release());
  }
  if (gConnection && gBatchDepth > 0) return ERROR_SUCCESS;
  const std::filesystem::path root = systemRoot();
  if (gConnection && gConnection->root == root) return ERROR_SUCCESS;
  gConnection.reset();
  return openConnection(root, gConnection);
}

// Holds the process's registry lock and its connection for one operation.
class Session {
 public:
  Session() : lock_(gMutex), error_(ensureConnection()) {}
  uint32_t error() const { return error_; }
  Connection& connection() const { return *gConnection; }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  uint32_t error_;
};

// One use of a prepared statement; resets it when done.
class Query {
 public:
  Query(const Connection& connection, Statement statement) : statement_(connection.statements[statement]) {}
  ~Query() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  Query& bind(int index, int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Query& bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return *this;
  }
  Query& bindBlob(int index, const void* data, uint32_t size) {
    if (size == 0) {
      sqlite3_bind_zeroblob(statement_, index, 0);
    } else {
      sqlite3_bind_blob(statement_, index, data, static_cast<int>(size), SQLITE_STATIC);
    }
    return *this;
  }
  int step() { return sqlite3_step(statement_); }
  int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  std::u16string text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return toWide(std::string_view(bytes == nullptr ? "" : bytes, static_cast<size_t>(size)));
  }
  std::string_view blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    if (bytes == nullptr) return {};
    return std::string_view(bytes, static_cast<size_t>(size));
  }

 private:
  sqlite3_stmt* statement_;
};

uint32_t runStatement(const Connection& connection, Statement statement) {
  Query query(connection, statement);
  return errorFromSqlite(query.step());
}

// A write of more than one row: a transaction of its own, or a savepoint
// inside a transaction that is already running (a batch). Rolls back unless
// committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(const Connection& connection)
      : connection_(connection), nested_(sqlite3_get_autocommit(connection.db) == 0) {
    error_ = runStatement(connection_, nested_ ? kSavepoint : kBegin);
    open_ = error_ == ERROR_SUCCESS;
  }
  ~WriteTransaction() {
    if (!open_) return;
    if (nested_) {
      runStatement(connection_, kRollbackTo);
      runStatement(connection_, kRelease);
    } else {
      runStatement(connection_, kRollback);
    }
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  uint32_t error() const { return error_; }
  uint32_t commit() {
    const uint32_t result = runStatement(connection_, nested_ ? kRelease : kCommit);
    if (result == ERROR_SUCCESS) open_ = false;
    return result;
  }

 private:
  const Connection& connection_;
  bool nested_;
  bool open_ = false;
  uint32_t error_ = ERROR_SUCCESS;
};

std::string foldedUtf8(std::u16string_view name) { return toUtf8(foldCase(name)); }

int64_t hiveRootId(RegistryHive hive) {
  switch (hive) {
    case RegistryHive::LocalMachine:
      return 1;
    case RegistryHive::CurrentUser:
      return 2;
    case RegistryHive::ClassesRoot:
      return 3;
  }
  return 0;
}

bool isHiveRoot(int64_t id) { return id >= 1 && id <= 3; }

uint32_t splitPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
  if (path.empty()) return ERROR_SUCCESS;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(u'\\', start);
    const std::u16string_view part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
    if (part.empty() || part.size() > kRegistryMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts.push_back(part);
    if (end == std::u16string_view::npos) return ERROR_SUCCESS;
    start = end + 1;
  }
}

// ERROR_SUCCESS when the key is there, ERROR_KEY_DELETED when it is gone.
uint32_t checkKey(const Connection& connection, int64_t id) {
  Query query(connection, kKeyExists);
  const int rc = query.bind(1, id).step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return errorFromSqlite(rc);
}

// The key's result for "nothing found": ERROR_KEY_DELETED when the key itself
// is gone, `missing` otherwise.
uint32_t notFound(const Connection& connection, int64_t id, uint32_t missing) {
  const uint32_t state = checkKey(connection, id);
  return state == ERROR_SUCCESS ? missing : state;
}

uint32_t findChild(const Connection& connection, int64_t parent, std::u16string_view name, int64_t& child) {
  const std::string folded = foldedUtf8(name);
  Query query(connection, kFindChild);
  const int rc = query.bind(1, parent).bind(2, folded).step();
  if (rc == SQLITE_ROW) {
    child = query.integer(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : errorFromSqlite(rc);
}

uint32_t insertKey(const Connection& connection, int64_t parent, std::u16string_view name, int64_t& child) {
  const std::string text = toUtf8(name);
  const std::string folded = foldedUtf8(name);
  Query query(connection, kInsertKey);
  const int rc = query.bind(1, parent).bind(2, text).bind(3, folded).step();
  if (rc != SQLITE_DONE) return errorFromSqlite(rc);
  child = sqlite3_last_insert_rowid(connection.db);
  return ERROR_SUCCESS;
}

// Follows `parts` down from `start`.
uint32_t resolve(const Connection& connection, int64_t start, const std::vector<std::u16string_view>& parts,
                 int64_t& id) {
  id = start;
  for (const std::u16string_view part : parts) {
    const uint32_t result = findChild(connection, id, part, id);
    if (result == ERROR_FILE_NOT_FOUND) return notFound(connection, start, ERROR_FILE_NOT_FOUND);
    if (result != ERROR_SUCCESS) return result;
  }
  return parts.empty() ? checkKey(connection, start) : ERROR_SUCCESS;
}

uint32_t openKey(int64_t start, std::u16string_view path, uint32_t access, RegistryKey& out) {
  std::vector<std::u16string_view> parts;
  if (const uint32_t result = splitPath(path, parts); result != ERROR_SUCCESS) return result;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  int64_t id = 0;
  if (const uint32_t result = resolve(session.connection(), start, parts, id); result != ERROR_SUCCESS) return result;
  out = RegistryKeyAccess::make(id, access);
  return ERROR_SUCCESS;
}

uint32_t createKey(int64_t start, uint32_t startAccess, std::u16string_view path, uint32_t access,
                   RegistryKey& out, bool* existed) {
  std::vector<std::u16string_view> parts;
  if (const uint32_t result = splitPath(path, parts); result != ERROR_SUCCESS) return result;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  const Connection& connection = session.connection();
  int64_t id = 0;
  uint32_t result = resolve(connection, start, parts, id);
  if (result == ERROR_SUCCESS) {
    if (existed != nullptr) *existed = true;
    out = RegistryKeyAccess::make(id, access);
    return ERROR_SUCCESS;
  }
  if (result != ERROR_FILE_NOT_FOUND) return result;
  if ((startAccess & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;

  WriteTransaction transaction(connection);
  if (transaction.error() != ERROR_SUCCESS) return transaction.error();
  bool created = false;
  id = start;
  for (const std::u16string_view part : parts) {
    result = findChild(connection, id, part, id);
    if (result == ERROR_FILE_NOT_FOUND) {
      result = insertKey(connection, id, part, id);
      created = true;
    }
    if (result != ERROR_SUCCESS) return result;
  }
  if (result = transaction.commit(); result != ERROR_SUCCESS) return result;
  if (existed != nullptr) *existed = !created;
  out = RegistryKeyAccess::make(id, access);
  return ERROR_SUCCESS;
}

uint32_t deleteKeyAt(int64_t start, std::u16string_view path, bool withSubkeys) {
  std::vector<std::u16string_view> parts;
  if (const uint32_t result = splitPath(path, parts); result != ERROR_SUCCESS) return result;
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  const Connection& connection = session.connection();
  WriteTransaction transaction(connection);
  if (transaction.error() != ERROR_SUCCESS) return transaction.error();
  int64_t id = 0;
  if (const uint32_t result = resolve(connection, start, parts, id); result != ERROR_SUCCESS) return result;
  if (isHiveRoot(id)) return ERROR_ACCESS_DENIED;
  if (!withSubkeys) {
    Query count(connection, kChildCount);
    const int rc = count.bind(1, id).step();
    if (rc != SQLITE_ROW) return errorFromSqlite(rc);
    if (count.integer(0) > 0) return ERROR_ACCESS_DENIED;
  }
  {
    Query remove(connection, kDeleteKey);
    const int rc = remove.bind(1, id).step();
    if (rc != SQLITE_DONE) return errorFromSqlite(rc);
  }
  return transaction.commit();
}


std::u16string wideFromBytes(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

}  // namespace

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : id_(other.id_), access_(other.access_) {
  other.close();
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    id_ = other.id_;
    access_ = other.access_;
    other.close();
  }
  return *this;
}

void RegistryKey::close() {
  id_ = 0;
  access_ = 0;
}

// A standard user may read HKEY_LOCAL_MACHINE but not change it.
constexpr uint32_t kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

static bool writeRefused(RegistryHive hive, uint32_t access) {
  return hive == RegistryHive::LocalMachine && (access & kWriteBits) != 0 && !isAdministrator();
}

// Whether the key lies in HKEY_LOCAL_MACHINE (asked only for standard users).
static bool underLocalMachine(int64_t id) {
  Session session;
  if (session.error() != ERROR_SUCCESS) return false;
  for (int depth = 0; depth < 1024; ++depth) {
    if (id == hiveRootId(RegistryHive::LocalMachine)) return true;
    if (isHiveRoot(id)) return false;
    Query query(session.connection(), kParentOf);
    if (query.bind(1, id).step() != SQLITE_ROW) return false;
    id = query.integer(0);
  }
  return false;
}

static bool subKeyWriteRefused(int64_t id, uint32_t access) {
  return (access & kWriteBits) != 0 && !isAdministrator() && underLocalMachine(id);
}

uint32_t RegistryKey::open(RegistryHive hive, std::u16string_view path, uint32_t access, RegistryKey& out) {
  if (writeRefused(hive, access)) return ERROR_ACCESS_DENIED;
  return openKey(hiveRootId(hive), path, access, out);
}

uint32_t RegistryKey::create(RegistryHive hive, std::u16string_view path, uint32_t access, RegistryKey& out,
                             bool* existed) {
  if (writeRefused(hive, access)) return ERROR_ACCESS_DENIED;
  return createKey(hiveRootId(hive), kFullAccess, path, access, out, existed);
}

uint32_t RegistryKey::openSubKey(std::u16string_view path, uint32_t access, RegistryKey& out) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if (subKeyWriteRefused(id_, access)) return ERROR_ACCESS_DENIED;
  return openKey(id_, path, access, out);
}

uint32_t RegistryKey::createSubKey(std::u16string_view path, uint32_t access, RegistryKey& out,
                                   bool* existed) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if (subKeyWriteRefused(id_, access)) return ERROR_ACCESS_DENIED;
  return createKey(id_, access_, path, access, out, existed);
}

uint32_t RegistryKey::queryValue(std::u16string_view name, uint32_t* type, void* data, uint32_t* size) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string folded = foldedUtf8(name);
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  Query query(session.connection(), kQueryValue);
  const int rc = query.bind(1, id_).bind(2, folded).step();
  if (rc == SQLITE_DONE) return notFound(session.connection(), id_, ERROR_FILE_NOT_FOUND);
  if (rc != SQLITE_ROW) return errorFromSqlite(rc);
  if (type != nullptr) *type = static_cast<uint32_t>(query.integer(0));
  const std::string_view bytes = query.blob(1);
  const auto needed = static_cast<uint32_t>(bytes.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::setValue(std::u16string_view name, uint32_t type, const void* data, uint32_t size) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if ((type == REG_DWORD && size != 4) || (type == REG_QWORD && size != 8)) return ERROR_INVALID_PARAMETER;
  if (name.size() > kRegistryMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  const std::string text = toUtf8(name);
  const std::string folded = foldedUtf8(name);
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  Query query(session.connection(), kSetValue);
  query.bind(1, id_).bind(2, text).bind(3, folded).bind(4, static_cast<int64_t>(type)).bindBlob(5, data, size);
  const int rc = query.step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : errorFromSqlite(rc);
}

uint32_t RegistryKey::deleteValue(std::u16string_view name) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  const std::string folded = foldedUtf8(name);
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  Query query(session.connection(), kDeleteValue);
  const int rc = query.bind(1, id_).bind(2, folded).step();
  if (rc != SQLITE_DONE) return errorFromSqlite(rc);
  if (sqlite3_changes(session.connection().db) == 0) {
    return notFound(session.connection(), id_, ERROR_FILE_NOT_FOUND);
  }
  return ERROR_SUCCESS;
}

namespace {
// Reads a value with its type in one query.
uint32_t readValue(const RegistryKey& key, std::u16string_view name, uint32_t& type, std::vector<uint8_t>& data) {
  uint32_t size = 64;
  uint32_t result = ERROR_MORE_DATA;
  // The value may grow between two reads; read again with the size it has now.
  while (result == ERROR_MORE_DATA) {
    data.resize(size);
    result = key.queryValue(name, &type, data.data(), &size);
  }
  if (result == ERROR_SUCCESS) data.resize(size);
  return result;
}
}  // namespace

uint32_t RegistryKey::getBinary(std::u16string_view name, std::vector<uint8_t>& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (const uint32_t result = readValue(*this, name, type, data); result != ERROR_SUCCESS) return result;
  value = std::move(data);
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::getDword(std::u16string_view name, uint32_t& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (const uint32_t result = readValue(*this, name, type, data); result != ERROR_SUCCESS) return result;
  if (type != REG_DWORD || data.size() != 4) return ERROR_INVALID_DATA;
  value = static_cast<uint32_t>(readLittleEndian(data));
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::getQword(std::u16string_view name, uint64_t& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (const uint32_t result = readValue(*this, name, type, data); result != ERROR_SUCCESS) return result;
  if (type != REG_QWORD || data.size() != 8) return ERROR_INVALID_DATA;
  value = readLittleEndian(data);
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::getString(std::u16string_view name, std::u16string& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (const uint32_t result = readValue(*this, name, type, data); result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  std::u16string text = wideFromBytes(data.data(), data.size());
  // Stored data may lack the terminator (raw writes); stop at the first one.
  if (const size_t end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  value = std::move(text);
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::getMultiString(std::u16string_view name, std::vector<std::u16string>& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (const uint32_t result = readValue(*this, name, type, data); result != ERROR_SUCCESS) return result;
  if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
  const std::u16string text = wideFromBytes(data.data(), data.size());
  std::vector<std::u16string> items;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();
    if (end == start) break;  // the empty item that ends the list
    items.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  value = std::move(items);
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::setDword(std::u16string_view name, uint32_t value) const {
  std::vector<uint8_t> data;
  appendLittleEndian(data, value, 4);
  return setValue(name, REG_DWORD, data.data(), 4);
}

uint32_t RegistryKey::setQword(std::u16string_view name, uint64_t value) const {
  std::vector<uint8_t> data;
  appendLittleEndian(data, value, 8);
  return setValue(name, REG_QWORD, data.data(), 8);
}

uint32_t RegistryKey::setString(std::u16string_view name, std::u16string_view value, uint32_t type) const {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  const std::vector<uint8_t> data = encodeRegistryString(value);
  return setValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t RegistryKey::setMultiString(std::u16string_view name, const std::vector<std::u16string>& value) const {
  for (const std::u16string& item : value) {
    if (item.empty() || item.find(u'\0') != std::u16string::npos) return ERROR_INVALID_PARAMETER;
  }
  const std::vector<uint8_t> data = encodeRegistryMultiString(value);
  return setValue(name, REG_MULTI_SZ, data.data(), static_cast<uint32_t>(data.size()));
}

uint32_t RegistryKey::setBinary(std::u16string_view name, const std::vector<uint8_t>& value) const {
  return setValue(name, REG_BINARY, value.data(), static_cast<uint32_t>(value.size()));
}

uint32_t RegistryKey::enumSubKey(uint32_t index, std::u16string& name) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  Query query(session.connection(), kEnumChild);
  const int rc = query.bind(1, id_).bind(2, static_cast<int64_t>(index)).step();
  if (rc == SQLITE_DONE) return notFound(session.connection(), id_, ERROR_NO_MORE_ITEMS);
  if (rc != SQLITE_ROW) return errorFromSqlite(rc);
  name = query.text(0);
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::enumValue(uint32_t index, std::u16string& name, uint32_t* type,
                                std::vector<uint8_t>* data) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if ((access_ & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  Query query(session.connection(), kEnumValue);
  const int rc = query.bind(1, id_).bind(2, static_cast<int64_t>(index)).step();
  if (rc == SQLITE_DONE) return notFound(session.connection(), id_, ERROR_NO_MORE_ITEMS);
  if (rc != SQLITE_ROW) return errorFromSqlite(rc);
  name = query.text(0);
  if (type != nullptr) *type = static_cast<uint32_t>(query.integer(1));
  if (data != nullptr) {
    const std::string_view bytes = query.blob(2);
    data->assign(bytes.begin(), bytes.end());
  }
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::queryInfo(uint32_t* subKeyCount, uint32_t* valueCount) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  const Connection& connection = session.connection();
  if (const uint32_t state = checkKey(connection, id_); state != ERROR_SUCCESS) return state;
  const std::pair<Statement, uint32_t*> counts[] = {{kChildCount, subKeyCount}, {kValueCount, valueCount}};
  for (const auto& [statement, out] : counts) {
    if (out == nullptr) continue;
    Query query(connection, statement);
    const int rc = query.bind(1, id_).step();
    if (rc != SQLITE_ROW) return errorFromSqlite(rc);
    *out = static_cast<uint32_t>(query.integer(0));
  }
  return ERROR_SUCCESS;
}

uint32_t RegistryKey::deleteSubKey(std::u16string_view path) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if (subKeyWriteRefused(id_, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return deleteKeyAt(id_, path, false);
}

uint32_t RegistryKey::deleteSubTree(std::u16string_view path) const {
  if (!isOpen()) return ERROR_INVALID_HANDLE;
  if (subKeyWriteRefused(id_, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return deleteKeyAt(id_, path, true);
}

uint32_t RegistryKey::deleteKey(RegistryHive hive, std::u16string_view path) {
  if (writeRefused(hive, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return deleteKeyAt(hiveRootId(hive), path, false);
}

uint32_t RegistryKey::deleteTree(RegistryHive hive, std::u16string_view path) {
  if (writeRefused(hive, KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return deleteKeyAt(hiveRootId(hive), path, true);
}

uint32_t runRegistryBatch(const std::function<uint32_t()>& body) {
  Session session;
  if (session.error() != ERROR_SUCCESS) return session.error();
  WriteTransaction transaction(session.connection());
  if (transaction.error() != ERROR_SUCCESS) return transaction.error();
  struct DepthGuard {
    DepthGuard() { ++gBatchDepth; }
    ~DepthGuard() { --gBatchDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
  };
  uint32_t result = ERROR_SUCCESS;
  {
    DepthGuard depth;
    result = body();
  }
  if (result != ERROR_SUCCESS) return result;
  return transaction.commit();
}

void closeRegistry() {
  std::lock_guard<std::recursive_mutex> lock(gMutex);
  if (gBatchDepth > 0) return;
  if (gConnection && gConnection->pid != ::getpid()) {
    static_cast<void>(gConnection.release());
    return;
  }
  gConnection.reset();
}

std::u16string_view registryHiveName(RegistryHive hive) {
  switch (hive) {
    case RegistryHive::LocalMachine:
      return u"HKEY_LOCAL_MACHINE";
    case RegistryHive::CurrentUser:
      return u"HKEY_CURRENT_USER";
    case RegistryHive::ClassesRoot:
      return u"HKEY_CLASSES_ROOT";
  }
  return u"";
}

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t readLittleEndian(const std::vector<uint8_t>& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i > 0; --i) value = (value << 8) | data[i - 1];
  return value;
}

std::vector<uint8_t> encodeRegistryString(std::u16string_view text) {
  std::vector<uint8_t> data;
  for (const char16_t unit : text) appendLittleEndian(data, unit, 2);
  appendLittleEndian(data, 0, 2);
  return data;
}

std::vector<uint8_t> encodeRegistryMultiString(const std::vector<std::u16string>& items) {
  std::vector<uint8_t> data;
  for (const std::u16string& item : items) {
    const std::vector<uint8_t> encoded = encodeRegistryString(item);
    data.insert(data.end(), encoded.begin(), encoded.end());
  }
  appendLittleEndian(data, 0, 2);
  return data;
}

}  // namespace platform

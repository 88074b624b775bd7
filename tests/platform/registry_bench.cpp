// A REG_DWORD write and read through the registry, against the same work done
// with bare SQLite statements on a table of the same shape, in a database file
// with the same settings in the same directory.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/registry.h"
#include "tests/support/test_system_root.h"

namespace {

testing_support::TestSystemRoot& benchRoot() {
  static testing_support::TestSystemRoot root;
  return root;
}

platform::RegistryKey& benchKey() {
  static platform::RegistryKey key = [] {
    benchRoot();
    platform::RegistryKey created;
    if (platform::RegistryKey::create(platform::RegistryHive::LocalMachine, u"Software\\Bench",
                                      platform::KEY_ALL_ACCESS, created) != platform::ERROR_SUCCESS) {
      std::abort();
    }
    created.setDword(u"Value", 0);
    return created;
  }();
  return key;
}

// The raw mechanism: one connection, WAL, synchronous=NORMAL, prepared statements.
struct RawDatabase {
  sqlite3* db = nullptr;
  sqlite3_stmt* write = nullptr;
  sqlite3_stmt* read = nullptr;

  RawDatabase() {
    const std::string file = (benchRoot().path() / "raw.db").string();
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) std::abort();
    sqlite3_busy_timeout(db, 10000);
    const char* setup =
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
        "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL,"
        " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;";
    if (sqlite3_exec(db, setup, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO vals VALUES(4, 'Value', 'value', 4, ?1)", -1, &write, nullptr);
    sqlite3_prepare_v2(db, "SELECT type, data FROM vals WHERE key = 4 AND folded = 'value'", -1, &read, nullptr);
  }
  ~RawDatabase() {
    sqlite3_finalize(write);
    sqlite3_finalize(read);
    sqlite3_close(db);
  }
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  void setDword(uint32_t value) {
    sqlite3_bind_blob(write, 1, &value, 4, SQLITE_STATIC);
    if (sqlite3_step(write) != SQLITE_DONE) std::abort();
    sqlite3_reset(write);
  }
  uint32_t getDword() {
    uint32_t value = 0;
    if (sqlite3_step(read) != SQLITE_ROW) std::abort();
    std::memcpy(&value, sqlite3_column_blob(read, 1), 4);
    sqlite3_reset(read);
    return value;
  }
};

RawDatabase& rawDatabase() {
  static RawDatabase raw;
  return raw;
}

void RegistrySetDword(benchmark::State& state) {
  const platform::RegistryKey& key = benchKey();
  uint32_t value = 0;
  for (auto _ : state) {
    if (key.setDword(u"Value", ++value) != platform::ERROR_SUCCESS) state.SkipWithError("setDword failed");
  }
}

void RawSqliteInsertOrReplace(benchmark::State& state) {
  RawDatabase& raw = rawDatabase();
  uint32_t value = 0;
  for (auto _ : state) raw.setDword(++value);
}

void RegistryGetDword(benchmark::State& state) {
  const platform::RegistryKey& key = benchKey();
  uint32_t value = 0;
  for (auto _ : state) {
    if (key.getDword(u"Value", value) != platform::ERROR_SUCCESS) state.SkipWithError("getDword failed");
    benchmark::DoNotOptimize(value);
  }
}

void RawSqliteSelect(benchmark::State& state) {
  RawDatabase& raw = rawDatabase();
  raw.setDword(1);
  for (auto _ : state) benchmark::DoNotOptimize(raw.getDword());
}

BENCHMARK(RegistrySetDword);
BENCHMARK(RawSqliteInsertOrReplace);
BENCHMARK(RegistryGetDword);
BENCHMARK(RawSqliteSelect);

}  // namespace

BENCHMARK_MAIN();

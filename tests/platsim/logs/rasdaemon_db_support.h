// rasdaemon's database as rasdaemon 0.6.8 creates it, built with libsqlite3
// for the tests that read one (tests/platsim/logs, tests/platsim/faults).
#pragma once

#include "tests/platsim/logs/rasdaemon_schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platsim_test {

class Db {
 public:
  explicit Db(const std::string& file, const char* schema = kSchema) {
    EXPECT_EQ(sqlite3_open(file.c_str(), &db_), SQLITE_OK);
    Exec(schema);
  }
  ~Db() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << (err ? err : "");
    sqlite3_free(err);
  }
  void Extlog(int id, int severity, uint64_t address, const std::vector<uint8_t>& cper) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db_,
                       "INSERT INTO extlog_event (id, timestamp, etype, error_count, severity, "
                       "address, fru_text, cper_data) VALUES (?, '2026-12-01 10:00:00 +0000', 2, "
                       "1, ?, ?, 'DIMM A1', ?)",
                       -1, &s, nullptr);
    sqlite3_bind_int(s, 1, id);
    sqlite3_bind_int(s, 2, severity);
    sqlite3_bind_int64(s, 3, static_cast<int64_t>(address));
    sqlite3_bind_blob(s, 4, cper.data(), static_cast<int>(cper.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
    sqlite3_finalize(s);
  }
  sqlite3* get() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace platsim_test

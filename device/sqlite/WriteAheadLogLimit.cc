#include "WriteAheadLogLimit.h"

#include <string>

#include <sqlite3.h>

int limitWriteAheadLog(sqlite3* db) {
    int rc = sqlite3_wal_autocheckpoint(db, 64);
    if (rc != SQLITE_OK) return rc;
    std::string pragma = "PRAGMA journal_size_limit = " + std::to_string(kWriteAheadLogBytes);
    return sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
}

#include "AccessoryStore.h"

#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include "../Foundation/DeviceDirectory.h"

#include "../sqlite/DescribeSQLiteError.h"
#include "../sqlite/ReadOnlyOpen.h"
#include "../sqlite/WriteAheadLogLimit.h"

using device::Status;

namespace {

constexpr int kBusyTimeoutMs = 1000;

// Indexed by AccessoryStore::Statement.
constexpr const char* kStatementText[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    ("INSERT INTO characteristics (identifier, value) VALUES (?1, ?2) "
     "ON CONFLICT (identifier) DO UPDATE SET value = excluded.value"),
    "INSERT OR IGNORE INTO characteristics (identifier, value) VALUES (?1, ?2)",
    "DELETE FROM characteristics WHERE identifier = ?1",
    "DELETE FROM characteristics",
    "SELECT identifier, value FROM characteristics",
};

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS characteristics (identifier TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL) "
    "WITHOUT ROWID; "
    "CREATE TABLE IF NOT EXISTS reachability (accessory TEXT PRIMARY KEY NOT NULL, problem TEXT NOT NULL) "
    "WITHOUT ROWID";

std::string columnText(sqlite3_stmt* statement, int column) {
    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

}  // namespace

AccessoryStore::AccessoryStore(std::string directory)
    : directory_(std::move(directory)), path_(directory_ + "/accessories.sqlite3") {}

AccessoryStore::~AccessoryStore() { close(); }

// Every operation starts here, so here the store's sequence is checked.
Status AccessoryStore::connect() {
    sequenceChecker_.check("an accessory store");
    if (db_) return Status::OK();
    if (Status problem = device::ensurePrivateDirectory(directory_); !problem.ok())
        return Status::error("the device directory cannot be used: " + problem.message());
    // SQLite gives the database's "-wal" and "-shm" files the mode of the database, so a file made
    // 0600 here keeps the whole state private; ones left by a database made before are narrowed
    // too. (None is opened for reading or writing: closing such a descriptor would drop the locks
    // this process's other connections hold on the file.)
    // A directory that cannot be written (a read-only mount) still lets the state be read.
    writable_ = device::checkWritable(directory_);
    if (!writable_.ok() && access(path_.c_str(), F_OK) != 0)
        return Status::error("there is no accessory state " + path_ + " and none can be made: " + writable_.message());
    for (const char* suffix : {"", "-wal", "-shm"}) {
        bool create = *suffix == '\0' && writable_.ok();
        if (Status problem = device::ensurePrivateFile(path_ + suffix, create); !problem.ok()) return problem;
    }
    const bool writable = writable_.ok();
    int rc = writable ? sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
                      : openReadOnly(path_, &db_);
    if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    std::string problem;
    if (rc == SQLITE_OK && writable) {
        sqlite3_stmt* mode = nullptr;
        rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode = WAL", -1, &mode, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(mode);
        if (rc == SQLITE_ROW) {
            rc = SQLITE_OK;
            if (columnText(mode, 0) != "wal") problem = path_ + " cannot use write-ahead logging";
        }
        sqlite3_finalize(mode);
    }
    if (rc == SQLITE_OK && writable && problem.empty())
        rc = sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && writable && problem.empty()) rc = limitWriteAheadLog(db_);
    if (rc == SQLITE_OK && writable && problem.empty()) rc = sqlite3_exec(db_, kCreateTable, nullptr, nullptr, nullptr);
    for (int i = 0; rc == SQLITE_OK && problem.empty() && i < kStatementCount; ++i)
        rc = sqlite3_prepare_v3(db_, kStatementText[i], -1, SQLITE_PREPARE_PERSISTENT, &statements_[i], nullptr);
    if (rc != SQLITE_OK || !problem.empty()) {
        if (problem.empty()) problem = describe(rc);
        close();
        return Status::error(problem);
    }
    return Status::OK();
}

void AccessoryStore::close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

int AccessoryStore::step(Statement statement) { return stepAndReset(statements_[statement]); }

template <class F>
Status AccessoryStore::transaction(F apply) {
    if (db_ && !writable_.ok()) close();  // the directory may have become writable since
    if (Status problem = connect(); !problem.ok()) return problem;
    if (!writable_.ok()) return Status::error(path_ + " cannot be written: " + writable_.message());
    int rc = step(kBegin);
    if (rc == SQLITE_DONE) rc = apply();
    if (rc == SQLITE_DONE) rc = step(kCommit);
    if (rc == SQLITE_DONE) return Status::OK();
    Status problem = Status::error(describe(rc));
    if (!sqlite3_get_autocommit(db_)) step(kRollback);
    // A busy or full database leaves the connection sound; anything else is opened afresh.
    int primary = rc & 0xff;
    if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED && primary != SQLITE_FULL) close();
    return problem;
}

Status AccessoryStore::synchronise(const std::vector<std::pair<std::string, Strong<NSObject>>>& values, Sync mode) {
    return transaction([&]() -> int {
        if (mode == Sync::resetAll) {
            if (int rc = step(kDeleteAll); rc != SQLITE_DONE) return rc;
        }
        if (mode == Sync::keepDescribed) {
            std::unordered_map<std::string, bool> described;
            for (auto& [identifier, value] : values) described.emplace(identifier, true);
            std::vector<std::string> stale;
            sqlite3_stmt* rows = statements_[kSelectAll];
            int rc;
            while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
                std::string identifier = columnText(rows, 0);
                if (!described.count(identifier)) stale.push_back(std::move(identifier));
            }
            sqlite3_reset(rows);
            if (rc != SQLITE_DONE) return rc;
            for (const std::string& identifier : stale) {
                bindText(statements_[kDelete], 1, identifier);
                if (int rc = step(kDelete); rc != SQLITE_DONE) return rc;
            }
        }
        for (auto& [identifier, value] : values) {
            std::string text = encodeAccessoryValue(value.get());
            if (text.empty()) continue;
            bindText(statements_[kInsertMissing], 1, identifier);
            bindText(statements_[kInsertMissing], 2, text);
            if (int rc = step(kInsertMissing); rc != SQLITE_DONE) return rc;
        }
        return SQLITE_DONE;
    });
}

Status AccessoryStore::readAll(std::unordered_map<std::string, Strong<NSObject>>* values) {
    values->clear();
    if (Status problem = connect(); !problem.ok()) return problem;
    sqlite3_stmt* rows = statements_[kSelectAll];
    int rc;
    while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
        if (Strong<NSObject> value = decodeAccessoryValue(columnText(rows, 1)))
            values->emplace(columnText(rows, 0), value);
    }
    sqlite3_reset(rows);
    if (rc == SQLITE_DONE) return Status::OK();
    values->clear();
    Status problem = Status::error(describe(rc));
    if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) close();
    return problem;
}

Status AccessoryStore::write(const std::string& identifier, NSObject* value) {
    std::string text = encodeAccessoryValue(value);
    if (text.empty()) return Status::error("only numbers and strings can be stored");
    return transaction([&] {
        bindText(statements_[kUpsert], 1, identifier);
        bindText(statements_[kUpsert], 2, text);
        return step(kUpsert);
    });
}

Status AccessoryStore::writeReachability(const std::string& accessoryIdentifier, const std::string& problem) {
    return transaction([&] {
        sqlite3_stmt* upsert = nullptr;
        int rc = sqlite3_prepare_v2(db_,
                                    "INSERT INTO reachability (accessory, problem) VALUES (?1, ?2) "
                                    "ON CONFLICT (accessory) DO UPDATE SET problem = excluded.problem",
                                    -1, &upsert, nullptr);
        if (rc == SQLITE_OK) {
            bindText(upsert, 1, accessoryIdentifier);
            bindText(upsert, 2, problem);
            rc = sqlite3_step(upsert);
        }
        sqlite3_finalize(upsert);
        return rc;
    });
}

Status AccessoryStore::readReachability(std::unordered_map<std::string, std::string>* problems) {
    problems->clear();
    if (Status problem = connect(); !problem.ok()) return problem;
    sqlite3_stmt* rows = nullptr;
    int rc = sqlite3_prepare_v2(db_, "SELECT accessory, problem FROM reachability", -1, &rows, nullptr);
    if (rc != SQLITE_OK) {
        // A database made before the table existed, opened read-only: nothing is known.
        bool noTable = std::strstr(sqlite3_errmsg(db_), "no such table") != nullptr;
        return noTable ? Status::OK() : Status::error(describe(rc));
    }
    while ((rc = sqlite3_step(rows)) == SQLITE_ROW) problems->emplace(columnText(rows, 0), columnText(rows, 1));
    sqlite3_finalize(rows);
    if (rc == SQLITE_DONE) return Status::OK();
    problems->clear();
    return Status::error(describe(rc));
}

std::string AccessoryStore::describe(int code) const {
    return describeSQLiteError(db_, code, path_, "an accessory database");
}

std::string encodeAccessoryValue(NSObject* value) {
    if (auto* number = objc_cast<NSNumber>(value)) {
        switch (number->kind()) {
            case NSNumber::Kind::boolean:
                return number->boolValue() ? "true" : "false";
            case NSNumber::Kind::integer:
                return std::to_string(number->longLongValue());
            case NSNumber::Kind::real: {
                double v = number->doubleValue();
                if (!std::isfinite(v)) return {};
                char buffer[64];
                auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, v);
                std::string text(buffer, end);
                // A point keeps a whole real a real when it is read back.
                if (text.find_first_of(".e") == std::string::npos) text += ".0";
                return text;
            }
        }
    }
    if (auto* string = objc_cast<NSString>(value))
        return nlohmann::json(string->string()).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return {};
}

Strong<NSObject> decodeAccessoryValue(const std::string& text) {
    nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    switch (value.type()) {
        case nlohmann::json::value_t::boolean:
            return NSNumber::numberWithBool(value.get<bool>());
        case nlohmann::json::value_t::number_integer:
            return NSNumber::numberWithLongLong(value.get<long long>());
        case nlohmann::json::value_t::number_unsigned:
            if (value.get<unsigned long long>() > 9223372036854775807ull)
                return NSNumber::numberWithDouble(value.get<double>());
            return NSNumber::numberWithLongLong(static_cast<long long>(value.get<unsigned long long>()));
        case nlohmann::json::value_t::number_float:
            return NSNumber::numberWithDouble(value.get<double>());
        case nlohmann::json::value_t::string:
            return NSString::stringWithString(value.get<std::string>());
        default:
            return nil;
    }
}

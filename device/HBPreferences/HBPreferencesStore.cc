#include "HBPreferencesStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sqlite3.h>

#include "../Foundation/DeviceDirectory.h"

#include "../sqlite/DescribeSQLiteError.h"
#include "../sqlite/ReadOnlyOpen.h"
#include "../sqlite/WriteAheadLogLimit.h"

namespace {

constexpr int kReadBusyTimeoutMs = 20;  // short: reads come from the main thread, every frame
constexpr int kWriteBusyTimeoutMs = 3000;
constexpr auto kRetryInterval = std::chrono::milliseconds(100);
constexpr auto kFileCheckInterval = std::chrono::milliseconds(100);

// Indexed by HBPreferencesStore::Statement.
constexpr const char* kStatementText[] = {
    "PRAGMA data_version",
    "SELECT key, type, value FROM preferences WHERE identifier = ?1",
    ("INSERT INTO preferences (identifier, key, type, value) VALUES (?1, ?2, ?3, ?4) "
     "ON CONFLICT (identifier, key) DO UPDATE SET type = excluded.type, value = excluded.value"),
    "DELETE FROM preferences WHERE identifier = ?1 AND key = ?2",
    "DELETE FROM preferences WHERE identifier = ?1",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

constexpr const char* kCreateTable =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE IF NOT EXISTS preferences (identifier TEXT NOT NULL, key TEXT NOT NULL, type TEXT NOT NULL,"
    " value NOT NULL, PRIMARY KEY (identifier, key)) WITHOUT ROWID;"
    "COMMIT";

// Failures that leave the connection sound; any other one closes it, so the file is opened afresh.
bool keepsConnection(int code) {
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_READONLY:
        case SQLITE_FULL:
        case SQLITE_TOOBIG:
        case SQLITE_CONSTRAINT:
        case SQLITE_NOMEM:
        case SQLITE_INTERRUPT:
            return true;
        default:
            return false;
    }
}

std::string columnText(sqlite3_stmt* statement, int column) {
    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

const char* sqlTypeName(int type) {
    switch (type) {
        case SQLITE_INTEGER:
            return "an integer";
        case SQLITE_FLOAT:
            return "a real";
        case SQLITE_TEXT:
            return "text";
        case SQLITE_BLOB:
            return "a blob";
        default:
            return "NULL";
    }
}

// Reads the value column of a row into `*stored` as the type its tag names, or says why not.
device::Status readValueColumn(sqlite3_stmt* row, const std::string& tag, StoredValue* stored) {
    if (!storedTypeFromTag(tag, &stored->type)) return device::Status::error("its type '" + tag + "' is unknown");
    int sqlType = sqlite3_column_type(row, 2);
    bool fits = false;
    switch (stored->type) {
        case StoredValue::Type::boolean:
        case StoredValue::Type::integer:
            fits = sqlType == SQLITE_INTEGER;
            stored->integer = sqlite3_column_int64(row, 2);
            break;
        case StoredValue::Type::real:
            fits = sqlType == SQLITE_FLOAT || sqlType == SQLITE_INTEGER;
            stored->real = sqlite3_column_double(row, 2);
            break;
        case StoredValue::Type::string:
        case StoredValue::Type::array:
            fits = sqlType == SQLITE_TEXT;
            if (fits) stored->text = columnText(row, 2);
            break;
    }
    if (!fits) return device::Status::error("a value of type " + tag + " is kept as " + sqlTypeName(sqlType));
    return device::Status::OK();
}

// Makes the database file at `path` in `directory` when it is missing. A missing file whose "-wal"
// or "-shm" is still there was deleted under running processes, which may go on using those two
// with the old file; SQLite would take them for the new file's and read the old file's pages
// against it, failing every read and write until the last of those processes lets go. So they are
// removed first (whoever still uses them keeps them open), under the device directory's lock, so
// that no process removes the companions of a file another one has just made.
device::Status makeDatabaseFile(const std::string& directory, const std::string& path) {
    if (access(path.c_str(), F_OK) == 0) return device::Status::OK();
    int lock = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) return device::Status::error("cannot open " + directory + ": " + std::strerror(errno));
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    device::Status problem;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 && errno == ENOENT) {
        for (const char* suffix : {"-wal", "-shm"}) {
            std::string companion = path + suffix;
            if (unlink(companion.c_str()) != 0 && errno != ENOENT)
                problem = device::Status::error("cannot remove " + companion +
                                                ", left by a deleted database: " + std::strerror(errno));
        }
        if (problem.ok()) problem = device::ensurePrivateFile(path, /*create=*/true);
    }
    ::close(lock);  // lets the lock go
    return problem;
}

}  // namespace

HBPreferencesStore::HBPreferencesStore(std::string identifier, std::string directory)
    : identifier_(std::move(identifier)), directory_(std::move(directory)), path_(directory_ + "/preferences.sqlite3") {
    refresh();
}

HBPreferencesStore::~HBPreferencesStore() { close(); }

// --- Reading ---------------------------------------------------------------------------------------

NSObject* HBPreferencesStore::objectForKey(const std::string& key) {
    if (!refresh()) return nullptr;
    auto found = values_.find(key);
    if (found != values_.end()) {
        if (!error_.empty()) error_.clear();
        return found->second.get();
    }
    noteDamage(&key);
    return nullptr;
}

std::vector<std::pair<std::string, Strong<NSObject>>> HBPreferencesStore::copyValues() {
    if (!refresh()) return {};
    std::vector<std::pair<std::string, Strong<NSObject>>> all(values_.begin(), values_.end());
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.first < b.first; });
    noteDamage(nullptr);
    return all;
}

// Sets lastError for a successful read: the damage of `key`'s row, or of every row for nullptr.
void HBPreferencesStore::noteDamage(const std::string* key) {
    error_.clear();
    if (damaged_.empty()) return;
    if (key) {
        auto found = damaged_.find(*key);
        if (found != damaged_.end()) error_ = found->second;
        return;
    }
    std::vector<std::string> problems;
    for (auto& [_, problem] : damaged_) problems.push_back(problem);
    std::sort(problems.begin(), problems.end());
    for (auto& problem : problems) error_ += (error_.empty() ? "" : "; ") + problem;
}

bool HBPreferencesStore::refresh() {
    Clock::time_point now = Clock::now();
    // The hot path: nothing committed anywhere since the last look, and no file check due.
    if (readable_ && loaded_ && now < nextFileCheck_ && !watch_.changed()) return true;
    return refreshSlowly(now);
}

bool HBPreferencesStore::refreshSlowly(Clock::time_point now) {
    if (!readable_ && now < retryAt_) return false;  // lastError still holds the reason
    bool checkFile = now >= nextFileCheck_;
    if (checkFile) nextFileCheck_ = now + kFileCheckInterval;
    int rc = connect(kReadBusyTimeoutMs, checkFile) ? loadValues(false) : SQLITE_CANTOPEN;
    if (rc != SQLITE_OK) {
        if (db_) error_ = describe(rc);  // else open() has said why
        if (db_ && !keepsConnection(rc)) close();
        values_.clear();
        damaged_.clear();
        loaded_ = false;
        readable_ = false;
        retryAt_ = now + kRetryInterval;
        return false;
    }
    readable_ = true;
    return true;
}

// Brings the cache up to date with the database; with `force`, reloads it whatever the version.
int HBPreferencesStore::loadValues(bool force) {
    if (!watch_.attached()) watch_.attach(db_);
    // Taken before asking the version: a commit in between only costs one more slow look.
    watch_.remember();
    sqlite3_stmt* version = statements_[kDataVersion];
    int rc = sqlite3_step(version);
    long long current = rc == SQLITE_ROW ? sqlite3_column_int64(version, 0) : 0;
    sqlite3_reset(version);
    if (rc != SQLITE_ROW) return rc;
    if (!force && loaded_ && current == dataVersion_) return SQLITE_OK;

    std::unordered_map<std::string, Strong<NSObject>> values;
    std::unordered_map<std::string, std::string> damaged;
    sqlite3_stmt* rows = statements_[kSelect];
    sqlite3_bind_text64(rows, 1, identifier_.data(), identifier_.size(), SQLITE_STATIC, SQLITE_UTF8);
    while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
        std::string key = columnText(rows, 0);
        StoredValue stored;
        device::Status problem = readValueColumn(rows, columnText(rows, 1), &stored);
        device::StatusOr<Strong<NSObject>> object = problem.ok() ? decodeStoredValue(stored) : problem;
        if (object.ok())
            values.emplace(std::move(key), *std::move(object));
        else
            damaged.emplace(key, "the stored value of " + key + " cannot be read: " + object.status().message());
    }
    sqlite3_reset(rows);
    if (rc != SQLITE_DONE) return rc;
    values_.swap(values);
    damaged_.swap(damaged);
    dataVersion_ = current;
    loaded_ = true;
    return SQLITE_OK;
}

// --- Writing ---------------------------------------------------------------------------------------

bool HBPreferencesStore::setValue(const std::string& key, const StoredValue& value) {
    return change([&] {
        sqlite3_stmt* s = statements_[kUpsert];
        sqlite3_bind_text64(s, 1, identifier_.data(), identifier_.size(), SQLITE_STATIC, SQLITE_UTF8);
        sqlite3_bind_text64(s, 2, key.data(), key.size(), SQLITE_STATIC, SQLITE_UTF8);
        sqlite3_bind_text(s, 3, storedTypeTag(value.type), -1, SQLITE_STATIC);
        switch (value.type) {
            case StoredValue::Type::boolean:
            case StoredValue::Type::integer:
                sqlite3_bind_int64(s, 4, value.integer);
                break;
            case StoredValue::Type::real:
                sqlite3_bind_double(s, 4, value.real);
                break;
            case StoredValue::Type::string:
            case StoredValue::Type::array:
                sqlite3_bind_text64(s, 4, value.text.data(), value.text.size(), SQLITE_STATIC, SQLITE_UTF8);
                break;
        }
        return step(kUpsert);
    });
}

bool HBPreferencesStore::removeValue(const std::string& key) {
    return change([&] {
        sqlite3_stmt* s = statements_[kRemove];
        sqlite3_bind_text64(s, 1, identifier_.data(), identifier_.size(), SQLITE_STATIC, SQLITE_UTF8);
        sqlite3_bind_text64(s, 2, key.data(), key.size(), SQLITE_STATIC, SQLITE_UTF8);
        return step(kRemove);
    });
}

bool HBPreferencesStore::removeAllValues() {
    return change([&] {
        sqlite3_bind_text64(statements_[kRemoveAll], 1, identifier_.data(), identifier_.size(), SQLITE_STATIC,
                            SQLITE_UTF8);
        return step(kRemoveAll);
    });
}

// Runs `apply` (which returns SQLITE_DONE on success) in a write transaction that also reloads the
// cache, so the next read needs no reload of its own.
bool HBPreferencesStore::change(const std::function<int()>& apply) {
    if (db_ && !writable_.ok()) close();  // the directory may have become writable since
    // A write to a file that was deleted or replaced would be lost, so the file is checked every time.
    if (!connect(kWriteBusyTimeoutMs, /*checkFile=*/true)) {
        loaded_ = false;
        return false;
    }
    if (!writable_.ok()) {
        error_ = path_ + " cannot be written: " + writable_.message();
        return false;
    }
    int rc = step(kBegin);
    if (rc == SQLITE_DONE) rc = apply();
    if (rc == SQLITE_DONE) {
        int loaded = loadValues(/*force=*/true);
        rc = loaded == SQLITE_OK ? SQLITE_DONE : loaded;
    }
    if (rc == SQLITE_DONE) rc = step(kCommit);
    if (rc != SQLITE_DONE) {
        error_ = describe(rc);
        if (!sqlite3_get_autocommit(db_)) step(kRollback);
        loaded_ = false;  // the cache may hold what was rolled back
        if (!keepsConnection(rc))
            close();
        else
            setBusyTimeout(kReadBusyTimeoutMs);
        return false;
    }
    setBusyTimeout(kReadBusyTimeoutMs);
    readable_ = true;
    error_.clear();
    return true;
}

// --- The connection --------------------------------------------------------------------------------

bool HBPreferencesStore::connect(int busyTimeoutMs, bool checkFile) {
    if (db_ && checkFile) {
        int moved = 0;
        if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved) close();
    }
    if (!db_ && !open(busyTimeoutMs)) return false;
    setBusyTimeout(busyTimeoutMs);
    return true;
}

bool HBPreferencesStore::open(int busyTimeoutMs) {
    if (device::Status problem = device::ensurePrivateDirectory(directory_); !problem.ok()) {
        error_ = "the device directory cannot be used: " + problem.message();
        return false;
    }
    // A directory that cannot be written (a read-only mount) still lets the settings be read.
    writable_ = device::checkWritable(directory_);
    if (!writable_.ok() && access(path_.c_str(), F_OK) != 0) {
        error_ = "there is no settings database " + path_ + " and none can be made: " + writable_.message();
        return false;
    }
    if (device::Status problem = writable_.ok() ? makeDatabaseFile(directory_, path_) : device::Status::OK();
        !problem.ok()) {
        error_ = "the settings database cannot be made: " + problem.message();
        return false;
    }
    // SQLite would create the file 0644 whatever the umask; settings are this user's alone. The
    // "-wal" and "-shm" files take the database's mode when SQLite makes them, and ones left by a
    // database made before are narrowed too.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        if (device::Status problem = device::ensurePrivateFile(path_ + suffix, /*create=*/false); !problem.ok()) {
            error_ = "the settings database cannot be made private: " + problem.message();
            return false;
        }
    }
    int rc;
    if (writable_.ok()) {
        rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    } else {
        rc = openReadOnly(path_, &db_);
        if (rc == SQLITE_OK) setBusyTimeout(busyTimeoutMs);
    }
    std::string problem;
    bool writable = writable_.ok();
    if (rc == SQLITE_OK && writable) {
        setBusyTimeout(busyTimeoutMs);
        sqlite3_stmt* mode = nullptr;
        rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode = WAL", -1, &mode, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(mode);
        if (rc == SQLITE_ROW) {
            std::string journal = columnText(mode, 0);
            rc = SQLITE_OK;
            if (journal != "wal")
                problem = path_ + " cannot use write-ahead logging (its journal mode stays '" + journal + "')";
        }
        sqlite3_finalize(mode);
    }
    // Durable enough for settings in WAL mode, and it spares a sync on every commit.
    if (rc == SQLITE_OK && writable && problem.empty())
        rc = sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && writable && problem.empty()) rc = limitWriteAheadLog(db_);
    if (rc == SQLITE_OK && writable && problem.empty()) {
        // Creating the table needs the write lock, so only a new database takes it.
        sqlite3_stmt* exists = nullptr;
        rc = sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'preferences'", -1,
                                &exists, nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(exists);
        sqlite3_finalize(exists);
        if (rc == SQLITE_DONE) {
            rc = sqlite3_exec(db_, kCreateTable, nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK && !sqlite3_get_autocommit(db_))
                sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        } else if (rc == SQLITE_ROW) {
            rc = SQLITE_OK;
        }
    }
    for (int i = 0; rc == SQLITE_OK && problem.empty() && i < kStatementCount; ++i)
        rc = sqlite3_prepare_v3(db_, kStatementText[i], -1, SQLITE_PREPARE_PERSISTENT, &statements_[i], nullptr);
    if (rc != SQLITE_OK || !problem.empty()) {
        error_ = problem.empty() ? describe(rc) : problem;
        close();
        return false;
    }
    return true;
}

void HBPreferencesStore::close() {
    watch_.detach();
    int moved = 0;
    if (db_ && sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved) {
        // The "-wal" and "-shm" now at their names may be a new database's: the last connection to
        // the old file must not checkpoint it and then remove them by name, as a close would.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
    busyTimeoutMs_ = -1;
    loaded_ = false;  // a new connection counts data versions afresh
}

int HBPreferencesStore::step(Statement statement) { return stepAndReset(statements_[statement]); }

void HBPreferencesStore::setBusyTimeout(int milliseconds) {
    if (busyTimeoutMs_ == milliseconds) return;
    sqlite3_busy_timeout(db_, milliseconds);
    busyTimeoutMs_ = milliseconds;
}

std::string HBPreferencesStore::describe(int code) const {
    return describeSQLiteError(db_, code, path_, "a settings database");
}

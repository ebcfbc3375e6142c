// HBPreferencesStore: one named store of the device's settings database, as one HBPreferences
// instance sees it.
//
// The database ("preferences.sqlite3" in the device directory) holds one table,
//   preferences(identifier TEXT, key TEXT, type TEXT, value, PRIMARY KEY (identifier, key))
// in WAL mode; `type` is a tag of StoredValue. The store owns a connection with its statements
// prepared once, and a cache of every value of its identifier. A read first compares the
// wal-index header (no system call); only when that changed does it ask `PRAGMA data_version`, and
// only when that changed does it reload the cache. Every 100 ms a read also checks that the
// database file was not deleted or replaced, and reopens it if it was (a new file never takes on
// the write-ahead log of a deleted one). Writes run in BEGIN IMMEDIATE transactions that also
// reload the cache, so the next read sees them at once. The database and its "-wal" and "-shm"
// files are private to the user (0600) whatever the umask. When the device directory cannot be
// written (a read-only mount), the database is opened read-only and writes fail saying why.
//
// Failures never throw and never block for long: a store that cannot be opened, is locked or is
// corrupt reads as empty, a write to it is dropped, and lastError says why. Reads try again at
// most every 100 ms (each attempt waits at most 20 ms for a lock); writes try at once and wait at
// most 3 s for a lock. A failure that may lie with the connection closes it, so the next attempt
// reopens the file.
//
// Not thread-safe: HBPreferences serialises every call with its lock.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../Foundation/Foundation.h"

#include "HBPreferencesValue.h"
#include "WalIndexWatch.h"

struct sqlite3;
struct sqlite3_stmt;

class HBPreferencesStore {
public:
    // The store `identifier` of the database in `directory`. Opens the database at once (creating
    // it and the directory when missing); a failure is kept in lastError and retried later.
    HBPreferencesStore(std::string identifier, std::string directory);
    ~HBPreferencesStore();
    HBPreferencesStore(const HBPreferencesStore&) = delete;
    HBPreferencesStore& operator=(const HBPreferencesStore&) = delete;

    // The stored value of `key`, lent until the next call on the store; nullptr when there is none
    // or the store cannot be read (lastError then says why).
    NSObject* objectForKey(const std::string& key);
    // Every readable stored value, in key order; empty when the store cannot be read.
    std::vector<std::pair<std::string, Strong<NSObject>>> copyValues();

    // Each returns true when the change is committed; otherwise nothing changed and lastError
    // says why. Removing what is not there succeeds.
    bool setValue(const std::string& key, const StoredValue& value);
    bool removeValue(const std::string& key);
    bool removeAllValues();

    // Why the last operation failed, or empty when it succeeded.
    const std::string& lastError() const { return error_; }
    // Records a failure found before the store was reached (a value that cannot be stored).
    void setError(std::string error) { error_ = std::move(error); }

    const std::string& path() const { return path_; }

private:
    using Clock = std::chrono::steady_clock;
    enum Statement { kDataVersion, kSelect, kUpsert, kRemove, kRemoveAll, kBegin, kCommit, kRollback, kStatementCount };

    bool refresh();
    bool refreshSlowly(Clock::time_point now);
    bool connect(int busyTimeoutMs, bool checkFile);
    bool open(int busyTimeoutMs);
    void close();
    int loadValues(bool force);
    bool change(const std::function<int()>& apply);

    int step(Statement statement);
    void setBusyTimeout(int milliseconds);
    std::string describe(int code) const;
    void noteDamage(const std::string* key);

    std::string identifier_;
    std::string directory_;
    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[kStatementCount] = {};
    int busyTimeoutMs_ = -1;
    device::Status writable_;  // ok when the open database can be written, else why not
    WalIndexWatch watch_;

    std::unordered_map<std::string, Strong<NSObject>> values_;
    std::unordered_map<std::string, std::string> damaged_;  // key -> why its stored value is unreadable
    long long dataVersion_ = 0;
    bool loaded_ = false;    // values_ matches dataVersion_
    bool readable_ = false;  // the last read succeeded; else reads wait for retryAt_
    Clock::time_point retryAt_{};
    Clock::time_point nextFileCheck_{};
    std::string error_;
};

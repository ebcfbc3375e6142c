// AccessoryStore: the state of the device's accessories, one current value per characteristic,
// shared by every process of the device.
//
// The database "accessories.sqlite3" in the device directory (a 0600 file in the 0700 directory)
// holds one table in WAL mode,
//   characteristics(identifier TEXT PRIMARY KEY, value TEXT NOT NULL)
// keyed by the characteristic's identifier text, the value as JSON text (true, 42, 0.5, "text").
// Writes are one short BEGIN IMMEDIATE transaction each, through statements prepared once; a busy
// database is waited for at most a second.
//
// Not thread-safe: a store belongs to one sequence, the thread or serial queue that first uses it
// (HomeKit uses its own queue), and a debug build stops the process when another uses it.
// Failures never throw: each call returns what went wrong, nothing is half-done, and a later call
// opens the database afresh. The write-ahead log is kept small (WriteAheadLogLimit.h), and a full
// disk fails a write without harm. When the directory cannot be written (a read-only mount), the
// state can still be read and every write says why it failed.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../Foundation/Foundation.h"

#include "../base/SequenceChecker.h"
#include "../base/Status.h"

struct sqlite3;
struct sqlite3_stmt;

class AccessoryStore {
public:
    // The store of the database in `directory`; nothing is opened until the first call.
    explicit AccessoryStore(std::string directory);
    ~AccessoryStore();
    AccessoryStore(const AccessoryStore&) = delete;
    AccessoryStore& operator=(const AccessoryStore&) = delete;

    // How `synchronise` treats rows already there.
    enum class Sync {
        addMissing,     // only characteristics without a row get one
        keepDescribed,  // as addMissing, and rows of characteristics not given are removed
        resetAll,       // every row is removed first, so each value is the one given
    };
    // Brings the rows in line with `values` (identifier, initial value; a nil value gives no row) in
    // one transaction. An error says why not (nothing changed then).
    device::Status synchronise(const std::vector<std::pair<std::string, Strong<NSObject>>>& values, Sync mode);

    // Every stored value by identifier. An error says why not (then `*values` is empty). A row whose
    // text is not a value is left out.
    device::Status readAll(std::unordered_map<std::string, Strong<NSObject>>* values);

    // Stores `value` (an NSNumber or NSString) as the current value of `identifier`. An error says
    // why not (nothing changed then).
    device::Status write(const std::string& identifier, NSObject* value);

    // A real accessory's reachability as last found, by the accessory's identifier: `problem` is
    // empty when it answered, else why it could not be reached. Kept in a table of its own,
    //   reachability(accessory TEXT PRIMARY KEY, problem TEXT NOT NULL),
    // which a database made before it simply lacks (then nothing is known).
    device::Status writeReachability(const std::string& accessoryIdentifier, const std::string& problem);
    device::Status readReachability(std::unordered_map<std::string, std::string>* problems);

    const std::string& path() const { return path_; }

private:
    enum Statement {
        kBegin,
        kCommit,
        kRollback,
        kUpsert,
        kInsertMissing,
        kDelete,
        kDeleteAll,
        kSelectAll,
        kStatementCount
    };

    device::Status connect();
    void close();
    int step(Statement statement);
    std::string describe(int code) const;
    // Runs `apply` (SQLITE_DONE on success) inside BEGIN IMMEDIATE ... COMMIT.
    template <class F>
    device::Status transaction(F apply);

    device::SequenceChecker sequenceChecker_;
    std::string directory_;
    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* statements_[kStatementCount] = {};
    device::Status writable_;  // ok when the open database can be written, else why not
};

// The JSON text a value is stored as; empty for anything but an NSNumber or NSString.
std::string encodeAccessoryValue(NSObject* value);
// The value `text` stands for, or nil when it is not a JSON number, Boolean or string.
Strong<NSObject> decodeAccessoryValue(const std::string& text);

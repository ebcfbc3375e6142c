// What the settings tests share: a fresh device directory per test, instances on it, the
// `glimmora prefs` tool as another process, and a second SQLite connection that holds locks.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <HBPreferences/HBPreferences.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device_.path().c_str(), 1); }

    static Strong<HBPreferences> open(const char* identifier = "com.tovek.glimmora") {
        return Strong<HBPreferences>::adopt(
            HBPreferences::alloc()->initWithIdentifier(NSString::stringWithString(identifier).get()));
    }
    // Whether `value` is there and equal to `expected`; a missing value fails the check, not the run.
    static bool equals(const Strong<NSObject>& value, NSObject* expected) { return value && value->isEqual(expected); }
    std::string databasePath() const { return device_.path() + "/preferences.sqlite3"; }

    static std::vector<std::string> prefsCommand(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {glimmoraCommand(), "prefs"});
        return arguments;
    }
    static ProcessResult runPrefs(std::vector<std::string> arguments) {
        return runProcess(prefsCommand(std::move(arguments)));
    }

    // Polls `condition` for up to five seconds; recovery after a failure is retried every 100 ms.
    template <class F>
    static bool eventually(F condition) {
        return BackgroundProcess::waitFor(condition, std::chrono::seconds(5));
    }

    TempDirectory device_;
};

// A second connection to the database holding a lock until it goes. `exclusive` shuts out
// readers as well (it must be taken while no other connection has the file open); otherwise it
// holds the write lock, which WAL readers do not notice.
class LockHolder {
public:
    LockHolder(const std::string& path, bool exclusive) {
        sqlite3_open(path.c_str(), &db_);
        const char* sql = exclusive ? "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;" : "BEGIN IMMEDIATE;";
        result_ = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    }
    ~LockHolder() { sqlite3_close(db_); }
    bool holds() const { return result_ == SQLITE_OK; }

private:
    sqlite3* db_ = nullptr;
    int result_ = SQLITE_ERROR;
};

// The device's stores on SQLite (settings, accessory state) share these: result codes turned
// into words, in the one place such codes are translated, and running a prepared statement.
#pragma once

#include <string>

struct sqlite3;

// What went wrong with the database at `path` (`what` names its kind, e.g. "a settings database"),
// for result `code` of a call on `db` (which may be null when opening failed).
std::string describeSQLiteError(sqlite3* db, int code, const std::string& path, const char* what);

struct sqlite3_stmt;

// Runs a prepared statement once and makes it ready for its next use: reset, and its bindings
// cleared, since they point at the caller's strings. Returns sqlite3_step's result.
int stepAndReset(sqlite3_stmt* statement);

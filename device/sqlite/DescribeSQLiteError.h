// Turning SQLite's result codes into words, for the device's stores on SQLite (settings, accessory
// state). The one place such codes are translated.
#pragma once

#include <string>

struct sqlite3;

// What went wrong with the database at `path` (`what` names its kind, e.g. "a settings database"),
// for result `code` of a call on `db` (which may be null when opening failed).
std::string describeSQLiteError(sqlite3* db, int code, const std::string& path, const char* what);

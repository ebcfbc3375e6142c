// Opening one of the device's databases for reading only, where its directory cannot be written
// (a read-only mount). SQLite reads a database in WAL mode through the log's index ("-shm"), which
// it cannot make there; a database without one is opened as a file that nothing changes.
#pragma once

#include <string>

struct sqlite3;

// Opens the database at `path` read-only into `*db`. Returns SQLite's result code; on failure
// `*db` may still hold a handle to close (as with sqlite3_open_v2).
int openReadOnly(const std::string& path, sqlite3** db);

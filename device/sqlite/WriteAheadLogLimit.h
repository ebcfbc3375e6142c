// The write-ahead log of the device's stores on SQLite kept small. By default SQLite checkpoints
// the log at 1000 pages (4 MB) and never gives its space back, so a store written once per colour
// would hold 4 MB of a small disk for good, and fill it alone.
#pragma once

struct sqlite3;

// The log's size once a checkpoint has emptied it, at most, in bytes.
inline constexpr long long kWriteAheadLogBytes = 256 * 1024;

// Checkpoints the log of `db` every 64 pages and cuts it back to kWriteAheadLogBytes after each
// checkpoint. Returns SQLITE_OK or the failing result code.
int limitWriteAheadLog(sqlite3* db);

#include "DescribeSQLiteError.h"

#include <cstring>

#include <sqlite3.h>

std::string describeSQLiteError(sqlite3* db, int code, const std::string& path, const char* what) {
    std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    int systemError = db ? sqlite3_system_errno(db) : 0;
    int primary = code & 0xff;
    if (systemError != 0 && (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR))
        detail += std::string(": ") + std::strerror(systemError);
    switch (primary) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return path + " is locked by another process (" + detail + ")";
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return path + " is damaged or is not " + what + " (" + detail + "); it is left as it is";
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return path + " cannot be written (" + detail + ")";
        case SQLITE_CANTOPEN:
            return path + " cannot be opened (" + detail + ")";
        case SQLITE_FULL:
            return "the disk holding " + path + " is full (" + detail + ")";
        case SQLITE_IOERR:
            return path + " cannot be read or written (" + detail + ")";
        default:
            return path + " cannot be used (" + detail + ")";
    }
}

int stepAndReset(sqlite3_stmt* statement) {
    int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return rc;
}

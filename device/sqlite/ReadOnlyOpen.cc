#include "ReadOnlyOpen.h"

#include <unistd.h>

#include <sqlite3.h>

namespace {

// `path` as a URI naming a file nobody changes.
std::string immutableUri(const std::string& path) {
    std::string uri = path.front() == '/' ? "file://" : "file:";
    for (char c : path) {
        if (c == '%')
            uri += "%25";
        else if (c == '?')
            uri += "%3f";
        else if (c == '#')
            uri += "%23";
        else
            uri += c;
    }
    return uri + "?immutable=1";
}

}  // namespace

int openReadOnly(const std::string& path, sqlite3** db) {
    // An index left there is read as it is, with the log it indexes.
    bool haveIndex = access((path + "-shm").c_str(), F_OK) == 0;
    return sqlite3_open_v2(haveIndex ? path.c_str() : immutableUri(path).c_str(), db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
}

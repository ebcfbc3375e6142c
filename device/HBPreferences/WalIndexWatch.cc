#include "WalIndexWatch.h"

#include <sqlite3.h>

namespace {
// The size of a wal-index region; a different size than the pager's own would confuse the VFS.
constexpr int kWalIndexRegionSize = 32768;
}  // namespace

bool WalIndexWatch::attach(sqlite3* db) {
    header_ = nullptr;
    remembered_ = false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
        file->pMethods == nullptr || file->pMethods->iVersion < 2 || file->pMethods->xShmMap == nullptr)
        return false;
    void volatile* region = nullptr;
    // Region 0 is already mapped by the connection's WAL; without extending, this only looks it up.
    if (file->pMethods->xShmMap(file, 0, kWalIndexRegionSize, 0, &region) != SQLITE_OK || region == nullptr)
        return false;
    header_ = static_cast<const volatile uint32_t*>(region);
    return true;
}

bool WalIndexWatch::changed() const {
    if (header_ == nullptr || !remembered_) return true;
    for (int i = 0; i < kHeaderWords; ++i) {
        if (header_[i] != seen_[i]) return true;
    }
    return false;
}

void WalIndexWatch::remember() {
    if (header_ == nullptr) return;
    for (int i = 0; i < kHeaderWords; ++i) seen_[i] = header_[i];
    remembered_ = true;
}

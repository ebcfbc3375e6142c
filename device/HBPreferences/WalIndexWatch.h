// WalIndexWatch: tells, without a system call, whether any connection may have committed to a
// WAL-mode database since the last look.
//
// Every commit rewrites the header of the wal-index, the shared memory behind the "-shm" file
// whose layout is part of SQLite's documented file format, so an unchanged header means unchanged
// data. The watch reads the header through the connection's own mapping (the VFS's xShmMap); that
// mapping lives until the connection closes, so the owner detaches before closing. Not
// thread-safe: it belongs to whoever owns the connection.
#pragma once

#include <cstdint>

struct sqlite3;

class WalIndexWatch {
public:
    // Starts watching the main database of `db`, which must be in WAL mode and have been read.
    // Returns false when no mapping is available; the watch then sees every look as a change.
    bool attach(sqlite3* db);
    void detach() { header_ = nullptr; }
    bool attached() const { return header_ != nullptr; }

    // True when the header differs from the one taken by the last `remember`, or when detached.
    bool changed() const;
    // Takes the current header as the one seen.
    void remember();

private:
    static constexpr int kHeaderWords = 12;  // the 48-byte first copy of the header

    const volatile uint32_t* header_ = nullptr;
    uint32_t seen_[kHeaderWords] = {};
    bool remembered_ = false;
};

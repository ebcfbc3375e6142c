#include "ProcessActivity.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "../Foundation/DeviceDirectory.h"

namespace device {

namespace {

constexpr uint64_t kMagic = 0x5954495649544341ull;  // "ACTIVITY"
constexpr uint32_t kVersion = 2;
constexpr size_t kMessageWords = 8;            // 64 bytes of text, NUL-terminated
constexpr time_t kKeepEndedRecords = 60 * 60;  // seconds

// The record as it lies in the file. Atomics of 64 bits are lock-free here, so they work between
// processes sharing the mapping.
struct Record {
    uint64_t magic;
    uint32_t version;
    int32_t pid;
    std::atomic<uint64_t> counts[kActivityCount];
    std::atomic<uint64_t> latency[3][LatencyHistogram::kBuckets];
    std::atomic<uint64_t> callSequence;  // odd while the last call is being replaced
    std::atomic<uint64_t> callNanos;
    std::atomic<uint64_t> callText[kMessageWords];
    std::atomic<uint64_t> acknowledgedLatency[LatencyHistogram::kBuckets];
};
static_assert(std::atomic<uint64_t>::is_always_lock_free);

std::string activityDirectory(const std::string& deviceDirectory) { return deviceDirectory + "/activity"; }

// Removes the records of processes that ended long ago, so a device used for months keeps few.
void pruneEndedRecords(const std::string& directory) {
    DIR* listing = opendir(directory.c_str());
    if (!listing) return;
    time_t now = time(nullptr);
    while (dirent* entry = readdir(listing)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::string path = directory + "/" + entry->d_name;
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && now - info.st_mtime > kKeepEndedRecords) unlink(path.c_str());
    }
    closedir(listing);
}

std::mutex recordLock;  // guards making the record and replacing the last call
std::atomic<Record*> currentRecord{nullptr};
bool gaveUp = false;

Record* makeRecord() {
    std::string directory = activityDirectory(deviceDirectory());
    std::string problem = ensurePrivateDirectory(directory).message();
    std::string path = directory + "/" + std::to_string(getpid());
    // Made under another name, so that readers never take a record being made for a missing one.
    std::string making = path + ".new";
    int file = -1;
    void* memory = MAP_FAILED;
    if (problem.empty()) {
        pruneEndedRecords(directory);
        file = open(making.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file < 0) problem = "cannot make " + making + ": " + std::strerror(errno);
    }
    if (problem.empty()) {
        // The blocks are reserved before the mapping: a page of a sparse file that the file system
        // cannot back when it is first written kills the process with SIGBUS.
        if (int error = posix_fallocate(file, 0, sizeof(Record)); error != 0) {
            problem = "no room for " + path + ": " + std::strerror(error);
            // An empty file stays as the mark that this process runs without a record.
            if (ftruncate(file, 0) != 0 || rename(making.c_str(), path.c_str()) != 0) unlink(making.c_str());
        } else if (rename(making.c_str(), path.c_str()) != 0) {
            problem = "cannot make " + path + ": " + std::strerror(errno);
            unlink(making.c_str());
        }
    }
    if (problem.empty()) {
        memory = mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
        if (memory == MAP_FAILED) problem = "cannot map " + path + ": " + std::strerror(errno);
    }
    if (file >= 0) close(file);
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "warning: this process runs on without an activity record, so the demo's summary and the "
                     "live view cannot count what it does: %s\n",
                     problem.c_str());
        return nullptr;
    }
    // The reserved blocks read as zeros, which is every atomic's zero; the header comes last, so a
    // reader never takes a half-made record for a whole one.
    auto* record = static_cast<Record*>(memory);
    record->version = kVersion;
    record->pid = getpid();
    std::atomic_ref<uint64_t>(record->magic).store(kMagic, std::memory_order_release);
    return record;
}

// A child made by fork() counts in a record of its own.
void forgetRecordInChild() {
    currentRecord.store(nullptr);
    gaveUp = false;
}

Record* record() {
    if (Record* made = currentRecord.load(std::memory_order_acquire)) return made;
    std::lock_guard hold(recordLock);
    if (Record* made = currentRecord.load()) return made;
    if (gaveUp) return nullptr;
    static bool atForkSet = (pthread_atfork(nullptr, nullptr, forgetRecordInChild), true);
    (void)atForkSet;
    Record* made = makeRecord();
    gaveUp = made == nullptr;
    currentRecord.store(made, std::memory_order_release);
    return made;
}

bool readRecord(const std::string& path, ActivitySnapshot& out) {
    int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    struct stat info {};
    void* memory = MAP_FAILED;
    if (fstat(file, &info) == 0 && static_cast<size_t>(info.st_size) >= sizeof(Record))
        memory = mmap(nullptr, sizeof(Record), PROT_READ, MAP_SHARED, file, 0);
    close(file);
    if (memory == MAP_FAILED) return false;
    auto* record = static_cast<Record*>(memory);
    bool whole = std::atomic_ref<uint64_t>(record->magic).load(std::memory_order_acquire) == kMagic &&
                 record->version == kVersion;
    if (whole) {
        out = ActivitySnapshot{};
        out.pid = record->pid;
        for (size_t i = 0; i < kActivityCount; ++i) out.counts[i] = record->counts[i].load(std::memory_order_relaxed);
        for (size_t kind = 0; kind < 3; ++kind)
            for (size_t b = 0; b < LatencyHistogram::kBuckets; ++b)
                if (uint64_t n = record->latency[kind][b].load(std::memory_order_relaxed))
                    out.latency[kind].addCount(b, n);
        for (size_t b = 0; b < LatencyHistogram::kBuckets; ++b)
            if (uint64_t n = record->acknowledgedLatency[b].load(std::memory_order_relaxed))
                out.acknowledgedLatency.addCount(b, n);
        for (int attempt = 0; attempt < 100; ++attempt) {
            uint64_t before = record->callSequence.load(std::memory_order_acquire);
            if (before & 1) continue;
            char text[kMessageWords * 8];
            for (size_t w = 0; w < kMessageWords; ++w) {
                uint64_t word = record->callText[w].load(std::memory_order_relaxed);
                std::memcpy(text + 8 * w, &word, 8);
            }
            uint64_t nanos = record->callNanos.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (record->callSequence.load(std::memory_order_relaxed) != before) continue;
            text[sizeof text - 1] = '\0';
            out.lastCall = text;
            out.lastCallNanos = nanos;
            break;
        }
    }
    munmap(memory, sizeof(Record));
    return whole;
}

}  // namespace

void countActivity(Activity what, uint64_t amount) {
    if (Record* r = record()) r->counts[static_cast<size_t>(what)].fetch_add(amount, std::memory_order_relaxed);
}

void recordWriteLatency(FrameOrigin origin) {
    if (origin.nanos == 0) return;
    uint64_t now = monotonicNanos();
    uint64_t elapsed = now > origin.nanos ? now - origin.nanos : 0;
    if (Record* r = record())
        r->latency[static_cast<size_t>(origin.callKind) % 3][LatencyHistogram::bucketOf(elapsed)].fetch_add(
            1, std::memory_order_relaxed);
}

void recordAcknowledgedLatency(FrameOrigin origin) {
    if (origin.nanos == 0) return;
    uint64_t now = monotonicNanos();
    uint64_t elapsed = now > origin.nanos ? now - origin.nanos : 0;
    if (Record* r = record())
        r->acknowledgedLatency[LatencyHistogram::bucketOf(elapsed)].fetch_add(1, std::memory_order_relaxed);
}

void recordCallReceived(std::string_view text) {
    Record* r = record();
    if (!r) return;
    char bytes[kMessageWords * 8] = {};
    std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes - 1));
    std::lock_guard hold(recordLock);
    uint64_t sequence = r->callSequence.load(std::memory_order_relaxed);
    r->callSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (size_t w = 0; w < kMessageWords; ++w) {
        uint64_t word;
        std::memcpy(&word, bytes + 8 * w, 8);
        r->callText[w].store(word, std::memory_order_relaxed);
    }
    r->callNanos.store(monotonicNanos(), std::memory_order_relaxed);
    r->callSequence.store(sequence + 2, std::memory_order_release);
}

void ActivitySnapshot::merge(const ActivitySnapshot& other) {
    for (size_t i = 0; i < kActivityCount; ++i) counts[i] += other.counts[i];
    for (size_t kind = 0; kind < latency.size(); ++kind) latency[kind].merge(other.latency[kind]);
    acknowledgedLatency.merge(other.acknowledgedLatency);
    if (other.lastCallNanos > lastCallNanos) {
        lastCall = other.lastCall;
        lastCallNanos = other.lastCallNanos;
    }
}

bool readProcessActivity(const std::string& deviceDirectory, pid_t pid, ActivitySnapshot& out) {
    return readRecord(activityDirectory(deviceDirectory) + "/" + std::to_string(pid), out);
}

bool runsWithoutRecord(const std::string& deviceDirectory, pid_t pid) {
    struct stat info {};
    std::string path = activityDirectory(deviceDirectory) + "/" + std::to_string(pid);
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           static_cast<size_t>(info.st_size) < sizeof(Record);
}

std::vector<ActivitySnapshot> readDeviceActivity(const std::string& deviceDirectory,
                                                 std::vector<pid_t>* withoutRecord) {
    std::vector<ActivitySnapshot> records;
    if (withoutRecord) withoutRecord->clear();
    std::string directory = activityDirectory(deviceDirectory);
    DIR* listing = opendir(directory.c_str());
    if (!listing) return records;
    while (dirent* entry = readdir(listing)) {
        if (entry->d_name[0] == '.') continue;
        ActivitySnapshot snapshot;
        if (readRecord(directory + "/" + entry->d_name, snapshot)) {
            records.push_back(std::move(snapshot));
            continue;
        }
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (withoutRecord && pid > 0 && *end == '\0' && runsWithoutRecord(deviceDirectory, static_cast<pid_t>(pid)) &&
            kill(static_cast<pid_t>(pid), 0) == 0)
            withoutRecord->push_back(static_cast<pid_t>(pid));
    }
    closedir(listing);
    return records;
}

}  // namespace device

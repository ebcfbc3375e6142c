// Process activity: what one process of the device has done, counted where the device sees it,
// for the demo's summary, the live light view and the end-to-end benchmarks.
//
// Each process that counts anything keeps a small record in the device directory,
// "activity/<pid>" (0600), mapped into memory: counting is an atomic add, and other processes read
// the record while the process runs and after it has ended (also when it was killed). Records of
// processes that ended more than an hour ago are removed when a new record is made. A process that
// cannot make its record (no device directory, no space) counts nothing and says so once; when it
// could make the file but not reserve its blocks (a full disk), it leaves the file empty, so that
// readers can tell it runs without a record. The record's blocks are reserved before it is mapped,
// so a full disk never kills a process that counts.
//
// The system never sees any of this; the device counts what the system asks of it:
// - the messaging library counts calls sent (by kind), calls it could not send, calls received,
//   and keeps the text of the last call received;
// - HomeKit counts the characteristics of lightbulb services handed out (`offered`), the values of
//   those characteristics read, writes issued and writes that failed, and the time from each
//   write's frame origin (FrameOrigin.h) to its issue, and for a real accessory to its answer.
// The light controller reads the value of each characteristic it means to write and writes it only
// when it differs, and passes over the rest of a light whose write is in flight, so a reader can
// tell writes left unchanged (read, not written) from characteristics passed over (offered, not
// read).
//
// Every function may be called from any thread.
#pragma once

#include <sys/types.h>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FrameOrigin.h"
#include "LatencyHistogram.h"

namespace device {

enum class Activity : int {
    callsSentFireAndForget,
    callsSentAcknowledged,
    callsDropped,  // could not be sent at once (no server, a full socket, too many waiting)
    callsReceivedFireAndForget,
    callsReceivedAcknowledged,
    lightCharacteristicsOffered,
    lightValuesRead,
    writesIssued,
    writesFailed,
    count
};
inline constexpr size_t kActivityCount = static_cast<size_t>(Activity::count);

void countActivity(Activity what, uint64_t amount = 1);
// Records a write issued now for a frame that entered at `origin` (nothing when it has none).
void recordWriteLatency(FrameOrigin origin);
// Records the answer, now, of a real accessory to a write for a frame that entered at `origin`.
void recordAcknowledgedLatency(FrameOrigin origin);
// Keeps `text` (its first 63 bytes) as the last call received, with the time it arrived.
void recordCallReceived(std::string_view text);

// One process's record as read at one moment.
struct ActivitySnapshot {
    pid_t pid = 0;
    std::array<uint64_t, kActivityCount> counts{};
    // Latency from frame origin to write, by the call kind that carried the frame's colour.
    std::array<LatencyHistogram, 3> latency{};
    // Latency from frame origin to a real accessory's answer to the write.
    LatencyHistogram acknowledgedLatency{};
    std::string lastCall;        // the text of the last call received; empty when none
    uint64_t lastCallNanos = 0;  // when it arrived (monotonic), 0 when none

    uint64_t operator[](Activity what) const { return counts[static_cast<size_t>(what)]; }
    // Adds `other`'s counts and latencies; keeps the later of the two last calls.
    void merge(const ActivitySnapshot& other);
};

// Reads the record of process `pid` in `deviceDirectory`; false when there is none (the process
// counted nothing) or it cannot be read.
bool readProcessActivity(const std::string& deviceDirectory, pid_t pid, ActivitySnapshot& out);
// Whether process `pid` left the mark of running without a record (see above).
bool runsWithoutRecord(const std::string& deviceDirectory, pid_t pid);
// Reads every record in `deviceDirectory`; `withoutRecord`, when given, receives the processes
// still running that have no record for want of space.
std::vector<ActivitySnapshot> readDeviceActivity(const std::string& deviceDirectory,
                                                 std::vector<pid_t>* withoutRecord = nullptr);

}  // namespace device

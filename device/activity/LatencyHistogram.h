// LatencyHistogram: counts of durations in buckets of about 3% width (exact below 32 µs), from
// which percentiles are read. A plain value: copy it, add others into it; not for sharing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace device {

class LatencyHistogram {
public:
    // Exact microseconds below 32; then 32 buckets for each doubling, up to 2^31 µs (36 min).
    static constexpr size_t kBuckets = 32 + 26 * 32;

    static size_t bucketOf(uint64_t nanos);
    // The middle of bucket `index`, in microseconds.
    static double bucketMiddleMicros(size_t index);

    void add(uint64_t nanos) { ++counts_[bucketOf(nanos)]; }
    void addCount(size_t bucket, uint64_t count) { counts_[bucket] += count; }
    void merge(const LatencyHistogram& other);
    // What was added after `earlier`, a copy of this histogram taken before: the samples of one
    // stretch of a running process. A bucket that holds fewer than `earlier`'s (not a copy) is 0.
    LatencyHistogram since(const LatencyHistogram& earlier) const;
    uint64_t count() const;
    // The duration below which `fraction` (0..1) of the samples lie, in microseconds; 0 when empty.
    double percentileMicros(double fraction) const;

private:
    std::array<uint64_t, kBuckets> counts_{};
};

}  // namespace device

#include "LatencyHistogram.h"

#include <bit>
#include <cmath>

namespace device {

size_t LatencyHistogram::bucketOf(uint64_t nanos) {
    uint64_t micros = nanos / 1000;
    if (micros < 32) return static_cast<size_t>(micros);
    int octave = std::bit_width(micros) - 1;  // 5 and up
    size_t index = 32 + static_cast<size_t>(octave - 5) * 32 + ((micros >> (octave - 5)) & 31);
    return index < kBuckets ? index : kBuckets - 1;
}

double LatencyHistogram::bucketMiddleMicros(size_t index) {
    if (index < 32) return static_cast<double>(index) + 0.5;
    size_t shift = (index - 32) / 32;
    double low = static_cast<double>((32 + (index - 32) % 32) << shift);
    return low + static_cast<double>(size_t{1} << shift) / 2;
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
    for (size_t i = 0; i < kBuckets; ++i) counts_[i] += other.counts_[i];
}

LatencyHistogram LatencyHistogram::since(const LatencyHistogram& earlier) const {
    LatencyHistogram added;
    for (size_t i = 0; i < kBuckets; ++i)
        added.counts_[i] = counts_[i] > earlier.counts_[i] ? counts_[i] - earlier.counts_[i] : 0;
    return added;
}

uint64_t LatencyHistogram::count() const {
    uint64_t total = 0;
    for (uint64_t c : counts_) total += c;
    return total;
}

double LatencyHistogram::percentileMicros(double fraction) const {
    uint64_t total = count();
    if (total == 0) return 0;
    // The rank of the sample wanted, counted from 1: the median of 1..n is at ceil(n/2).
    auto rank = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(total)));
    if (rank < 1) rank = 1;
    uint64_t seen = 0;
    for (size_t i = 0; i < kBuckets; ++i) {
        seen += counts_[i];
        if (seen >= rank) return bucketMiddleMicros(i);
    }
    return bucketMiddleMicros(kBuckets - 1);
}

}  // namespace device

// DelayedQueue: items that come due at a time, taken out in order of due time and, among items due
// at the same time, in the order they were put in. The one queue under the run loop, the dispatch
// queues, the task runners and the IO sequence; not locked, so its owner guards it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Clock.h"

namespace device {

template <class T>
class DelayedQueue {
public:
    void push(SteadyClock::time_point due, T item) {
        entries_.push_back({due, nextSequence_++, std::move(item)});
        std::push_heap(entries_.begin(), entries_.end(), later);
    }

    bool empty() const { return entries_.empty(); }
    size_t size() const { return entries_.size(); }

    // When the first item comes due; time_point::max() when there is none.
    SteadyClock::time_point nextDue() const {
        return entries_.empty() ? SteadyClock::time_point::max() : entries_.front().due;
    }

    // The first item, when it is due at `now`.
    std::optional<T> popDue(SteadyClock::time_point now) {
        if (entries_.empty() || entries_.front().due > now) return std::nullopt;
        std::pop_heap(entries_.begin(), entries_.end(), later);
        T item = std::move(entries_.back().item);
        entries_.pop_back();
        return item;
    }

    // Takes out every item for which `matches` holds and hands them back, so the caller can let go
    // of them outside its lock.
    template <class Predicate>
    std::vector<T> removeIf(Predicate matches) {
        std::vector<T> removed;
        auto kept = std::stable_partition(entries_.begin(), entries_.end(),
                                          [&](const Entry& entry) { return !matches(entry.item); });
        for (auto it = kept; it != entries_.end(); ++it) removed.push_back(std::move(it->item));
        entries_.erase(kept, entries_.end());
        std::make_heap(entries_.begin(), entries_.end(), later);
        return removed;
    }

    // Whether any item satisfies `matches`.
    template <class Predicate>
    bool contains(Predicate matches) const {
        return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) { return matches(entry.item); });
    }

private:
    struct Entry {
        SteadyClock::time_point due;
        uint64_t sequence;
        T item;
    };
    static bool later(const Entry& a, const Entry& b) {
        return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }

    std::vector<Entry> entries_;  // a heap by `later`
    uint64_t nextSequence_ = 0;
};

}  // namespace device

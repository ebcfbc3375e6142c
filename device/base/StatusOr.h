// A value or the error that kept it from being made: what a device operation that makes something
// returns. In the manner of absl::StatusOr: look at ok() (or status()) before the value; reading
// the value of an error is a fault in the caller and ends the process, naming the error. Like
// Status, it must be looked at. Plain value; not shared between threads without a lock.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <type_traits>
#include <utility>

#include "Status.h"

namespace device {

template <typename T>
class [[nodiscard]] StatusOr {
public:
    // A value.
    StatusOr(const T& value) : value_(value) {}
    StatusOr(T&& value) : value_(std::move(value)) {}
    // An error. An ok status holds no value: it becomes an error saying so, never a value
    // made up from nothing.
    StatusOr(Status status) : status_(status.ok() ? Status::error("no value was given") : std::move(status)) {}
    // Anything a T can be made from, e.g. a std::unique_ptr<Derived> for a std::unique_ptr<Base>.
    template <typename U,
              typename = std::enable_if_t<std::is_constructible_v<T, U&&> && !std::is_same_v<std::decay_t<U>, Status> &&
                                          !std::is_same_v<std::decay_t<U>, StatusOr>>>
    StatusOr(U&& value) : value_(std::in_place, std::forward<U>(value)) {}

    bool ok() const { return value_.has_value(); }
    // Ok when there is a value, else the error.
    const Status& status() const { return status_; }

    const T& value() const& { return checked(); }
    T& value() & { return checked(); }
    T&& value() && { return std::move(checked()); }
    const T& operator*() const& { return checked(); }
    T& operator*() & { return checked(); }
    T&& operator*() && { return std::move(checked()); }
    const T* operator->() const { return &checked(); }
    T* operator->() { return &checked(); }

    // The value, or `fallback` when there is none.
    template <typename U>
    T value_or(U&& fallback) const& {
        return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
    }

private:
    T& checked() const {
        if (!value_) {
            std::fprintf(stderr, "a value was read from an error: %s\n", status_.message().c_str());
            std::abort();
        }
        return const_cast<T&>(*value_);
    }

    Status status_;
    std::optional<T> value_;
};

}  // namespace device

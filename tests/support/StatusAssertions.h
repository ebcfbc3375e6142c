// The device's Status in assertions: EXPECT_TRUE(succeeded(status)) passes when it is ok and
// otherwise prints the error's message; so does succeeded(statusOr). expectValue(statusOr) hands
// the value on, or adds a failure naming the error and gives an empty T (null for a pointer).
#pragma once

#include <gtest/gtest.h>

#include <base/Status.h>
#include <base/StatusOr.h>

inline ::testing::AssertionResult succeeded(const device::Status& status) {
    if (status.ok()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.message();
}

template <typename T>
::testing::AssertionResult succeeded(const device::StatusOr<T>& result) {
    return succeeded(result.status());
}

template <typename T>
T expectValue(device::StatusOr<T> result) {
    if (result.ok()) return *std::move(result);
    ADD_FAILURE() << result.status().message();
    return T{};
}

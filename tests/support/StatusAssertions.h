// The device's Status in assertions: EXPECT_TRUE(succeeded(status)) passes when it is ok and
// otherwise prints the error's message.
#pragma once

#include <gtest/gtest.h>

#include <base/Status.h>

inline ::testing::AssertionResult succeeded(const device::Status& status) {
    if (status.ok()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << status.message();
}

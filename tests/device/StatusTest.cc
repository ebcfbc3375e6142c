#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/Status.h"
#include "base/StatusOr.h"

using device::Status;

// A status is an error by what it is, not by its message: an empty message still fails, and a copy
// or a move carries the message whole while the original stays as it was.
TEST(StatusTest, ErrorsKeepTheirMessageThroughCopiesAndMoves) {
    EXPECT_TRUE(Status::OK().ok());
    EXPECT_EQ(Status::OK().message(), "");
    EXPECT_FALSE(Status::error("").ok());

    Status failed = Status::error("cannot open /x: No such file or directory");
    Status copy = failed;
    EXPECT_FALSE(copy.ok());
    EXPECT_EQ(copy.message(), failed.message());
    copy = Status::OK();
    EXPECT_TRUE(copy.ok());
    EXPECT_EQ(failed.message(), "cannot open /x: No such file or directory");

    Status moved = std::move(failed);
    EXPECT_EQ(moved.message(), "cannot open /x: No such file or directory");
    Status assigned;
    assigned = moved;
    EXPECT_EQ(assigned.message(), moved.message());
}

// A result holds its value or its error, never both; an ok status cannot pose as a value, and an
// OSStatus-like code travels inside the error.
TEST(StatusTest, AResultHoldsItsValueOrItsErrorWithItsCode) {
    device::StatusOr<std::unique_ptr<int>> made = std::make_unique<int>(7);
    ASSERT_TRUE(made.ok());
    EXPECT_TRUE(made.status().ok());
    EXPECT_EQ(**made, 7);
    std::unique_ptr<int> taken = std::move(made).value();
    EXPECT_EQ(*taken, 7);

    device::StatusOr<std::string> failed = Status::error("the decoder refused the frame", -12909);
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(failed.status().message(), "the decoder refused the frame");
    EXPECT_EQ(failed.status().code(), -12909);
    EXPECT_EQ(failed.value_or("none"), "none");
    EXPECT_DEATH((void)failed.value(), "the decoder refused the frame");

    device::StatusOr<int> empty = Status::OK();
    EXPECT_FALSE(empty.ok());
    EXPECT_EQ(Status::error("x").code(), 0);
}

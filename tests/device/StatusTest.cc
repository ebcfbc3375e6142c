#include <gtest/gtest.h>

#include "base/Status.h"

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

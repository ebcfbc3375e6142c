// The library shows the process nothing but its exported functions and data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <set>
#include <sstream>

#include "support/Subprocess.h"

namespace {

TEST(Exports, AreExactlyTheLibrarysFunctionsAndData) {
    std::string library = buildDirectory() + "/libglimmora.so";
    ProcessResult listing = runProcess({"/usr/bin/nm", "-D", "--defined-only", library});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    std::set<std::string> exported;
    std::istringstream lines(listing.out);
    std::string address, kind, name;
    while (lines >> address >> kind >> name) exported.insert(name + ":" + kind);
    EXPECT_THAT(exported, ::testing::UnorderedElementsAre("runOnMainQueueWithoutDeadlocking:T", "preferences:B",
                                                          "readyForUpdates:D", "homeManager:B",
                                                          "videoDecompressionOutputCallback:T"));
}

}  // namespace

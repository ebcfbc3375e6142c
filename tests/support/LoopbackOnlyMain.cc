// The main of the test programs that start servers (test accessories, a private desktop). Before
// anything else, while it still has one thread, it moves itself into a network namespace holding
// only loopback: what it starts and everything that talks to it stay on this machine. Listing the
// tests (as test discovery does) needs no network, so it lists without entering.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "apps/LoopbackNetwork.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing) {
        device::Status status = device::enterLoopbackOnlyNetwork();
        if (!status.ok()) {
            std::fprintf(stderr, "%s: %s\nThese tests run only inside a loopback-only network.\n",
                         program_invocation_short_name, status.message().c_str());
            return 1;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

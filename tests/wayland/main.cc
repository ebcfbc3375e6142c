// The Wayland screen tests' program. Before anything else, while it still has one thread, it moves
// itself into a network namespace holding only loopback: the desktop it starts (its bus, PipeWire,
// mutter, the portals) and everything that talks to them stay on this machine. Listing the tests
// (as test discovery does) needs no network, so it lists without entering.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>

#include "apps/LoopbackNetwork.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing) {
        device::Status status = device::enterLoopbackOnlyNetwork();
        if (!status.ok()) {
            std::fprintf(stderr, "wayland_tests: %s\nThe Wayland tests run only inside a loopback-only network.\n",
                         status.message().c_str());
            return 1;
        }
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

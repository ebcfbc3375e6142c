// The Wayland screen benchmarks' program: like the tests', it moves itself into a network holding
// only loopback before it starts the desktop.
#include <benchmark/benchmark.h>
#include <cstdio>

#include "apps/LoopbackNetwork.h"

int main(int argc, char** argv) {
    if (device::Status status = device::enterLoopbackOnlyNetwork(); !status.ok()) {
        std::fprintf(stderr, "glimmora-wayland-bench: %s\n", status.message().c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/TempDirectory.h"

namespace fuzz {

const std::string& deviceDirectory() {
    // Deliberately leaked into a static: removed by the exit handler below, after every target's
    // own objects that might still write into it.
    static TempDirectory* directory = [] {
        // In memory when the machine allows: SQLite syncs every commit, and on a disk the syncs,
        // not the code under test, would set the pace.
        if (getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
        auto* made = new TempDirectory;
        setenv("GLIMMORA_DEVICE", made->path().c_str(), 1);
        std::atexit([] { delete directory; });
        return made;
    }();
    return directory->path();
}

void makeSeedsIfAsked(int argc, char** argv, const std::function<std::vector<Seed>()>& makeSeeds) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) != "--make-seeds") continue;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: --make-seeds needs a directory\n", argv[0]);
            std::exit(2);
        }
        const std::filesystem::path dir = argv[i + 1];
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        if (error) {
            std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], dir.c_str(), error.message().c_str());
            std::exit(1);
        }
        const std::vector<Seed> seeds = makeSeeds();
        if (seeds.empty()) {
            std::fprintf(stderr, "%s: no seeds were made\n", argv[0]);
            std::exit(1);
        }
        for (const Seed& seed : seeds) {
            std::ofstream file(dir / seed.name, std::ios::binary | std::ios::trunc);
            file.write(seed.bytes.data(), static_cast<std::streamsize>(seed.bytes.size()));
            if (!file.flush()) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0], (dir / seed.name).c_str());
                std::exit(1);
            }
        }
        std::printf("%s: %zu seeds in %s\n", argv[0], seeds.size(), dir.c_str());
        std::exit(0);
    }
}

void fail(const std::string& why) {
    std::fprintf(stderr, "fuzz check failed: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz

// The tree `cmake --install` writes, put somewhere other than its prefix (a DESTDIR): every program
// and library finds the others relative to itself, and nothing reaches into the build folder.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include <media/TestPattern.h>

#include "InstalledTree.h"
#include "support/StatusAssertions.h"

namespace install_test {
namespace {

const std::string kCommand = "/bin/glimmora";

std::string staged(const std::string& path) { return stagedRoot() + kStagedPrefix + path; }

// The run paths `readelf -d` lists for an ELF file.
std::vector<std::string> runPaths(const std::string& path) {
    ProcessResult dynamic = runProcess({"/usr/bin/env", "readelf", "-d", path});
    EXPECT_EQ(dynamic.exitCode, 0) << dynamic.err;
    std::vector<std::string> paths;
    std::istringstream lines(dynamic.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(RUNPATH)") == std::string::npos && line.find("(RPATH)") == std::string::npos) continue;
        std::string list = line.substr(line.find('[') + 1, line.rfind(']') - line.find('[') - 1);
        std::istringstream entries(list);
        for (std::string entry; std::getline(entries, entry, ':');) paths.push_back(entry);
    }
    return paths;
}

TEST(InstalledTree, HoldsTheCommandLibrariesUnitsAndManualWithRunPathsOnlyWithinIt) {
    for (const char* file : {"/lib/systemd/user/glimmora-springboard.service",
                             "/lib/systemd/user/glimmora-follow@.service", "/share/man/man1/glimmora.1"})
        EXPECT_TRUE(std::filesystem::is_regular_file(staged(file))) << file;
    for (const char* file : {"/bin/glimmora", "/lib/libglimmora.so", "/lib/libglimmora_device.so"}) {
        auto paths = runPaths(staged(file));
        // The command must find its libraries in the tree's lib/, so it has a run path of its own.
        EXPECT_FALSE(paths.empty()) << file;
        for (const auto& path : paths) {
            EXPECT_TRUE(path.starts_with("$ORIGIN")) << file << " has run path " << path;
            EXPECT_EQ(path.find(GLIMMORA_BUILD_DIR), std::string::npos) << file << " has run path " << path;
        }
    }
    ServiceUser user;
    ProcessResult help = user.run({staged(kCommand), "service", "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_NE(help.out.find("install"), std::string::npos) << help.out;
}

TEST(InstalledTree, ItsHomeScreenRunsOnItsOwnLibrariesAndAClipDrivesTheLights) {
    ServiceUser user;
    const std::string command = staged(kCommand);
    ProcessResult init = user.run({command, "home", "init"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    ProcessResult select = user.run({command, "home", "select", "Living Room"});
    ASSERT_EQ(select.exitCode, 0) << select.err;

    auto homeScreen = user.start({command, "springboard"});
    ASSERT_TRUE(system_test::eventually([&] {
        return homeScreen->err().find(" running (pid ") != std::string::npos || !homeScreen->running();
    })) << homeScreen->err();
    ASSERT_TRUE(homeScreen->running()) << homeScreen->err();
    // What the loader actually mapped: both libraries, from the tree and nowhere else.
    std::ifstream maps("/proc/" + std::to_string(homeScreen->pid()) + "/maps");
    std::set<std::string> mapped;
    for (std::string line; std::getline(maps, line);)
        if (auto at = line.find('/'); at != std::string::npos && line.find("libglimmora", at) != std::string::npos)
            mapped.insert(line.substr(at));
    EXPECT_EQ(mapped, (std::set<std::string>{staged("/lib/libglimmora.so"), staged("/lib/libglimmora_device.so")}));

    const std::string clip = user.home() + "/clip.mp4";
    auto pattern = parseTestPattern("blue*20");
    ASSERT_TRUE(succeeded(pattern));
    ASSERT_TRUE(succeeded(writeTestPatternClip(clip, *pattern, system_test::kTestClip)));
    ProcessResult played = user.run({command, "play", clip});
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_TRUE(user.eventuallyShows(command, "Floor Lamp", system_test::lightColourOf(0, 0, 255)));
    EXPECT_EQ(homeScreen->stop().exitCode, 0) << homeScreen->err();
}

}  // namespace
}  // namespace install_test

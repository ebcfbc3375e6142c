// The installed user units as systemd reads them, and their ExecStart lines run as the user's
// service manager would run them (no manager runs where the tests do).
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include <apps/GlimmoraContract.h>

#include "InstalledTree.h"

namespace install_test {
namespace {

const char* const kUnits[] = {"glimmora-springboard.service", "glimmora-follow@.service"};

std::string unitPath(const std::string& name) { return inPlacePrefix() + "/lib/systemd/user/" + name; }

// Everything systemd-analyze reports, with a user's own (empty) folders.
ProcessResult verify(const ServiceUser& user, const std::string& unit) {
    return runProcess({"/usr/bin/env", "systemd-analyze", "--user", "verify", "--man=no", unit},
                      {{"HOME", user.home()}, {"XDG_RUNTIME_DIR", user.runtime()}, {"XDG_CONFIG_HOME", ""}});
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(UserUnits, InstalledOnesPassSystemdsCheckAndABrokenOneFailsIt) {
    if (access("/usr/bin/systemd-analyze", X_OK) != 0 && access("/bin/systemd-analyze", X_OK) != 0)
        GTEST_SKIP() << "systemd-analyze is not installed (package systemd)";
    ServiceUser user;
    for (const char* unit : kUnits) {
        ProcessResult checked = verify(user, unitPath(unit));
        EXPECT_EQ(checked.exitCode, 0) << unit << ": " << checked.err;
        // Warnings (an unknown key, a bad value systemd ignores) leave the status 0.
        EXPECT_EQ(checked.err, "") << unit;
    }
    const std::string broken = user.home() + "/glimmora-springboard.service";
    std::ifstream in(unitPath("glimmora-springboard.service"));
    std::ofstream out(broken);
    for (std::string line; std::getline(in, line);)
        out << (line.starts_with("ExecStart=") ? "ExecStart=glimmora-without-a-path springboard" : line) << "\n";
    out.close();
    ProcessResult checked = verify(user, broken);
    EXPECT_NE(checked.exitCode, 0) << checked.err;
}

// Starts `argv`, the ExecStart of the unit file `unit`, lets `serving` come true, then stops it as
// systemd does and expects a clean end.
void servesAndStops(const ServiceUser& user, const std::string& unit, const std::vector<std::string>& argv,
                    const std::function<::testing::AssertionResult()>& serving) {
    SCOPED_TRACE(argv.back());
    auto settings = unitSettings(unitPath(unit));
    ASSERT_EQ(settings.count("TimeoutStopSec"), 1u);
    const auto stopTimeout = std::chrono::seconds(std::stoi(settings.find("TimeoutStopSec")->second));
    auto process = user.start(argv);
    EXPECT_TRUE(serving()) << process->err();
    ASSERT_TRUE(process->running()) << process->err();
    kill(process->pid(), SIGTERM);
    EXPECT_TRUE(BackgroundProcess::waitFor([&] { return !process->running(); }, stopTimeout))
        << "still running " << stopTimeout.count() << " s after SIGTERM";
    ProcessResult ended = process->stop(SIGKILL);
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_EQ(ended.err.find("Sanitizer"), std::string::npos) << ended.err;
}

TEST(UserUnits, EachExecStartServesAndEndsCleanlyOnSigtermWithinItsStopTimeout) {
    ServiceUser user;
    const std::string command = inPlacePrefix() + "/bin/glimmora";
    ASSERT_EQ(user.run({command, "home", "init"}).exitCode, 0);
    ASSERT_EQ(user.run({command, "home", "select", "Living Room"}).exitCode, 0);

    auto homeScreen = words(unitSettings(unitPath("glimmora-springboard.service")).find("ExecStart")->second);
    const std::string socket = user.home() + "/.local/share/glimmora/device/ipc/" + device::kColourChannelName;
    // The home screen serves on its own; the follow unit is checked while another copy serves.
    servesAndStops(user, "glimmora-springboard.service", homeScreen, [&] {
        return system_test::eventually([&] { return std::filesystem::exists(socket); })
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "no colour channel at " << socket;
    });

    // The instance as `systemctl enable` would name it, and %i and %I expanded as systemd does.
    const std::string source = "lavfi:color=c=red:s=64x48:r=10";
    ProcessResult escaped = runProcess({"/usr/bin/env", "systemd-escape", "--", source});
    ASSERT_EQ(escaped.exitCode, 0) << escaped.err;
    const std::string instance = firstLine(escaped.out);
    ProcessResult unescaped = runProcess({"/usr/bin/env", "systemd-escape", "--unescape", "--", instance});
    ASSERT_EQ(unescaped.exitCode, 0) << unescaped.err;
    auto follow = words(unitSettings(unitPath("glimmora-follow@.service")).find("ExecStart")->second);
    for (auto& word : follow) {
        if (word == "%i") word = instance;
        if (word == "%I") word = firstLine(unescaped.out);
    }
    auto running = user.start(homeScreen);
    ASSERT_TRUE(system_test::eventually([&] { return running->err().find(" running (pid ") != std::string::npos; }))
        << running->err();
    servesAndStops(user, "glimmora-follow@.service", follow,
                   [&] { return user.eventuallyShows(command, "Floor Lamp", system_test::lightColourOf(255, 0, 0)); });
    EXPECT_EQ(running->stop().exitCode, 0);
}

}  // namespace
}  // namespace install_test

// `glimmora service` where no user service manager answers (as where the tests run): it changes
// nothing, and the commands it prints instead do the install by hand; and what it asks of one that
// answers (a recording systemctl).
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "InstalledTree.h"

namespace install_test {
namespace {

// Every path under `folder`.
std::vector<std::string> contents(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) found.push_back(entry.path());
    return found;
}

TEST(ServiceCommand, WithoutAUserManagerChangesNothingAndPrintsCommandsThatInstallByHand) {
    ServiceUser user;
    const std::string command = stagedRoot() + kStagedPrefix + "/bin/glimmora";
    // No bus and an empty runtime folder: no manager can be reached, even where one runs.
    const std::map<std::string, std::string> noManager{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}};
    auto service = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {command, "service"});
        return runProcess(user.inServiceEnvironment(arguments, noManager));
    };

    ProcessResult install = service({"install", "--follow", "lavfi:color=c=red"});
    EXPECT_EQ(install.exitCode, 1);
    EXPECT_NE(install.err.find("no user service manager"), std::string::npos) << install.err;
    EXPECT_NE(install.err.find("systemctl --user enable --now glimmora-springboard.service "
                               "'glimmora-follow@lavfi:color\\x3dc\\x3dred.service'"),
              std::string::npos)
        << install.err;
    for (const char* refused : {"remove", "status"}) {
        ProcessResult result = service({refused});
        EXPECT_EQ(result.exitCode, 1) << refused;
        EXPECT_NE(result.err.find("no user service manager"), std::string::npos) << refused << ": " << result.err;
    }
    EXPECT_EQ(service({"install", "--follow", "nowhere:0"}).exitCode, 1);
    EXPECT_EQ(contents(user.home()), std::vector<std::string>{});
    EXPECT_EQ(contents(user.runtime()), std::vector<std::string>{});

    // The printed lines that write the units, run as a user would paste them.
    std::string script;
    std::istringstream lines(install.err);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("  ") && line.find("systemctl") == std::string::npos) script += line + "\n";
    ProcessResult byHand = runProcess(user.inServiceEnvironment({"/bin/sh", "-ec", script}));
    ASSERT_EQ(byHand.exitCode, 0) << script << byHand.err;
    const std::string folder = user.home() + "/.config/systemd/user/";
    auto settings = unitSettings(folder + "glimmora-follow@.service");
    ASSERT_EQ(settings.count("ExecStart"), 1u) << script;
    EXPECT_EQ(settings.find("ExecStart")->second, command + " play --live %I");
    EXPECT_EQ(unitSettings(folder + "glimmora-springboard.service").find("ExecStart")->second,
              command + " springboard");
}

// A user service manager as `systemctl` shows it: one that notes every call and answers as a
// running one does (or refuses to reload, when FAIL_RELOAD is set).
const char* const kRecordingSystemctl = R"(#!/bin/sh
echo "$*" >> "$SYSTEMCTL_CALLS"
case "$*" in
  *is-system-running*) echo running ;;
  *daemon-reload*) if [ -n "$FAIL_RELOAD" ]; then echo "reload refused" >&2; exit 1; fi ;;
  *show*) echo LoadState=loaded; echo ActiveState=active; echo SubState=running ;;
esac
)";

TEST(ServiceCommand, WithAManagerWritesTheUnitsForThisCommandThenEnablesAndRemovesThem) {
    ServiceUser user;
    const std::string command = stagedRoot() + kStagedPrefix + "/bin/glimmora";
    const std::string bin = user.runtime() + "/bin", calls = user.runtime() + "/calls";
    std::filesystem::create_directory(bin);
    std::ofstream(bin + "/systemctl") << kRecordingSystemctl;
    std::filesystem::permissions(bin + "/systemctl", std::filesystem::perms::owner_all);
    auto service = [&](std::vector<std::string> arguments, std::map<std::string, std::string> extra = {}) {
        arguments.insert(arguments.begin(), {command, "service"});
        extra.insert({{"PATH", bin + ":/usr/bin:/bin"}, {"SYSTEMCTL_CALLS", calls}});
        return runProcess(user.inServiceEnvironment(arguments, extra));
    };
    const std::string folder = user.home() + "/.config/systemd/user/";

    ProcessResult refused = service({"install"}, {{"FAIL_RELOAD", "1"}});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("reload refused"), std::string::npos) << refused.err;
    EXPECT_EQ(contents(folder), std::vector<std::string>{});

    std::filesystem::remove(calls);
    ProcessResult installed = service({"install", "--follow", "lavfi:color=c=red"});
    ASSERT_EQ(installed.exitCode, 0) << installed.err;
    EXPECT_EQ(unitSettings(folder + "glimmora-springboard.service").find("ExecStart")->second,
              command + " springboard");
    EXPECT_EQ(unitSettings(folder + "glimmora-follow@.service").find("ExecStart")->second, command + " play --live %I");
    std::string log = system_test::readBytes(calls);
    EXPECT_NE(log.find("--user --no-pager daemon-reload\n--user --no-pager enable --now -- "
                       "glimmora-springboard.service glimmora-follow@lavfi:color\\x3dc\\x3dred.service\n"),
              std::string::npos)
        << log;

    ProcessResult removed = service({"remove"});
    ASSERT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(contents(folder), std::vector<std::string>{});
    log = system_test::readBytes(calls);
    EXPECT_NE(log.find("disable --now -- glimmora-springboard.service\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace install_test

// The trees tests/install/InstallTrees.cmake installs before the install tests run, and running their
// programs as the user's service manager would: a clean environment with HOME, XDG_RUNTIME_DIR and a
// minimal PATH (the sanitizers' options passed on). Test-thread only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Subprocess.h"
#include "support/TempDirectory.h"
#include "system/DeviceProcesses.h"

namespace install_test {

// The staged tree's DESTDIR, and its prefix as the tree names it.
std::string stagedRoot();
inline const std::string kStagedPrefix = "/opt/glimmora";
// A tree installed where its prefix says.
std::string inPlacePrefix();

// A user of the installed tree: a fresh home folder and runtime folder.
class ServiceUser {
public:
    ServiceUser();
    const std::string& home() const { return home_.path(); }
    const std::string& runtime() const { return runtime_.path(); }
    // `argv` prefixed to run in the environment a user service gets, plus `extra`.
    std::vector<std::string> inServiceEnvironment(const std::vector<std::string>& argv,
                                                  const std::map<std::string, std::string>& extra = {}) const;
    ProcessResult run(const std::vector<std::string>& argv) const;
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& argv) const;
    // Waits until the light `name` of the default device, as `command home show --json` reports
    // it, shows `colour`; on failure the assertion names the last state seen.
    ::testing::AssertionResult eventuallyShows(const std::string& command, const std::string& name,
                                               const system_test::LightColour& colour) const;

private:
    TempDirectory home_, runtime_;
};

// A unit file's settings by key, in file order (ExecStart=..., TimeoutStopSec=...).
std::multimap<std::string, std::string> unitSettings(const std::string& path);

// The words of a command line without quotes (the installed units quote nothing).
std::vector<std::string> words(const std::string& line);

}  // namespace install_test

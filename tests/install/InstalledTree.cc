#include "InstalledTree.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace install_test {

std::string stagedRoot() { return GLIMMORA_INSTALL_TEST_ROOT "/staged"; }
std::string inPlacePrefix() { return GLIMMORA_INSTALL_TEST_ROOT "/in-place"; }

ServiceUser::ServiceUser() = default;

std::vector<std::string> ServiceUser::inServiceEnvironment(const std::vector<std::string>& argv,
                                                           const std::map<std::string, std::string>& extra) const {
    std::vector<std::string> command{
        "/usr/bin/env", "-i", "HOME=" + home(), "XDG_RUNTIME_DIR=" + runtime(), "PATH=/usr/local/bin:/usr/bin:/bin",
        "LANG=C.UTF-8"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) command.push_back(std::string(name) + "=" + value);
    for (const auto& [name, value] : extra) command.push_back(name + "=" + value);
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

ProcessResult ServiceUser::run(const std::vector<std::string>& argv) const {
    return runProcess(inServiceEnvironment(argv), {}, std::chrono::seconds(60));
}

std::unique_ptr<BackgroundProcess> ServiceUser::start(const std::vector<std::string>& argv) const {
    return std::make_unique<BackgroundProcess>(inServiceEnvironment(argv));
}

::testing::AssertionResult ServiceUser::eventuallyShows(const std::string& command, const std::string& name,
                                                        const system_test::LightColour& colour) const {
    ::testing::AssertionResult last = ::testing::AssertionFailure() << "no light named " << name;
    system_test::eventually([&] {
        ProcessResult shown = run({command, "home", "show", "--json"});
        auto home = nlohmann::json::parse(shown.out, nullptr, false);
        if (shown.exitCode != 0 || home.is_discarded()) {
            last = ::testing::AssertionFailure() << "home show failed: " << shown.err;
            return false;
        }
        for (const auto& each : home["homes"])
            for (const auto& room : each["rooms"])
                for (const auto& light : room["lights"])
                    if (light["name"] == name)
                        last = system_test::showsColour({light["power"].get<bool>(), light["brightness"].get<int>(),
                                                         light["saturation"].get<int>(), light["hue"].get<int>()},
                                                        colour);
        return static_cast<bool>(last);
    });
    return last;
}

std::multimap<std::string, std::string> unitSettings(const std::string& path) {
    std::multimap<std::string, std::string> settings;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || equals == std::string::npos) continue;
        settings.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return settings;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string word; in >> word;) result.push_back(word);
    return result;
}

}  // namespace install_test

#include "UserServiceManager.h"

#include <cstdlib>
#include <sstream>

device::Status checkUserManager() {
    ProgramOutput answer = systemctlUser({"is-system-running"});
    if (!answer.ran) return device::Status::error(answer.err);
    std::string state = answer.out.substr(0, answer.out.find('\n'));
    // Any state but these is a manager that answered (degraded: one of the user's units failed).
    if (!state.empty() && state != "offline" && state != "unknown") return device::Status::OK();
    std::string why = answer.err.substr(0, answer.err.find('\n'));
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0')
        why += std::string(why.empty() ? "" : "; ") + "XDG_RUNTIME_DIR is unset";
    return device::Status::error(
        "systemctl --user finds no user service manager (" +
        (why.empty() ? "is-system-running says " + (state.empty() ? std::string("nothing") : state) : why) + ")");
}

ProgramOutput systemctlUser(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"--user", "--no-pager"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    return runProgram("systemctl", words);
}

std::vector<std::string> loadedUnits(const std::string& pattern) {
    ProgramOutput listed = systemctlUser({"list-units", "--all", "--plain", "--no-legend", "--full", "--", pattern});
    std::vector<std::string> units;
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        if (words >> name) units.push_back(name);
    }
    return units;
}

std::map<std::string, std::string> unitProperties(const std::string& unit) {
    ProgramOutput shown = systemctlUser(
        {"show", "--property=LoadState,ActiveState,SubState,UnitFileState,MainPID,NRestarts,Result", "--", unit});
    std::map<std::string, std::string> properties;
    if (!shown.succeeded()) return properties;
    std::istringstream lines(shown.out);
    for (std::string line; std::getline(lines, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) properties[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return properties;
}

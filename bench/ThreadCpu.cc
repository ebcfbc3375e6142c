#include "ThreadCpu.h"

#include <dirent.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <sstream>

std::map<std::string, double> cpuByRole(pid_t pid) {
    std::map<std::string, double> roles;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* directory = opendir(tasks.c_str());
    if (!directory) return roles;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string name = stat.substr(open + 1, close - open - 1);
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) utime = std::stod(field);
            if (i == 15) {
                stime = std::stod(field);
                break;
            }
        }
        const std::string role = std::to_string(pid) == entry->d_name ? "frame_clock"
                                 : name == "live-grab" || name.rfind("data-loop", 0) == 0 || name.rfind("pw-", 0) == 0
                                     ? "grabbing"
                                 : name == "live-show" ? "showing"
                                                       : "rest";
        roles[role] += (utime + stime) / ticks;
    }
    closedir(directory);
    return roles;
}

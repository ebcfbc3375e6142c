// `glimmora service install [--follow SOURCE]... | remove | status | print UNIT`: Glimmora as the
// user's systemd services. The units are written for the command that runs (ExecStart names its
// absolute path) into the user's unit folder; where no user service manager answers, nothing is
// written and the commands to run by hand are printed instead.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>

#include "Commands.h"
#include "UserServiceManager.h"
#include "UserUnits.h"

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "glimmora service: " << message << std::endl;
    throw CLI::RuntimeError(1);
}

std::string thisCommand() {
    std::error_code error;
    fs::path program = fs::canonical("/proc/self/exe", error);
    if (error) fail("cannot tell where this glimmora command is: " + error.message());
    return program.string();
}

std::string unitDirectory() {
    auto directory = userUnitDirectory();
    if (!directory.ok()) fail(directory.status().message());
    return *directory;
}

// Says that no manager answers and what to run by hand, then ends with status 1.
[[noreturn]] void refuseWithoutManager(const device::Status& why, const std::vector<std::string>& byHand) {
    std::cerr << "glimmora service: " << why.message() << ", so nothing was changed.\n"
              << "In a session with a user service manager (a systemd login), run the same command again, or "
                 "these by hand:\n";
    for (const auto& line : byHand) std::cerr << "  " << line << "\n";
    std::cerr.flush();
    throw CLI::RuntimeError(1);
}

std::string joined(const std::vector<std::string>& words) {
    std::string line;
    for (const auto& word : words) line += (line.empty() ? "" : " ") + shellWord(word);
    return line;
}

// The follow instances enabled in `directory` (links in its *.wants folders) or loaded by the manager.
std::vector<std::string> followInstances(const std::string& directory, bool askManager) {
    std::set<std::string> found;
    std::error_code error;
    for (const auto& folder : fs::directory_iterator(directory, error)) {
        if (folder.path().extension() != ".wants") continue;
        for (const auto& link : fs::directory_iterator(folder.path(), error))
            if (isFollowInstance(link.path().filename().string())) found.insert(link.path().filename().string());
    }
    if (askManager)
        for (const auto& unit : loadedUnits("glimmora-follow@*.service"))
            if (isFollowInstance(unit)) found.insert(unit);
    return {found.begin(), found.end()};
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `text` whole or not at all (through a file beside it, renamed); an error says why not.
device::Status writeFile(const fs::path& path, const std::string& text) {
    fs::path partial = path.string() + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    std::error_code error;
    if (out) fs::rename(partial, path, error);
    if (!out || error) {
        fs::remove(partial, error);
        return device::Status::error("cannot write " + path.string());
    }
    return device::Status::OK();
}

// "active (running), enabled, process 1234, restarted 2 times, last result exit-code".
std::string describeUnit(const std::string& unit) {
    auto properties = unitProperties(unit);
    if (properties.empty()) return "unknown to the service manager";
    std::string text = properties["ActiveState"] + " (" + properties["SubState"] + ")";
    if (!properties["UnitFileState"].empty()) text += ", " + properties["UnitFileState"];
    if (properties["MainPID"] != "0" && !properties["MainPID"].empty()) text += ", process " + properties["MainPID"];
    if (properties["NRestarts"] != "0" && !properties["NRestarts"].empty())
        text += ", restarted " + properties["NRestarts"] + " times";
    if (properties["Result"] != "success" && !properties["Result"].empty())
        text += ", last result " + properties["Result"];
    return text;
}

void install(const std::vector<std::string>& sources) {
    const std::string command = thisCommand(), directory = unitDirectory();
    std::vector<std::string> units{kHomeScreenUnit};
    for (const auto& source : sources) {
        auto unit = followUnitFor(source);
        if (!unit.ok()) fail(unit.status().message());
        units.push_back(*unit);
    }
    if (device::Status manager = checkUserManager(); !manager.ok()) {
        std::vector<std::string> byHand{joined({"mkdir", "-p", directory})};
        for (const auto& unit : unitTemplates())
            byHand.push_back(joined({command, "service", "print", unit.name}) + " > " +
                             shellWord(directory + "/" + unit.name));
        byHand.push_back("systemctl --user daemon-reload");
        std::vector<std::string> enable{"systemctl", "--user", "enable", "--now"};
        enable.insert(enable.end(), units.begin(), units.end());
        byHand.push_back(joined(enable));
        refuseWithoutManager(manager, byHand);
    }

    std::error_code error;
    fs::create_directories(directory, error);
    if (error) fail("cannot make " + directory + ": " + error.message());
    // What was there before, so that a unit that cannot be written, or a manager refusing the new
    // ones, leaves the old ones as they were.
    std::vector<std::pair<fs::path, std::optional<std::string>>> before;
    auto restore = [&] {
        for (const auto& [path, text] : before) {
            if (text)
                (void)writeFile(path, *text);
            else
                fs::remove(path, error);
        }
    };
    for (const auto& unit : unitTemplates()) {
        fs::path path = fs::path(directory) / unit.name;
        before.emplace_back(path, fs::exists(path, error) ? std::optional(fileText(path)) : std::nullopt);
        if (device::Status written = writeFile(path, unitTextFor(unit, command)); !written.ok()) {
            restore();
            fail(written.message());
        }
    }
    if (ProgramOutput reload = systemctlUser({"daemon-reload"}); !reload.succeeded()) {
        restore();
        fail("systemctl --user daemon-reload failed, so the units were taken back: " + reload.err);
    }
    std::vector<std::string> enable{"enable", "--now", "--"};
    enable.insert(enable.end(), units.begin(), units.end());
    if (ProgramOutput started = systemctlUser(enable); !started.succeeded())
        fail("the units are in " + directory + ", but enabling and starting them failed: " + started.err);
    std::cout << "Installed " << kHomeScreenUnit << " and " << kFollowTemplate << " in " << directory << " (running "
              << command << "):\n";
    for (const auto& unit : units) std::cout << "  " << unit << ": " << describeUnit(unit) << "\n";
}

void removeUnits() {
    const std::string directory = unitDirectory();
    std::vector<std::string> files;
    for (const auto& unit : unitTemplates()) files.push_back(directory + "/" + unit.name);
    device::Status manager = checkUserManager();
    std::vector<std::string> units{kHomeScreenUnit};
    for (const auto& unit : followInstances(directory, manager.ok())) units.push_back(unit);
    auto disabling = [](const std::vector<std::string>& names) {
        std::vector<std::string> words{"disable", "--now", "--"};
        words.insert(words.end(), names.begin(), names.end());
        return words;
    };
    if (!manager.ok()) {
        std::vector<std::string> remove{"rm", "-f", "--"};
        remove.insert(remove.end(), files.begin(), files.end());
        std::vector<std::string> disable{"systemctl", "--user"};
        for (auto& word : disabling(units)) disable.push_back(word);
        refuseWithoutManager(manager, {joined(disable), joined(remove), "systemctl --user daemon-reload"});
    }
    // Only what the manager knows: disabling a unit that has no file fails the whole command.
    std::erase_if(units, [](const std::string& unit) { return unitProperties(unit)["LoadState"] == "not-found"; });
    if (!units.empty())
        if (ProgramOutput stopped = systemctlUser(disabling(units)); !stopped.succeeded())
            fail("stopping and disabling " + joined(units) + " failed, so the units stay: " + stopped.err);
    std::error_code error;
    for (const auto& file : files) fs::remove(file, error);
    if (ProgramOutput reload = systemctlUser({"daemon-reload"}); !reload.succeeded())
        fail("the units are removed, but systemctl --user daemon-reload failed: " + reload.err);
    if (!units.empty()) std::cout << "Stopped and disabled " << joined(units) << "\n";
    std::cout << "No Glimmora units are left in " << directory << "\n";
}

void showStatus() {
    const std::string directory = unitDirectory(), command = thisCommand();
    for (const auto& unit : unitTemplates()) {
        fs::path path = fs::path(directory) / unit.name;
        std::error_code error;
        if (!fs::exists(path, error)) {
            std::cout << unit.name << ": not installed in " << directory << "\n";
            continue;
        }
        std::string text = fileText(path);
        bool ours = text == unitTextFor(unit, command);
        std::cout << path.string() << ": " << (ours ? "written for this command" : "written for another command")
                  << "\n";
    }
    device::Status manager = checkUserManager();
    if (!manager.ok()) {
        std::cerr << "glimmora service: " << manager.message() << ", so nothing runs as a service" << std::endl;
        throw CLI::RuntimeError(1);
    }
    std::vector<std::string> units{kHomeScreenUnit};
    for (const auto& unit : followInstances(directory, true)) units.push_back(unit);
    for (const auto& unit : units) std::cout << unit << ": " << describeUnit(unit) << "\n";
}

void print(const std::string& name) {
    for (const auto& unit : unitTemplates())
        if (name == unit.name) {
            std::cout << unitTextFor(unit, thisCommand());
            return;
        }
    std::string names;
    for (const auto& unit : unitTemplates()) names += std::string(names.empty() ? "" : ", ") + unit.name;
    fail("no unit named " + name + " (there are " + names + ")");
}

}  // namespace

void addServiceCommand(CLI::App& app) {
    CLI::App* service = app.add_subcommand(
        "service",
        "Run Glimmora as your systemd user services: the home screen from login on, restarted after a crash, "
        "and the lights following live sources. The services use the default device "
        "(~/.local/share/glimmora/device, or GLIMMORA_DEVICE in the user manager's environment), whatever "
        "--device says");
    service->require_subcommand(1);

    auto sources = std::make_shared<std::vector<std::string>>();
    CLI::App* installCommand = service->add_subcommand(
        "install",
        "Write glimmora-springboard.service and glimmora-follow@.service, running this glimmora command, into "
        "$XDG_CONFIG_HOME/systemd/user (else ~/.config/systemd/user), reload the user service manager, then "
        "enable and start the home screen and a follow unit for each --follow. Without a user service "
        "manager it writes nothing, prints the commands to run by hand and exits 1");
    installCommand->add_option("--follow", *sources,
                               "A live source for the lights to follow from the start of each graphical session, as "
                               "`play --live` takes it (x11::0, v4l2:/dev/video0); may be given more than once");
    installCommand->callback([sources] { install(*sources); });

    service
        ->add_subcommand("remove",
                         "Stop and disable the home screen and every follow unit, and remove the units from the "
                         "user unit folder. Without a user service manager it changes nothing, prints the commands "
                         "to run by hand and exits 1")
        ->callback(removeUnits);
    service
        ->add_subcommand("status",
                         "Tell which units are installed in the user unit folder, and the state of the home screen "
                         "and of each follow unit. Exits 1 when no user service manager answers")
        ->callback(showStatus);

    auto name = std::make_shared<std::string>();
    CLI::App* printCommand = service->add_subcommand(
        "print", "Print a unit as install writes it, for this glimmora command (for installing by hand)");
    printCommand->add_option("UNIT", *name, "glimmora-springboard.service or glimmora-follow@.service")->required();
    printCommand->callback([name] { print(*name); });
}

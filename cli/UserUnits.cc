#include "UserUnits.h"

#include <cstdlib>

#include <media/LiveSourceRequest.h>

#include "RunProgram.h"

namespace {

// A command line word as systemd reads it: specifiers start with %, and quotes and backslashes are
// its own syntax.
std::string execWord(const std::string& word) {
    bool plain = word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-") ==
                 std::string::npos;
    std::string escaped;
    for (char c : word) {
        if (c == '%')
            escaped += "%%";
        else if (c == '\\' || c == '"')
            escaped += std::string("\\") + c;
        else
            escaped += c;
    }
    return plain ? escaped : "\"" + escaped + "\"";
}

}  // namespace

std::string unitTextFor(const UnitTemplate& unit, const std::string& command) {
    std::string text = unit.text;
    const std::string placeholder = "{command}";
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at))
        text.replace(at, placeholder.size(), execWord(command));
    return text;
}

device::StatusOr<std::string> userUnitDirectory() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/systemd/user";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.config/systemd/user";
    return device::Status::error("neither XDG_CONFIG_HOME nor HOME names a folder, so there is no user unit folder");
}

device::StatusOr<std::string> followUnitFor(const std::string& source) {
    auto parsed = parseLiveSource(source, "", "", std::nullopt);
    if (!parsed.ok()) return device::Status::error("--follow " + source + ": " + parsed.status().message());
    ProgramOutput escaped = runProgram("systemd-escape", {"--", source});
    if (!escaped.succeeded())
        return device::Status::error("cannot escape " + source + " as a unit name: " +
                                     (escaped.err.empty() ? "systemd-escape failed" : escaped.err));
    std::string instance = escaped.out.substr(0, escaped.out.find('\n'));
    return "glimmora-follow@" + instance + ".service";
}

bool isFollowInstance(const std::string& name) {
    const std::string prefix = "glimmora-follow@", suffix = ".service";
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix);
}

std::string shellWord(const std::string& text) {
    if (!text.empty() &&
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-=:,@") ==
            std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

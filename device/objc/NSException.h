// NSException: the exception the run-time and Foundation raise, thrown as a C++ exception.
// `@try/@catch (NSException*)` is written `try { ... } catch (const NSException&) { ... }`.
#pragma once

#include <stdexcept>
#include <string>

class NSException : public std::runtime_error {
public:
    NSException(std::string name, const std::string& reason) : std::runtime_error(reason), name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    std::string reason() const { return what(); }

    // Throws an NSException with this name and reason.
    [[noreturn]] static void raise(const std::string& name, const std::string& reason) {
        throw NSException(name, reason);
    }

private:
    std::string name_;
};

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";

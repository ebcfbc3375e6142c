// The outcome of a device operation that can fail: ok, or a message saying what went wrong. The
// device's one way to report an error inside itself; the iOS-named surface keeps iOS's own
// (OSStatus results, NSError) where iOS has them. Lives in base/, below every framework, as it
// stands for no iOS header.
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace device {

// Cheap when ok (one null pointer); an error holds its message. Must be looked at: a dropped
// Status is a warning, since it is almost always a dropped failure.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(const Status& other) : message_(other.message_ ? std::make_unique<std::string>(*other.message_) : nullptr) {}
    Status(Status&&) noexcept = default;
    Status& operator=(const Status& other) {
        if (this != &other) *this = Status(other);
        return *this;
    }
    Status& operator=(Status&&) noexcept = default;

    static Status OK() { return Status(); }
    // An error saying `message`. An error is an error even when its message is empty.
    static Status error(std::string message) { return Status(std::make_unique<std::string>(std::move(message))); }

    bool ok() const { return message_ == nullptr; }
    // What went wrong; empty when ok.
    const std::string& message() const {
        static const std::string kNone;
        return message_ ? *message_ : kNone;
    }

private:
    explicit Status(std::unique_ptr<std::string> message) : message_(std::move(message)) {}

    std::unique_ptr<std::string> message_;
};

}  // namespace device

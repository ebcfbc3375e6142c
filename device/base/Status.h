// The outcome of a device operation that can fail: ok, or a message saying what went wrong. The
// device's one way to report an error inside itself; the iOS-named surface keeps iOS's own
// (OSStatus results, NSError) where iOS has them. Lives in base/, below every framework, as it
// stands for no iOS header.
#pragma once

#include <memory>
#include <string>
#include <utility>

namespace device {

// Cheap when ok (one null pointer); an error holds its message and, where a caller must tell
// failures apart by a number the platform defines (an OSStatus), that code. Must be looked at: a
// dropped Status is a warning, since it is almost always a dropped failure.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(const Status& other) : error_(other.error_ ? std::make_unique<Error>(*other.error_) : nullptr) {}
    Status(Status&&) noexcept = default;
    Status& operator=(const Status& other) {
        if (this != &other) *this = Status(other);
        return *this;
    }
    Status& operator=(Status&&) noexcept = default;

    static Status OK() { return Status(); }
    // An error saying `message`, with the platform's `code` for it when there is one (0: none).
    // An error is an error even when its message is empty and its code 0.
    static Status error(std::string message, long code = 0) {
        return Status(std::make_unique<Error>(Error{std::move(message), code}));
    }

    bool ok() const { return error_ == nullptr; }
    // What went wrong; empty when ok.
    const std::string& message() const {
        static const std::string kNone;
        return error_ ? error_->message : kNone;
    }
    // The platform's code for the error; 0 when ok or when it has none.
    long code() const { return error_ ? error_->code : 0; }

private:
    struct Error {
        std::string message;
        long code;
    };
    explicit Status(std::unique_ptr<Error> error) : error_(std::move(error)) {}

    std::unique_ptr<Error> error_;
};

}  // namespace device

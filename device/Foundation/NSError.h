// NSError: an immutable description of a failure, as a domain, a code and a dictionary of details.
// Safe to share between threads.
#pragma once

#include "../objc/runtime.h"

#include "NSDictionary.h"
#include "NSString.h"

// The userInfo key of the text localizedDescription returns.
extern NSString* const NSLocalizedDescriptionKey;

class NSError : public NSObject {
public:
    NSError() = default;
    static Class objcClass();

    // A new error; `domain` and `userInfo` are retained (nil userInfo: no details). A nil domain
    // is kept as the empty string, as the error must always have one.
    static Strong<NSError> errorWithDomain_code_userInfo(NSString* domain, NSInteger code, NSDictionary* userInfo);

    // Each is lent for as long as the error lives.
    NSString* domain() const { return domain_.get(); }
    NSInteger code() const { return code_; }
    NSDictionary* userInfo() const { return userInfo_.get(); }
    // The NSLocalizedDescriptionKey text of userInfo when it holds a string, else Foundation's
    // generic "The operation couldn’t be completed. (DOMAIN error CODE.)".
    NSString* localizedDescription() const { return localizedDescription_.get(); }

    std::string description() const override;

private:
    Strong<NSString> domain_;
    NSInteger code_ = 0;
    Strong<NSDictionary> userInfo_;
    Strong<NSString> localizedDescription_;
};

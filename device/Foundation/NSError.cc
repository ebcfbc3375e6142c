#include "NSError.h"

#include "../objc/MethodRegistration.h"

NSString* const NSLocalizedDescriptionKey = NSString::literal("NSLocalizedDescription");

namespace {

// `[NSError errorWithDomain:code:userInfo:]`: the caller owns the result, since there is no
// autorelease pool to hand it to.
id NSError_errorWithDomain(NSString* domain, NSInteger code, NSDictionary* userInfo) {
    return NSError::errorWithDomain_code_userInfo(domain, code, userInfo).detach();
}

}  // namespace

Class NSError::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<NSError>("NSError", NSObject::objcClass());
        objc_addClassMethod<&NSError_errorWithDomain>(c, "errorWithDomain:code:userInfo:");
        objc_addInstanceMethod<&NSError::domain>(c, "domain");
        objc_addInstanceMethod<&NSError::code>(c, "code");
        objc_addInstanceMethod<&NSError::userInfo>(c, "userInfo");
        objc_addInstanceMethod<&NSError::localizedDescription>(c, "localizedDescription");
        return c;
    }();
    return cls;
}

Strong<NSError> NSError::errorWithDomain_code_userInfo(NSString* domain, NSInteger code, NSDictionary* userInfo) {
    auto error = makeObject<NSError>();
    error->domain_ = domain ? Strong<NSString>(domain) : NSString::stringWithUTF8String("");
    error->code_ = code;
    error->userInfo_ = userInfo;
    auto* text = userInfo ? objc_cast<NSString>(userInfo->objectForKey(NSLocalizedDescriptionKey)) : nullptr;
    error->localizedDescription_ =
        text ? Strong<NSString>(text)
             : NSString::stringWithFormat("The operation couldn’t be completed. (%s error %ld.)",
                                          error->domain_->UTF8String(), code);
    return error;
}

std::string NSError::description() const {
    // An error made by `alloc`/`init` alone has neither, so both are read with care.
    return "Error Domain=" + (domain_ ? domain_->string() : std::string()) + " Code=" + std::to_string(code_) + " \"" +
           (localizedDescription_ ? localizedDescription_->string() : std::string()) + "\"";
}

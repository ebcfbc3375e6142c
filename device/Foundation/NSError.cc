#include "NSError.h"

NSString* const NSLocalizedDescriptionKey = NSString::literal("NSLocalizedDescription");

namespace {

// `[NSError errorWithDomain:code:userInfo:]`: the caller owns the result, since there is no
// autorelease pool to hand it to.
id NSError_errorWithDomain(id, SEL, id domain, NSInteger code, id userInfo) {
    return NSError::errorWithDomain_code_userInfo(objc_cast<NSString>(domain), code, objc_cast<NSDictionary>(userInfo))
        .detach();
}
id NSError_domain(id self, SEL) { return static_cast<NSError*>(self)->domain(); }
NSInteger NSError_code(id self, SEL) { return static_cast<NSError*>(self)->code(); }
id NSError_userInfo(id self, SEL) { return static_cast<NSError*>(self)->userInfo(); }
id NSError_localizedDescription(id self, SEL) { return static_cast<NSError*>(self)->localizedDescription(); }

}  // namespace

Class NSError::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<NSError>("NSError", NSObject::objcClass());
        class_addMethod(object_getClass(c), sel_registerName("errorWithDomain:code:userInfo:"),
                        reinterpret_cast<IMP>(NSError_errorWithDomain), "@40@0:8@16q24@32");
        class_addMethod(c, sel_registerName("domain"), reinterpret_cast<IMP>(NSError_domain), "@16@0:8");
        class_addMethod(c, sel_registerName("code"), reinterpret_cast<IMP>(NSError_code), "q16@0:8");
        class_addMethod(c, sel_registerName("userInfo"), reinterpret_cast<IMP>(NSError_userInfo), "@16@0:8");
        class_addMethod(c, sel_registerName("localizedDescription"),
                        reinterpret_cast<IMP>(NSError_localizedDescription), "@16@0:8");
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
    return "Error Domain=" + (domain_ ? domain_->string() : std::string()) + " Code=" + std::to_string(code_) +
           " \"" + (localizedDescription_ ? localizedDescription_->string() : std::string()) + "\"";
}

#include "HMError.h"
#include "HomeKitDevice.h"

NSString* const HMErrorDomain = NSString::literal("HMErrorDomain");

namespace device {

Strong<NSError> homeKitError(NSInteger code, const std::string& text) {
    auto userInfo =
        NSDictionary::dictionaryWithEntries({{NSLocalizedDescriptionKey, NSString::stringWithString(text)}});
    return NSError::errorWithDomain_code_userInfo(HMErrorDomain, code, userInfo);
}

}  // namespace device

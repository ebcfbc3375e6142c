// HomeKit's errors: the HMErrorDomain and the codes of HMErrorCode that the device's accessories
// report, with their values from the HomeKit SDK.
#pragma once

#include "../Foundation/Foundation.h"

extern NSString* const HMErrorDomain;

enum HMErrorCode : NSInteger {
    HMErrorCodeInvalidParameter = 3,
    HMErrorCodeAccessoryNotReachable = 4,
    HMErrorCodeOperationTimedOut = 8,
    HMErrorCodeAccessoryIsBusy = 14,
    HMErrorCodeNilParameter = 20,
    HMErrorCodeInvalidValueType = 43,
    HMErrorCodeValueLowerThanMinimum = 44,
    HMErrorCodeValueHigherThanMaximum = 45,
    HMErrorCodeCommunicationFailure = 54,
};

// How the geometry structs and the opaque CoreGraphics types are spelt in a method's type string,
// for methods registered with objc_addInstanceMethod / objc_addClassMethod.
#pragma once

#include "../objc/MethodRegistration.h"
#include "CGColor.h"
#include "CGGeometry.h"
#include "CGImage.h"

template <>
struct objc_typeEncoding<CGPoint> {
    static constexpr const char* value = "{CGPoint=dd}";
};
template <>
struct objc_typeEncoding<CGSize> {
    static constexpr const char* value = "{CGSize=dd}";
};
template <>
struct objc_typeEncoding<CGRect> {
    static constexpr const char* value = "{CGRect={CGPoint=dd}{CGSize=dd}}";
};
template <>
struct objc_typeEncoding<CGImage> {
    static constexpr const char* value = "{CGImage=}";
};
template <>
struct objc_typeEncoding<CGColor> {
    static constexpr const char* value = "{CGColor=}";
};

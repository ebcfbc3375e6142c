// The basic types of the object model: objects, classes, selectors, implementations, BOOL.
//
// An object is any instance of a C++ class derived from NSObject; `id` points at one. A class is
// itself an object (its `isa` is its metaclass), so messages can be sent to classes as well.
#pragma once

#include <cstddef>
#include <cstdint>

class NSObject;
class objc_class;
struct objc_selector;

typedef NSObject* id;
typedef objc_class* Class;
typedef const objc_selector* SEL;

// A method's implementation, stored type-erased; the caller casts it back to
// `R (*)(id self, SEL _cmd, Args...)`.
typedef void (*IMP)(void);

typedef bool BOOL;
constexpr BOOL YES = true;
constexpr BOOL NO = false;

#ifndef nil
#define nil nullptr
#endif
#ifndef Nil
#define Nil nullptr
#endif

typedef long NSInteger;
typedef unsigned long NSUInteger;

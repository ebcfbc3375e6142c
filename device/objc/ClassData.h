// The layout of classes, methods and properties; private to the run-time's own files.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime.h"

struct objc_method {
    SEL name;
    std::atomic<IMP> imp;
    std::string types;
    Class owner;
};

struct objc_property {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string attributeText;
};

class objc_class final : public NSObject {
public:
    objc_class(std::string className, Class superclassPtr, bool meta);

    std::string name;
    Class superclass;
    bool isMeta;
    bool registered = false;
    objc_cxxConstructor constructor = nullptr;
    std::vector<std::unique_ptr<objc_method>> methodList;
    std::unordered_map<SEL, objc_method*> methods;
    std::vector<std::unique_ptr<objc_property>> properties;
};

#include "ChangeReport.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "../objc/runtime.h"

namespace device {

namespace {

const char* kindName(RuntimeChange::Kind kind) {
    switch (kind) {
        case RuntimeChange::Kind::addMethod:
            return "add-method";
        case RuntimeChange::Kind::replaceImplementation:
            return "hook";
        case RuntimeChange::Kind::addProperty:
            return "add-property";
    }
    return "?";
}

bool changed(const std::vector<RuntimeChange>& changes, const std::string& className, bool isMeta,
             const std::string& member, RuntimeChange::Kind kind) {
    return std::any_of(changes.begin(), changes.end(), [&](const RuntimeChange& c) {
        return c.accepted && c.kind == kind && c.className == className && c.isMeta == isMeta && c.member == member;
    });
}

void describeMethods(std::ostream& out, Class cls, const std::vector<RuntimeChange>& changes, const char* sign) {
    for (Method method : class_copyMethodList(cls)) {
        std::string selector = sel_getName(method_getName(method));
        bool isMeta = class_isMetaClass(cls);
        const char* state =
            changed(changes, class_getName(cls), isMeta, selector, RuntimeChange::Kind::addMethod) ? "added"
            : changed(changes, class_getName(cls), isMeta, selector, RuntimeChange::Kind::replaceImplementation)
                ? "replaced"
                : "original";
        out << "  " << sign << selector << "  " << method_getTypeEncoding(method) << "  " << state << "\n";
    }
}

}  // namespace

void describeChanges(std::ostream& out, size_t firstChange) {
    std::vector<RuntimeChange> all = objc_copyChangeJournal();
    std::vector<RuntimeChange> changes(all.begin() + static_cast<long>(std::min(firstChange, all.size())), all.end());

    out << "changes: " << changes.size() << "\n";
    std::vector<std::string> touched;
    for (size_t i = 0; i < changes.size(); ++i) {
        const RuntimeChange& c = changes[i];
        out << i + 1 << ". " << c.className << " " << kindName(c.kind) << " " << (c.isMeta ? "+" : "") << c.member
            << " " << c.detail << (c.accepted ? "" : " (refused)") << "\n";
        if (std::find(touched.begin(), touched.end(), c.className) == touched.end()) touched.push_back(c.className);
    }
    for (const std::string& name : touched) {
        Class cls = objc_getClass(name.c_str());
        if (cls == Nil) continue;
        out << "class " << name << " : " << class_getName(class_getSuperclass(cls)) << "\n";
        describeMethods(out, object_getClass(cls), changes, "+");
        describeMethods(out, cls, changes, "-");
        for (objc_property_t property : class_copyPropertyList(cls))
            out << "  @property " << property_getName(property) << "  " << property_getAttributes(property) << "\n";
    }
}

}  // namespace device

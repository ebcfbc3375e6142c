#include "AddedProperties.h"

#include <cctype>
#include <string>

void addRetainedObjectProperty(Class cls, const char* name, const char* typeName, PropertyAccessors accessors) {
    std::string type = std::string("@\"") + typeName + "\"";
    objc_property_attribute_t attributes[] = {{"T", type.c_str()}, {"&", ""}, {"N", ""}};
    class_addProperty(cls, name, attributes, 3);

    const char* objectType = "@";
    std::string getterTypes = std::string(objectType) + "@:";
    std::string setterTypes = std::string("v@:") + objectType;
    std::string setterName = std::string("set") + name + ":";
    setterName[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(setterName[3])));
    class_addMethod(cls, sel_registerName(name), accessors.getter, getterTypes.c_str());
    class_addMethod(cls, sel_registerName(setterName.c_str()), accessors.setter, setterTypes.c_str());
}

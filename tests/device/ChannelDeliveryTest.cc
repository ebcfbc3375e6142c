// Which methods a channel call may reach, decided from the types the run-time reports.
#include <gtest/gtest.h>

#include <Foundation/Foundation.h>

#include "MRYIPC/ChannelDelivery.h"

namespace {

int calls = 0;
void takeOne(id, SEL, id) { ++calls; }
id giveBack(id, SEL, id argument) { return argument; }

Strong<NSObject> targetWithMethods() {
    static Class cls = [] {
        Class c = objc_allocateClassPair(NSObject::objcClass(), "ChannelDeliveryTarget", 0);
        // Qualifiers and class names do not change a method's shape; a block argument does.
        class_addMethod(c, sel_registerName("named:"), reinterpret_cast<IMP>(takeOne), "Vv32@0:8@\"NSString\"16");
        class_addMethod(c, sel_registerName("echo:"), reinterpret_cast<IMP>(giveBack), "r@24@0:8@16");
        class_addMethod(c, sel_registerName("later:"), reinterpret_cast<IMP>(takeOne), "v24@0:8@?16");
        class_addMethod(c, sel_registerName("count:"), reinterpret_cast<IMP>(takeOne), "v24@0:8q16");
        objc_registerClassPair(c);
        return c;
    }();
    return Strong<NSObject>::adopt(class_createInstance(cls, 0));
}

TEST(ChannelDelivery, ObjectAndVoidShapesAreCalledAndOthersAreRefusedWithTheirTypes) {
    Strong<NSObject> target = targetWithMethods();
    Strong<NSObject> argument = makeObject<NSObject>();
    calls = 0;
    device::StatusOr<Strong<NSObject>> named = device::ipc::deliverCall(target, SEL_(named:), argument);
    ASSERT_TRUE(named.ok()) << named.status().message();
    EXPECT_EQ(named->get(), nil);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(device::ipc::deliverCall(target, SEL_(echo:), argument).value_or(nil).get(), argument.get());

    EXPECT_EQ(device::ipc::deliverCall(target, SEL_(later:), argument).status().message(),
              "later: has the type v24@0:8@?16; a channel action takes at most one object and returns an "
              "object or nothing");
    const device::Status count = device::ipc::deliverCall(target, SEL_(count:), argument).status();
    EXPECT_NE(count.message().find("count: has the type v24@0:8q16;"), std::string::npos);
    EXPECT_EQ(calls, 1);
}

}  // namespace

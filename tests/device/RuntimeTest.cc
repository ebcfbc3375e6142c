// The object model: classes, methods, hooks, properties, associated objects, reference counts.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

#include <Foundation/Foundation.h>
#include <objc/ObjcDevice.h>
#include <substrate/substrate.h>

namespace {

// Each test makes classes of its own: the run-time is process-wide and never forgets a class.
std::string uniqueName(const char* base) {
    static std::atomic<int> counter{0};
    return std::string(base) + std::to_string(counter++);
}

Class makeClass(const char* base, Class superclass = NSObject::objcClass()) {
    Class cls = objc_allocateClassPair(superclass, uniqueName(base).c_str(), 0);
    objc_registerClassPair(cls);
    return cls;
}

int answer42(id, SEL) { return 42; }
int answer7(id, SEL) { return 7; }
int twice(id, SEL, int value) { return 2 * value; }

// Counts its deallocations, to see when the last reference went.
std::atomic<int> deallocations{0};
void countingDealloc(id self, SEL cmd) {
    deallocations++;
    object_dispose(self);
}

Class countingClass() {
    static Class cls = [] {
        Class c = makeClass("Counted");
        class_addMethod(c, sel_registerName("dealloc"), reinterpret_cast<IMP>(countingDealloc), "v@:");
        return c;
    }();
    return cls;
}

Strong<NSObject> newCounted() { return Strong<NSObject>::adopt(objc_msgSend<id>(countingClass(), SEL_(new))); }

TEST(RuntimeClasses, AreFoundByNameWithTheirSuperclassAndMetaclass) {
    Class base = makeClass("Base");
    Class derived = makeClass("Derived", base);
    EXPECT_EQ(objc_getClass(class_getName(derived)), derived);
    EXPECT_EQ(class_getSuperclass(derived), base);
    EXPECT_TRUE(class_isMetaClass(object_getClass(derived)));
    EXPECT_EQ(class_getSuperclass(object_getClass(derived)), object_getClass(base));
    EXPECT_EQ(objc_getClass("NoSuchClassAnywhere"), Nil);
    EXPECT_EQ(objc_allocateClassPair(base, class_getName(base), 0), Nil) << "a taken name is refused";
    EXPECT_EQ(sel_registerName("a:b:"), sel_registerName(std::string("a:b:").c_str()));
}

TEST(RuntimeMethods, AreInheritedAndOverriddenAndClassMethodsLiveOnTheMetaclass) {
    Class base = makeClass("Base");
    Class derived = makeClass("Derived", base);
    ASSERT_TRUE(class_addMethod(base, SEL_(answer), reinterpret_cast<IMP>(answer42), "i@:"));
    ASSERT_TRUE(class_addMethod(object_getClass(base), SEL_(twice:), reinterpret_cast<IMP>(twice), "i@:i"));
    Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(derived, 0));
    EXPECT_EQ(objc_msgSend<int>(object, SEL_(answer)), 42);
    EXPECT_EQ(objc_msgSend<int>(derived, SEL_(twice:), 21), 42) << "class methods are inherited by subclasses";

    EXPECT_TRUE(class_addMethod(derived, SEL_(answer), reinterpret_cast<IMP>(answer7), "i@:"))
        << "an inherited method may be overridden";
    EXPECT_EQ(objc_msgSend<int>(object, SEL_(answer)), 7);
    EXPECT_FALSE(class_addMethod(derived, SEL_(answer), reinterpret_cast<IMP>(answer42), "i@:"))
        << "a method the class itself has is refused";
    EXPECT_EQ(objc_msgSend<int>(object, SEL_(answer)), 7) << "and the existing one stays";
}

TEST(RuntimeMessages, ToNilGiveZeroAndUnknownSelectorsRaise) {
    EXPECT_EQ(objc_msgSend<int>(nil, SEL_(anything)), 0);
    EXPECT_EQ(objc_msgSend<id>(nil, SEL_(anything)), nil);
    Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(makeClass("Plain"), 0));
    try {
        objc_msgSend<void>(object, SEL_(noSuchMethod));
        FAIL() << "expected an exception";
    } catch (const NSException& exception) {
        EXPECT_EQ(exception.name(), NSInvalidArgumentException);
        EXPECT_NE(exception.reason().find("noSuchMethod"), std::string::npos);
    }
}

#ifndef NDEBUG
TEST(RuntimeMessagesDeathTest, CalledWithTheWrongTypesAbortWithBothTypeStrings) {
    Class cls = makeClass("Typed");
    class_addMethod(cls, SEL_(twice:), reinterpret_cast<IMP>(twice), "i20@0:8i16");
    Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(cls, 0));
    EXPECT_DEATH(objc_msgSend<int>(object, SEL_(twice:), 2.5), "called as \"i@:d\".*\"i20@0:8i16\"");
}
#endif

TEST(RuntimeProperties, KeepTheirAttributesAndRefuseADuplicate) {
    Class cls = makeClass("WithProperty");
    objc_property_attribute_t attributes[] = {{"T", "@\"CADisplayLink\""}, {"&", ""}, {"N", ""}};
    ASSERT_TRUE(class_addProperty(cls, "link", attributes, 3));
    EXPECT_FALSE(class_addProperty(cls, "link", attributes, 1));
    objc_property_t property = class_getProperty(cls, "link");
    ASSERT_NE(property, nullptr);
    EXPECT_STREQ(property_getAttributes(property), "T@\"CADisplayLink\",&,N");
    auto list = property_copyAttributeList(property);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[1].name, "&");
    EXPECT_STREQ(list[1].value, "");
}

IMP previousAnswer = nullptr;
int hookedAnswer(id self, SEL cmd) { return 1000 + reinterpret_cast<int (*)(id, SEL)>(previousAnswer)(self, cmd); }

TEST(Hooking, AnInheritedMethodChangesOnTheNamedClassOnly) {
    Class base = makeClass("Base");
    Class derived = makeClass("Derived", base);
    class_addMethod(base, SEL_(answer), reinterpret_cast<IMP>(answer42), "i@:");
    MSHookMessageEx(derived, SEL_(answer), reinterpret_cast<IMP>(hookedAnswer), &previousAnswer);
    EXPECT_EQ(previousAnswer, reinterpret_cast<IMP>(answer42));
    Strong<NSObject> baseObject = Strong<NSObject>::adopt(class_createInstance(base, 0));
    Strong<NSObject> derivedObject = Strong<NSObject>::adopt(class_createInstance(derived, 0));
    EXPECT_EQ(objc_msgSend<int>(derivedObject, SEL_(answer)), 1042);
    EXPECT_EQ(objc_msgSend<int>(baseObject, SEL_(answer)), 42);
    EXPECT_STREQ(method_getTypeEncoding(class_getInstanceMethod(derived, SEL_(answer))), "i@:");
}

TEST(Hooking, AMissingClassOrMethodLeavesTheSlotAlone) {
    IMP slot = reinterpret_cast<IMP>(answer7);
    MSHookMessageEx(Nil, SEL_(answer), reinterpret_cast<IMP>(hookedAnswer), &slot);
    MSHookMessageEx(makeClass("Empty"), SEL_(answer), reinterpret_cast<IMP>(hookedAnswer), &slot);
    EXPECT_EQ(slot, reinterpret_cast<IMP>(answer7));
}

IMP raceSlot = nullptr;
int raceHook(id self, SEL cmd) {
    // Reached only after the slot was filled: a null slot here would crash.
    return 1 + reinterpret_cast<int (*)(id, SEL)>(raceSlot)(self, cmd);
}

TEST(Hooking, TheSlotIsFilledBeforeAnyCallReachesTheReplacement) {
    Class cls = makeClass("Raced");
    class_addMethod(cls, SEL_(answer), reinterpret_cast<IMP>(answer42), "i@:");
    Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(cls, 0));
    std::atomic<bool> hooked{false};
    std::atomic<int> wrong{0};
    std::thread caller([&] {
        while (!hooked.load()) {
            int result = objc_msgSend<int>(object, SEL_(answer));
            if (result != 42 && result != 43) wrong++;
        }
        for (int i = 0; i < 100; ++i) {
            if (objc_msgSend<int>(object, SEL_(answer)) != 43) wrong++;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    MSHookMessageEx(cls, SEL_(answer), reinterpret_cast<IMP>(raceHook), &raceSlot);
    hooked = true;
    caller.join();
    EXPECT_EQ(wrong.load(), 0);
}

IMP previousDealloc = nullptr;
std::vector<std::string> deallocOrder;
void hookedDealloc(id self, SEL cmd) {
    deallocOrder.push_back("hook");
    reinterpret_cast<void (*)(id, SEL)>(previousDealloc)(self, cmd);
}

TEST(ReferenceCounting, TheLastReleaseSendsDeallocThroughTheRuntimeSoAHookRunsFirst) {
    Class base = countingClass();
    Class cls = makeClass("HookedDealloc", base);
    MSHookMessageEx(cls, SEL_(dealloc), reinterpret_cast<IMP>(hookedDealloc), &previousDealloc);
    int before = deallocations.load();
    {
        Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(cls, 0));
        Strong<NSObject> second = object;
        object = nullptr;
        EXPECT_EQ(deallocations.load(), before) << "still referenced";
    }
    EXPECT_EQ(deallocOrder, std::vector<std::string>{"hook"});
    EXPECT_EQ(deallocations.load(), before + 1) << "the hook called through to the original dealloc";
}

TEST(AssociatedObjects, AreRetainedReplacedAndReleasedWithTheirOwner) {
    static const char key = 0, otherKey = 0;
    int before = deallocations.load();
    {
        Strong<NSObject> owner = newCounted();
        Strong<NSObject> first = newCounted();
        objc_setAssociatedObject(owner, &key, first, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
        NSObject* firstRaw = first.get();
        first = nullptr;
        EXPECT_EQ(objc_getAssociatedObject(owner, &key), firstRaw) << "the association keeps it alive";
        EXPECT_EQ(objc_getAssociatedObject(owner, &otherKey), nil);

        objc_setAssociatedObject(owner, &key, newCounted(), OBJC_ASSOCIATION_RETAIN_NONATOMIC);
        EXPECT_EQ(deallocations.load(), before + 1) << "replacing releases the old value";
        objc_setAssociatedObject(owner, &otherKey, newCounted(), OBJC_ASSOCIATION_RETAIN_NONATOMIC);
        objc_setAssociatedObject(owner, &otherKey, nil, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
        EXPECT_EQ(deallocations.load(), before + 2) << "nil removes and releases";
        EXPECT_EQ(objc_getAssociatedObject(owner, &otherKey), nil);
    }
    EXPECT_EQ(deallocations.load(), before + 4) << "the owner and its remaining value";
}

TEST(AssociatedObjects, AnAssignedValueIsNotRetained) {
    static const char key = 0;
    Strong<NSObject> owner = newCounted();
    Strong<NSObject> value = newCounted();
    intptr_t count = objc_retainCount(value);
    objc_setAssociatedObject(owner, &key, value, OBJC_ASSOCIATION_ASSIGN);
    EXPECT_EQ(objc_retainCount(value), count);
    EXPECT_EQ(objc_getAssociatedObject(owner, &key), value.get());
}

TEST(Blocks, KeepWhatTheyCaptureUntilTheyGo) {
    int before = deallocations.load();
    {
        Strong<NSObject> captured = newCounted();
        auto block = makeBlock([captured] { return objc_retainCount(captured) > 0; });
        captured = nullptr;
        EXPECT_EQ(deallocations.load(), before);
        EXPECT_TRUE((*block)());
    }
    EXPECT_EQ(deallocations.load(), before + 1);
}

}  // namespace

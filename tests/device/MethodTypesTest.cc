// A method's types as the run-time reports them, and methods registered from C++ functions with the
// type string made from their signature.
#include <gtest/gtest.h>
#include <atomic>
#include <cstdlib>
#include <memory>

#include <Foundation/Foundation.h>

#include <CoreGraphics/CGContext.h>
#include <CoreGraphics/CGTypeEncoding.h>
#include <objc/MethodRegistration.h>

namespace {

std::string uniqueName(const char* base) {
    static std::atomic<int> counter{0};
    return std::string(base) + std::to_string(counter++);
}

void nothing(id, SEL) {}

// A method of a fresh class with the given type string.
Method methodWithTypes(const char* types) {
    Class cls = objc_allocateClassPair(NSObject::objcClass(), uniqueName("TypesProbe").c_str(), 0);
    objc_registerClassPair(cls);
    class_addMethod(cls, SEL_(probe), reinterpret_cast<IMP>(nothing), types);
    return class_getInstanceMethod(cls, SEL_(probe));
}

// The malloc'd string as a std::string, freed; "(null)" for nullptr.
std::string take(char* type) {
    std::unique_ptr<char, decltype(&std::free)> owned(type, &std::free);
    return type ? type : "(null)";
}

TEST(MethodTypes, ReturnAndArgumentTypesDropOffsetsAndKeepQualifiersAndClassNames) {
    Method m = methodWithTypes("r^{CGImage=}56@0:8@\"NSString\"16{CGRect={CGPoint=dd}{CGSize=dd}}24");
    EXPECT_EQ(method_getNumberOfArguments(m), 4u);
    EXPECT_EQ(take(method_copyReturnType(m)), "r^{CGImage=}");
    EXPECT_EQ(take(method_copyArgumentType(m, 0)), "@");
    EXPECT_EQ(take(method_copyArgumentType(m, 1)), ":");
    EXPECT_EQ(take(method_copyArgumentType(m, 2)), "@\"NSString\"");
    EXPECT_EQ(take(method_copyArgumentType(m, 3)), "{CGRect={CGPoint=dd}{CGSize=dd}}");
    EXPECT_EQ(take(method_copyArgumentType(m, 4)), "(null)");
}

TEST(MethodTypes, ScalarsBlocksAndStringsWithoutOffsetsCountTheSame) {
    Method voidMethod = methodWithTypes("v@:");
    EXPECT_EQ(method_getNumberOfArguments(voidMethod), 2u);
    EXPECT_EQ(take(method_copyReturnType(voidMethod)), "v");
    EXPECT_EQ(take(method_copyArgumentType(voidMethod, 2)), "(null)");

    Method mixed = methodWithTypes("i40@0:8@?16q24Vr*32");
    EXPECT_EQ(method_getNumberOfArguments(mixed), 5u);
    EXPECT_EQ(take(method_copyReturnType(mixed)), "i");
    EXPECT_EQ(take(method_copyArgumentType(mixed, 2)), "@?");
    EXPECT_EQ(take(method_copyArgumentType(mixed, 3)), "q");
    EXPECT_EQ(take(method_copyArgumentType(mixed, 4)), "Vr*");
}

TEST(MethodTypes, CopyingIntoABufferTruncatesAsStrncpyAndGivesEmptyPastTheEnd) {
    Method m = methodWithTypes("{CGSize=dd}16@0:8");
    char buffer[32];
    method_getReturnType(m, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "{CGSize=dd}");
    method_getArgumentType(m, 1, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, ":");
    method_getArgumentType(m, 2, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    method_getReturnType(m, small, 4);
    EXPECT_EQ(std::string(small, 5), "{CGSx");
}

TEST(MethodTypes, ANilMethodHasNoTypes) {
    EXPECT_EQ(method_getNumberOfArguments(nullptr), 0u);
    EXPECT_EQ(method_copyReturnType(nullptr), nullptr);
    EXPECT_EQ(method_copyArgumentType(nullptr, 0), nullptr);
    char buffer[4] = "abc";
    method_getReturnType(nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
}

// A class whose members are registered with the helper.
class Counter : public NSObject {
public:
    static Class objcClass();

    void add(NSInteger amount) { total_ += amount; }
    NSInteger total() const { return total_; }
    BOOL sameTotalAs(Counter* other) const { return other != nullptr && other->total_ == total_; }
    CGRect square(CGFloat side, BOOL centred) const {
        return centred ? CGRectMake(-side / 2, -side / 2, side, side) : CGRectMake(0, 0, side, side);
    }
    static id make() { return makeObject<Counter>().detach(); }

private:
    NSInteger total_ = 0;
};

// Does more than forward: what the block is told is the total.
void reportTotal(Counter* self, Block<void(NSInteger)>* report) {
    if (report) (*report)(self->total());
}

void addCounterMembers(Class c) {
    objc_addInstanceMethod<&Counter::add>(c, "add:");
    objc_addInstanceMethod<&Counter::total>(c, "total");
    objc_addInstanceMethod<&Counter::sameTotalAs>(c, "sameTotalAs:");
    objc_addInstanceMethod<&Counter::square>(c, "squareWithSide:centred:");
    objc_addInstanceMethod<&reportTotal>(c, "reportTotal:");
    objc_addClassMethod<&Counter::make>(c, "counter");
}

Class Counter::objcClass() {
    static Class cls =
        objc_defineClass<Counter>(uniqueName("RegisteredCounter").c_str(), NSObject::objcClass(), addCounterMembers);
    return cls;
}

const char* typesOf(Class cls, const char* selector) {
    return method_getTypeEncoding(class_getInstanceMethod(cls, sel_registerName(selector)));
}

TEST(MethodRegistration, RegisteredMembersAnswerMessages) {
    Strong<NSObject> counter = Strong<NSObject>::adopt(objc_msgSend<id>(Counter::objcClass(), SEL_(counter)));
    ASSERT_NE(objc_cast<Counter>(counter.get()), nullptr);
    objc_msgSend<void, NSInteger>(counter, SEL_(add:), 5);
    objc_msgSend<void, NSInteger>(counter, SEL_(add:), -2);
    EXPECT_EQ(objc_msgSend<NSInteger>(counter, SEL_(total)), 3);

    Strong<Counter> other = makeObject<Counter>();
    EXPECT_FALSE(objc_msgSend<BOOL>(counter, SEL_(sameTotalAs:), other.get()));
    other->add(3);
    EXPECT_TRUE(objc_msgSend<BOOL>(counter, SEL_(sameTotalAs:), other.get()));
    // An object of another class reaches the member as nil.
    Strong<NSObject> stranger = makeObject<NSObject>();
    EXPECT_FALSE(objc_msgSend<BOOL>(counter, SEL_(sameTotalAs:), stranger.get()));

    Method square = class_getInstanceMethod(Counter::objcClass(), SEL_(squareWithSide:centred:));
    auto call = reinterpret_cast<CGRect (*)(id, SEL, CGFloat, BOOL)>(method_getImplementation(square));
    EXPECT_TRUE(CGRectEqualToRect(call(counter, SEL_(squareWithSide:centred:), 4, YES), CGRectMake(-2, -2, 4, 4)));

    NSInteger reported = 0;
    auto report = makeBlock([&reported](NSInteger total) { reported = total; });
    objc_msgSend<void, id>(counter, SEL_(reportTotal:), report.get());
    EXPECT_EQ(reported, 3);
}

TEST(MethodRegistration, TypeStringsAreTheOnesTheCompilerWrites) {
    Class cls = Counter::objcClass();
    EXPECT_STREQ(typesOf(cls, "add:"), "v24@0:8q16");
    EXPECT_STREQ(typesOf(cls, "total"), "q16@0:8");
    EXPECT_STREQ(typesOf(cls, "sameTotalAs:"), "B24@0:8@16");
    EXPECT_STREQ(typesOf(cls, "squareWithSide:centred:"), "{CGRect={CGPoint=dd}{CGSize=dd}}28@0:8d16B24");
    EXPECT_STREQ(typesOf(cls, "reportTotal:"), "v24@0:8@?16");
    EXPECT_STREQ(typesOf(object_getClass(cls), "counter"), "@16@0:8");
    // The run-time's own classes, as the system's hook table spells them.
    EXPECT_STREQ(typesOf(object_getClass(NSObject::objcClass()), "alloc"), "@16@0:8");
    EXPECT_STREQ(typesOf(NSObject::objcClass(), "dealloc"), "v16@0:8");
    EXPECT_STREQ(typesOf(NSObject::objcClass(), "respondsToSelector:"), "B24@0:8:16");
    EXPECT_STREQ(typesOf(NSObject::objcClass(), "isKindOfClass:"), "B24@0:8#16");
}

TEST(MethodRegistration, PointersToOpaqueStructsAndScalarsAreSpelledOut) {
    EXPECT_EQ((objc_detail::methodTypes<CGImageRef, id, CGRect>()),
              "^{CGImage=}56@0:8@16{CGRect={CGPoint=dd}{CGSize=dd}}24");
    EXPECT_EQ((objc_detail::methodTypes<BOOL, CGFloat*, CGFloat*>()), "B32@0:8^d16^d24");
    EXPECT_EQ((objc_detail::methodTypes<void, CGRect, CGBlendMode, CGFloat>()),
              "v60@0:8{CGRect={CGPoint=dd}{CGSize=dd}}16i48d52");
    EXPECT_EQ((objc_detail::methodTypes<id, id, SEL>()), "@32@0:8@16:24");
}

TEST(MethodRegistration, ASecondMethodOfTheSameNameIsRefused) {
    Class cls = Counter::objcClass();
    EXPECT_FALSE(objc_addInstanceMethod<&Counter::total>(cls, "add:"));
    EXPECT_STREQ(typesOf(cls, "add:"), "v24@0:8q16");
    EXPECT_FALSE(objc_addClassMethod<&Counter::make>(Nil, "counter"));
}

}  // namespace

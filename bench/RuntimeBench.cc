// The cost of the run-time's hot paths: a message, a reference count round, an associated object.
#include <benchmark/benchmark.h>

#include <Foundation/Foundation.h>
#include <objc/MethodRegistration.h>

namespace {

int answer(NSObject*) { return 42; }

Class benchClass() {
    static Class cls = [] {
        Class base = objc_allocateClassPair(NSObject::objcClass(), "RuntimeBenchBase", 0);
        objc_registerClassPair(base);
        objc_addInstanceMethod<&answer>(base, "answer");
        Class derived = objc_allocateClassPair(base, "RuntimeBenchDerived", 0);
        objc_registerClassPair(derived);
        return derived;
    }();
    return cls;
}

void BM_MessageToInheritedMethod(benchmark::State& state) {
    Strong<NSObject> object = Strong<NSObject>::adopt(class_createInstance(benchClass(), 0));
    for (auto _ : state) benchmark::DoNotOptimize(objc_msgSend<int>(object, SEL_(answer)));
}
BENCHMARK(BM_MessageToInheritedMethod);

void BM_RetainRelease(benchmark::State& state) {
    Strong<NSString> object = NSString::stringWithUTF8String("x");
    for (auto _ : state) {
        objc_retain(object);
        objc_release(object);
    }
}
BENCHMARK(BM_RetainRelease);

void BM_AssociatedObjectGet(benchmark::State& state) {
    static const char key = 0;
    Strong<NSObject> owner = Strong<NSObject>::adopt(class_createInstance(benchClass(), 0));
    objc_setAssociatedObject(owner, &key, NSSTR("value"), OBJC_ASSOCIATION_RETAIN_NONATOMIC);
    for (auto _ : state) benchmark::DoNotOptimize(objc_getAssociatedObject(owner, &key));
}
BENCHMARK(BM_AssociatedObjectGet);

}  // namespace

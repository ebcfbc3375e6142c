// The library's constructor, its globals, added properties, call-through hooks and the
// main-queue helper, each exercised in a fresh child process that loads the library.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

#include <AVKit/AVSampleBufferDisplayLayer.h>
#include <QuartzCore/CADisplayLink.h>
#include <UIKit/UIResponder.h>
#include <apps/GlimmoraContract.h>
#include <apps/GlimmoraSettings.h>
#include <objc/ObjcDevice.h>

#include "LoadedLibrary.h"
#include "support/ChildProcess.h"
#include "support/TempDirectory.h"

namespace {

#define CHECK(condition) \
    if (!(condition)) return std::string("failed: ") + #condition

class LoadTimeSetup : public ::testing::Test {
protected:
    void SetUp() override { setenv("GLIMMORA_DEVICE", device.path().c_str(), 1); }
    TempDirectory device;
};

TEST_F(LoadTimeSetup, RegistersTheDefaultsAndStartsWithTheGlobalsInPlace) {
    EXPECT_EQ(runInChild([] {
                  LoadedLibrary library = loadLibraryAs("com.example.notes");
                  CHECK(library.error.empty());
                  HBPreferences* settings = *library.preferences;
                  CHECK(settings != nullptr);
                  CHECK(settings->identifier()->isEqualToString(NSSTR(device::kGlimmoraSettingsIdentifier)));
                  CHECK(settings->boolForKey(NSSTR(device::kEnabledKey)) == YES);
                  CHECK(settings->boolForKey(NSSTR(device::kActiveKey)) == YES);
                  CHECK(settings->boolForKey(NSSTR(device::kYoutubeKey)) == NO);
                  CHECK(*library.readyForUpdates == YES);
                  CHECK(*library.homeManager == nullptr);
                  return std::string();
              }),
              "");
}

// What the run-time knows of HomeManager, or why it falls short.
std::string homeManagerRegistration() {
    Class cls = objc_getClass("HomeManager");
    CHECK(cls != Nil);
    CHECK(class_getSuperclass(cls) == NSObject::objcClass());
    Method shared = class_getClassMethod(cls, SEL_(sharedManager));
    CHECK(shared != nullptr && std::string(method_getTypeEncoding(shared)) == "@16@0:8");
    Method send = class_getInstanceMethod(cls, SEL_(send:));
    CHECK(send != nullptr && std::string(method_getTypeEncoding(send)) == "v24@0:8@16");
    IMP baseInit = class_getMethodImplementation(NSObject::objcClass(), SEL_(init));
    CHECK(class_getMethodImplementation(cls, SEL_(init)) != baseInit);
    return std::string();
}

TEST_F(LoadTimeSetup, RegistersHomeManagerWhenLoadedWhateverTheProcessAndSettings) {
    for (const char* bundle : {"com.google.ios.youtube", "com.example.notes", ""}) {
        EXPECT_EQ(runInChild([bundle] {
                      CHECK(objc_getClass("HomeManager") == Nil);
                      LoadedLibrary library = loadLibraryAs(bundle);
                      CHECK(library.error.empty());
                      return homeManagerRegistration();
                  }),
                  "")
            << bundle;
    }
    // Switched off, the library installs nothing, but its class is there all the same.
    auto settings = device::openGlimmoraSettings();
    settings->setObject_forKey(NSNumber::numberWithBool(NO), NSSTR(device::kEnabledKey));
    EXPECT_EQ(runInChild([] {
                  LoadedLibrary library = loadLibraryAs("com.apple.mobilesafari");
                  CHECK(library.error.empty());
                  CHECK(objc_getClass("AVFullScreenViewController") != Nil);
                  CHECK(class_getInstanceMethod(objc_getClass("AVFullScreenViewController"), SEL_(update)) == nullptr);
                  return homeManagerRegistration();
              }),
              "");
}

TEST_F(LoadTimeSetup, AddedPropertiesKeepTheirOwnRetainedValues) {
    EXPECT_EQ(runInChild([] {
                  LoadedLibrary library = loadLibraryAs("com.apple.springboard");
                  CHECK(library.error.empty());
                  Strong<NSObject> board =
                      Strong<NSObject>::adopt(objc_msgSend<id>(objc_getClass("SpringBoard"), SEL_(new)));
                  CHECK(objc_msgSend<id>(board, SEL_(glimColor)) == nil);
                  CHECK(objc_msgSend<id>(board, SEL_(glimDisplayLink)) == nil);

                  Strong<NSString> colour = NSString::stringWithUTF8String("a colour");
                  intptr_t count = objc_retainCount(colour);
                  objc_msgSend<void>(board, SEL_(setGlimColor:), colour.get());
                  CHECK(objc_retainCount(colour) == count + 1);
                  CHECK(objc_msgSend<id>(board, SEL_(glimColor)) == colour.get());
                  CHECK(objc_msgSend<id>(board, SEL_(glimDisplayLink)) == nil);

                  objc_msgSend<void>(board, SEL_(setGlimColor:), nil);
                  CHECK(objc_retainCount(colour) == count);
                  CHECK(objc_msgSend<id>(board, SEL_(glimColor)) == nil);

                  objc_msgSend<void>(board, SEL_(setGlimDisplayLink:), colour.get());
                  board = nullptr;
                  CHECK(objc_retainCount(colour) == count);
                  return std::string();
              }),
              "");
}

std::vector<std::string> calls;
void recordAppearance(id, SEL cmd, BOOL animated) {
    calls.push_back(std::string(sel_getName(cmd)) + (animated ? " YES" : " NO"));
}
void recordLaunch(id, SEL cmd, id application) {
    calls.push_back(std::string(sel_getName(cmd)) + (application ? " application" : " nil"));
}

TEST_F(LoadTimeSetup, HooksInTheVideoAppsCallThroughWithTheSameArguments) {
    EXPECT_EQ(runInChild([] {
                  // The player's own methods hand on to UIViewController's, which record the call.
                  Class viewController = UIViewController::objcClass();
                  for (const char* name : {"viewDidAppear:", "viewWillDisappear:", "viewDidDisappear:"})
                      class_replaceMethod(viewController, sel_registerName(name),
                                          reinterpret_cast<IMP>(recordAppearance), "v20@0:8B16");
                  LoadedLibrary library = loadLibraryAs("com.apple.mobilesafari");
                  CHECK(library.error.empty());

                  Strong<NSObject> player =
                      Strong<NSObject>::adopt(objc_msgSend<id>(objc_getClass("AVFullScreenViewController"), SEL_(new)));
                  objc_msgSend<void>(player, SEL_(viewDidAppear:), YES);
                  objc_msgSend<void>(player, SEL_(viewWillDisappear:), NO);
                  objc_msgSend<void>(player, SEL_(viewDidDisappear:), YES);
                  CHECK((calls == std::vector<std::string>{"viewDidAppear: YES", "viewWillDisappear: NO",
                                                           "viewDidDisappear: YES"}));
                  objc_msgSend<void>(player, SEL_(update));

                  // dealloc calls through, so the object and its associations go.
                  // A link made but never scheduled: the player holds it, and lets it go when it goes.
                  Strong<NSObject> target = Strong<NSObject>::adopt(objc_msgSend<id>(NSObject::objcClass(), SEL_(new)));
                  Strong<CADisplayLink> held = CADisplayLink::displayLinkWithTarget_selector(target, SEL_(description));
                  intptr_t count = objc_retainCount(held);
                  objc_msgSend<void>(player, SEL_(setDisplayLink:), held.get());
                  CHECK(objc_retainCount(held) == count + 1);
                  player = nullptr;
                  CHECK(objc_retainCount(held) == count);

                  auto layer = Strong<AVSampleBufferDisplayLayer>::adopt(static_cast<AVSampleBufferDisplayLayer*>(
                      objc_msgSend<id>(objc_getClass("AVSampleBufferDisplayLayer"), SEL_(new))));
                  objc_msgSend<void>(layer, SEL_(enqueueSampleBuffer:), static_cast<CMSampleBufferRef>(nullptr));
                  CHECK(layer->enqueuedSampleCount() == 1);
                  return std::string();
              }),
              "");
}

TEST_F(LoadTimeSetup, TheLaunchHookCallsThroughInTheHomeScreen) {
    EXPECT_EQ(runInChild([] {
                  class_replaceMethod(UIApplication::objcClass(), SEL_(applicationDidFinishLaunching:),
                                      reinterpret_cast<IMP>(recordLaunch), "v24@0:8@16");
                  LoadedLibrary library = loadLibraryAs("com.apple.springboard");
                  CHECK(library.error.empty());
                  Strong<NSObject> board =
                      Strong<NSObject>::adopt(objc_msgSend<id>(objc_getClass("SpringBoard"), SEL_(new)));
                  objc_msgSend<void>(board, SEL_(applicationDidFinishLaunching:), board.get());
                  CHECK((calls == std::vector<std::string>{"applicationDidFinishLaunching: application"}));
                  return std::string();
              }),
              "");
}

TEST_F(LoadTimeSetup, RunOnMainQueueRunsAtOnceOnTheMainThreadAndWaitsForItElsewhere) {
    EXPECT_EQ(runInChild([] {
                  LoadedLibrary library = loadLibraryAs("");
                  CHECK(library.error.empty());

                  bool ranInline = false;
                  library.runOnMainQueueWithoutDeadlocking(makeBlock([&] { ranInline = NSThread::isMainThread(); }));
                  CHECK(ranInline);

                  std::atomic<bool> ranOnMain{false}, blockFinished{false}, returnedAfterBlock{false}, returned{false};
                  std::thread other([&] {
                      library.runOnMainQueueWithoutDeadlocking(makeBlock([&] {
                          std::this_thread::sleep_for(std::chrono::milliseconds(20));
                          ranOnMain = NSThread::isMainThread();
                          blockFinished = true;
                      }));
                      returnedAfterBlock = blockFinished.load();
                      returned = true;
                  });
                  while (!returned.load())
                      NSRunLoop::mainRunLoop()->runUntilDate(RunLoopClock::now() + std::chrono::milliseconds(5));
                  other.join();
                  CHECK(ranOnMain.load());
                  CHECK(returnedAfterBlock.load());
                  return std::string();
              }),
              "");
}

}  // namespace

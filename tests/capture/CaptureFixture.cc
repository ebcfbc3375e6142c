#include "CaptureFixture.h"

#include <cstdlib>

#include <CoreGraphics/CGDevice.h>

namespace {
void recordMessage(id self, SEL, id message) {
    auto* server = static_cast<RecordingServer*>(self);
    std::lock_guard hold(server->lock);
    server->received.push_back(message ? message->description() : "nil");
}
}  // namespace

Class RecordingServer::objcClass() {
    static Class cls = [] {
        Class c = objc_defineClass<RecordingServer>("RecordingColourServer", NSObject::objcClass());
        class_addMethod(c, sel_registerName("_updateColors:"), reinterpret_cast<IMP>(recordMessage), "v@:@");
        return c;
    }();
    return cls;
}

Class DeallocWitness::objcClass() {
    static Class cls = objc_defineClass<DeallocWitness>("DeallocWitness", NSObject::objcClass());
    return cls;
}

TempDirectory* CaptureTest::device = nullptr;
RecordingServer* CaptureTest::server = nullptr;

void CaptureTest::SetUpTestSuite() {
    if (device != nullptr) return;
    device = new TempDirectory;
    setenv("GLIMMORA_DEVICE", device->path().c_str(), 1);
    device::registerProcessClasses("com.apple.mobilesafari");
    preferences = HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier());
    installHookTable();
    server = makeObject<RecordingServer>().detach();
    MRYIPCCenter::centerNamed(glimmoraServerName())->addTarget_action(server, updateColorsSelector());
}

void CaptureTest::SetUp() {
    setActive(true);
    __atomic_store_n(&readyForUpdates, YES, __ATOMIC_RELEASE);
    std::lock_guard hold(server->lock);
    server->received.clear();
}

void FrameClockTest::watchDeallocation(id object, std::atomic<bool>* gone) {
    auto witness = makeObject<DeallocWitness>();
    witness->flag = gone;
    static const char witnessKey = 0;
    objc_setAssociatedObject(object, &witnessKey, witness, OBJC_ASSOCIATION_RETAIN_NONATOMIC);
}

void CaptureTest::setActive(bool on) { preferences->setObject_forKey(NSNumber::numberWithBool(on).get(), activeKey()); }

Strong<AVFullScreenViewController> FrameClockTest::makePlayer(uint8_t blue, uint8_t green, uint8_t red) {
    auto player = Strong<AVFullScreenViewController>::adopt(
        static_cast<AVFullScreenViewController*>(objc_msgSend<id>(AVFullScreenViewController::objcClass(), SEL_(new))));
    std::vector<uint8_t> pixels;
    for (int i = 0; i < 16 * 9; ++i) pixels.insert(pixels.end(), {blue, green, red, 255});
    CGImageRef frame = CGImageCreateWithBGRAData(16, 9, 16 * 4, pixels.data(), true);
    player->playerLayerView()->setContents(frame);
    CGImageRelease(frame);
    return player;
}

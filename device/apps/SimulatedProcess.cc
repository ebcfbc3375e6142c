#include "SimulatedProcess.h"

#include <pthread.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <iostream>
#include <thread>

#include "../AVKit/AVFullScreenViewController.h"
#include "../AVKit/AVSampleBufferDisplayLayer.h"
#include "../Foundation/Foundation.h"
#include "../Foundation/FoundationDevice.h"
#include "../MRYIPC/MRYIPCCenter.h"
#include "../MRYIPC/MRYIPCDevice.h"
#include "../dispatch/dispatch.h"
#include "../objc/runtime.h"
#include "../substrate/Loader.h"

#include "ChangeReport.h"
#include "GlimmoraContract.h"
#include "SpringBoard.h"

namespace device {

namespace {

bool isVideoApp(const std::string& bundleIdentifier) {
    return bundleIdentifier == "com.apple.mobilesafari" || bundleIdentifier == "com.google.ios.youtube";
}

// SIGINT and SIGTERM end the main run loop, so the process ends cleanly: blocked in every thread
// and taken by one watcher.
void stopRunLoopOnSignals() {
    static sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([] {
        int received = 0;
        sigwait(&signals, &received);
        NSRunLoop::mainRunLoop()->stop();
    }).detach();
}

// After the launch: a home screen whose library was asked to serve the colour channel and could not
// must not run on as if healthy. False, having said why, when it cannot serve.
bool colourChannelServed() {
    ipc::ServeState state = ipc::serveState(kColourChannelName);
    if (!state.asked) {
        std::cerr << "glimmora app: the library does not serve the colour channel in this process (is \"Enabled\" "
                     "off?), so no colour reaches the lights"
                  << std::endl;
        return true;
    }
    if (state.failure.empty()) return true;
    std::cerr << "glimmora app: the home screen cannot serve its colour channel: " << state.failure << std::endl;
    return false;
}

// As UIApplicationMain does: the application object, told on the main queue that it has launched.
// When the home screen cannot serve, `*failed` is set and the main run loop stopped.
Strong<NSObject> launchApplication(std::atomic<bool>* failed) {
    Class applicationClass = objc_getClass("SpringBoard");
    if (applicationClass == Nil) return nullptr;
    Strong<NSObject> application = Strong<NSObject>::adopt(objc_msgSend<id>(applicationClass, SEL_(new)));
    dispatch_async(dispatch_get_main_queue(), makeBlock([application, failed] {
                       objc_msgSend<void>(application, SEL_(applicationDidFinishLaunching:), application.get());
                       if (!colourChannelServed()) {
                           failed->store(true);
                           NSRunLoop::mainRunLoop()->stop();
                       }
                   }));
    return application;
}

}  // namespace

void registerProcessClasses(const std::string& bundleIdentifier) {
    if (bundleIdentifier == "com.apple.springboard") SpringBoard::objcClass();
    if (isVideoApp(bundleIdentifier)) {
        AVFullScreenViewController::objcClass();
        AVSampleBufferDisplayLayer::objcClass();
    }
}

namespace {

void nameAndRegister(const std::string& bundleIdentifier) {
    device::FoundationDevice::setMainBundleIdentifier(bundleIdentifier.empty() ? nullptr : bundleIdentifier.c_str());
    registerProcessClasses(bundleIdentifier);
}

Status loadLibrary() {
    std::string library = tweakLibraryPath();
    if (Status failure = loadTweakLibrary(library); !failure.ok())
        return Status::error("cannot load " + library + ": " + failure.message());
    return Status::OK();
}

}  // namespace

Status prepareProcess(const std::string& bundleIdentifier) {
    // Before any thread starts, so that every thread inherits the blocked signals.
    stopRunLoopOnSignals();
    nameAndRegister(bundleIdentifier);
    return loadLibrary();
}

int runSimulatedProcess(const ProcessOptions& options, std::ostream& out) {
    if (options.describe) {
        nameAndRegister(options.bundleIdentifier);
        // Only what the library changes is described.
        size_t firstChange = objc_copyChangeJournal().size();
        if (Status loaded = loadLibrary(); !loaded.ok()) {
            std::cerr << "glimmora app: " << loaded.message() << "\n";
            return 1;
        }
        describeChanges(out, firstChange);
        return 0;
    }
    if (Status prepared = prepareProcess(options.bundleIdentifier); !prepared.ok()) {
        std::cerr << "glimmora app: " << prepared.message() << "\n";
        return 1;
    }

    std::atomic<bool> cannotServe{false};
    Strong<NSObject> application = launchApplication(&cannotServe);
    std::cerr << "glimmora app: " << (options.bundleIdentifier.empty() ? "process" : options.bundleIdentifier)
              << " running (pid " << getpid() << "); SIGINT or SIGTERM ends it" << std::endl;
    NSRunLoop::mainRunLoop()->run();
    return cannotServe ? 1 : 0;
}

}  // namespace device

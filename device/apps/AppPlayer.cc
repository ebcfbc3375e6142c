#include "AppPlayer.h"

#include "../Foundation/Foundation.h"
#include "../dispatch/dispatch.h"

#include "ColourDelivery.h"
#include "SimulatedProcess.h"

namespace device {

namespace {

void sendAppearance(id controller, SEL selector) { objc_msgSend<void>(controller, selector, YES); }

}  // namespace

std::unique_ptr<AppPlayer> AppPlayer::open(const std::string& bundleIdentifier, std::ostream& err) {
    if (Status prepared = prepareProcess(bundleIdentifier); !prepared.ok()) {
        err << "glimmora play: " << prepared.message() << "\n";
        return nullptr;
    }
    auto* player =
        static_cast<AVFullScreenViewController*>(objc_msgSend<id>(AVFullScreenViewController::objcClass(), SEL_(new)));
    std::unique_ptr<AppPlayer> made(new AppPlayer(player));
    warnWhenNoHomeScreen(err);
    return made;
}

AppPlayer::AppPlayer(AVFullScreenViewController* player)
    : player_(player), layer_(player->playerLayerView()->displayLayer()) {}

void AppPlayer::present() {
    presented_ = true;
    AVFullScreenViewController* player = player_;
    dispatch_async(dispatch_get_main_queue(), makeBlock([player] { sendAppearance(player, SEL_(viewDidAppear:)); }));
}

void AppPlayer::runUntilPlaybackEnds() { NSRunLoop::mainRunLoop()->run(); }

void AppPlayer::endPlayback() {
    dispatch_async(dispatch_get_main_queue(), makeBlock([] { NSRunLoop::mainRunLoop()->stop(); }));
}

void AppPlayer::close() {
    if (presented_) {
        sendAppearance(player_, SEL_(viewWillDisappear:));
        sendAppearance(player_, SEL_(viewDidDisappear:));
    }
    objc_release(player_);
    player_ = nullptr;
}

}  // namespace device

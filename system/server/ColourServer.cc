#include "ColourServer.h"

#include <Foundation/Foundation.h>
#include <UIKit/UIKit.h>

#include "globals/Globals.h"
#include "home/HomeManager.h"
#include "platform/Channel.h"

namespace colourServer {

IMP previousApplicationDidFinishLaunching = nullptr;

void applicationDidFinishLaunching(id self, SEL _cmd, id application) {
    reinterpret_cast<void (*)(id, SEL, id)>(previousApplicationDidFinishLaunching)(self, _cmd, application);

    HomeManager* shared = HomeManager::sharedManager();
    objc_retain(shared);
    objc_release(homeManager);
    homeManager = shared;

    MRYIPCCenter* center = MRYIPCCenter::centerNamed(glimmoraServerName());
    center->addTarget_action(self, updateColorsSelector());
}

Strong<UIColor> colourFromMessage(id message) {
    float components[4] = {0, 0, 0, 0};
    if (message != nil) {
        // A client can send any value; only text is a colour message.
        auto* text = objc_cast<NSString>(message);
        if (text == nil) return nullptr;
        Strong<NSArray> fields = text->componentsSeparatedByString(NSSTR(","));
        // The sender always writes four; a shorter message is not a colour.
        if (fields->count() < 4) return nullptr;
        for (NSUInteger i = 0; i < 4; ++i)
            components[i] = static_cast<NSString*>(fields->objectAtIndex(i))->floatValue();
    }
    return UIColor::colorWithRed_green_blue_alpha(components[0], components[1], components[2], components[3]);
}

void updateColors(id, SEL, id message) {
    Strong<UIColor> colour = colourFromMessage(message);
    if (!colour) return;
    Strong<NSArray> colours = NSArray::arrayWithObjects({colour.get()});

    runOnMainQueueWithoutDeadlocking(makeBlock([colours] {
                                         try {
                                             objc_msgSend<void>(homeManager, SEL_(send:), colours.get());
                                         } catch (const NSException&) {
                                             // The controller's trouble must not end the home screen.
                                         }
                                     }).get());
}

}  // namespace colourServer

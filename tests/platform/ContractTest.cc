// The names the library and the device agree on are written once on each side; the two copies
// must say the same, or the device's tools would talk to a channel or store the library never opens.
#include <gtest/gtest.h>

#include <apps/GlimmoraContract.h>

#include "platform/Channel.h"
#include "platform/Settings.h"

namespace {

TEST(Contract, TheDeviceAndTheLibraryNameTheSameChannelStoreAndKeys) {
    EXPECT_STREQ(glimmoraServerName()->UTF8String(), device::kColourChannelName);
    EXPECT_STREQ(sel_getName(updateColorsSelector()), device::kColourMethodName);
    EXPECT_STREQ(glimmoraSettingsIdentifier()->UTF8String(), device::kGlimmoraSettingsIdentifier);
    EXPECT_STREQ(enabledKey()->UTF8String(), device::kEnabledKey);
    EXPECT_STREQ(activeKey()->UTF8String(), device::kActiveKey);
    EXPECT_STREQ(youtubeKey()->UTF8String(), device::kYoutubeKey);
    EXPECT_STREQ(homesKey()->UTF8String(), device::kHomesKey);
    EXPECT_STREQ(roomsKey()->UTF8String(), device::kRoomsKey);
}

}  // namespace

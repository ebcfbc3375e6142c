// Writing colours to lights: the arithmetic, the unchanged and in-flight rules, and colours spread
// over several lights.
#include <cmath>
#include <map>

#include <UIKit/UIKit.h>

#include "HomeFixture.h"
#include "TestHome.h"

namespace {

class ColourWriter : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        writeHome(testHome);
        select(livingRoomIdentifier);
        controller_ = makeController();
        lights_ = controller_->lights();
        ASSERT_EQ(lights_.size(), 4u);  // Lamp, Bare Bulb, Strip A, Strip B
    }
    void TearDown() override { EXPECT_TRUE(settle(controller_)); }

    HMService* lamp() const { return lights_[0]; }
    HMService* bareBulb() const { return lights_[1]; }
    HMService* stripB() const { return lights_[3]; }

    // Writes one value and waits for HomeKit to answer; returns what HomeKit holds then.
    long long writeAndRead(HMService* light, NSString* type, float value) {
        HMCharacteristic* c = characteristic(light, type);
        controller_->writeCharacteristic(c, value);
        EXPECT_TRUE(settle(controller_));
        return held(c);
    }

    void apply(std::vector<Strong<UIColor>> colours) { controller_->applyColors(colours); }

    std::map<HMCharacteristic*, bool> entries() {
        std::map<HMCharacteristic*, bool> result;
        for (const auto& [c, inFlight] : controller_->updating()) result[c.get()] = inFlight;
        return result;
    }

    Strong<ExposedHomeManager> controller_;
    std::vector<Strong<HMService>> lights_;
};

TEST_F(ColourWriter, ScalesToTheMaximumInSinglePrecisionAndTruncates) {
    // 0.29f is 0.28999999...; its single-precision product with 100 is exactly 29, a double one 28.99999.
    EXPECT_EQ(writeAndRead(lamp(), HMCharacteristicTypeBrightness, 0.29f), 29);
    EXPECT_EQ(writeAndRead(lamp(), HMCharacteristicTypeBrightness, 0.555f), 55);
    EXPECT_EQ(writeAndRead(lamp(), HMCharacteristicTypeSaturation, 0.999f), 99);
    EXPECT_EQ(writeAndRead(lamp(), HMCharacteristicTypeHue, 0.5f), 180);
    // A hue of 1 is 360, not wrapped to 0.
    EXPECT_EQ(writeAndRead(lamp(), HMCharacteristicTypeHue, 1.0f), 360);
}

TEST_F(ColourWriter, WithoutMetadataTheBoundIsOneOrAHundred) {
    EXPECT_EQ(writeAndRead(bareBulb(), HMCharacteristicTypePowerState, 1.0f), 1);
    EXPECT_EQ(writeAndRead(bareBulb(), HMCharacteristicTypeBrightness, 0.7f), 0);
    EXPECT_EQ(writeAndRead(bareBulb(), HMCharacteristicTypeBrightness, 1.5f), 150);
}

TEST_F(ColourWriter, AProductNoIntegerHoldsIsNotWritten) {
    HMCharacteristic* hue = characteristic(lamp(), HMCharacteristicTypeHue);
    controller_->writeCharacteristic(hue, NAN);
    controller_->writeCharacteristic(hue, INFINITY);
    controller_->writeCharacteristic(hue, 1e30f);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(held(hue), -1);

    // The rest of the colour goes on as usual.
    apply({UIColor::colorWithRed_green_blue_alpha(NAN, 0, 0, 1)});
    ASSERT_TRUE(settle(controller_));
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypePowerState)), 1);
}

TEST_F(ColourWriter, WritesPowerBrightnessSaturationAndHueOfTheColour) {
    // Red 1, green 0.5, blue 0.25: brightness 1, saturation 0.75, hue 1/18 (20 degrees).
    apply({UIColor::colorWithRed_green_blue_alpha(1.0, 0.5, 0.25, 1.0)});
    ASSERT_TRUE(settle(controller_));
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypePowerState)), 1);
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeBrightness)), 100);
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeSaturation)), 75);
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeHue)), 20);
    // No metadata: every component is scaled by 1.
    EXPECT_EQ(held(characteristic(bareBulb(), HMCharacteristicTypeBrightness)), 1);
    EXPECT_EQ(held(characteristic(bareBulb(), HMCharacteristicTypeSaturation)), 0);
    // Other types are never written.
    EXPECT_EQ(entries().count(characteristic(lamp(), HMCharacteristicTypeName)), 0u);
}

TEST_F(ColourWriter, BlackKeepsTheLightOn) {
    apply({UIColor::colorWithRed_green_blue_alpha(0, 0, 0, 1)});
    ASSERT_TRUE(settle(controller_));
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypePowerState)), 1);
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeBrightness)), 0);
}

TEST_F(ColourWriter, TheSameColourTwiceWritesNothingTheSecondTime) {
    Strong<UIColor> colour = UIColor::colorWithRed_green_blue_alpha(0.2, 0.4, 0.9, 1.0);
    apply({colour});
    ASSERT_TRUE(settle(controller_));
    std::map<HMCharacteristic*, bool> before = entries();
    EXPECT_EQ(before.size(), 16u);

    apply({colour});
    EXPECT_EQ(entries(), before);  // nothing new in flight
}

TEST_F(ColourWriter, AWriteInFlightPassesOverTheRestOfItsLight) {
    // Bare Bulb's first characteristic and Strip B's third are still being written.
    HMCharacteristic* barePower = characteristic(bareBulb(), HMCharacteristicTypePowerState);
    HMCharacteristic* stripSaturation = characteristic(stripB(), HMCharacteristicTypeSaturation);
    controller_->setUpdating(
        {{Strong<HMCharacteristic>(barePower), true}, {Strong<HMCharacteristic>(stripSaturation), true}});

    apply({UIColor::colorWithRed_green_blue_alpha(0.3, 0.6, 0.9, 1.0)});
    std::map<HMCharacteristic*, bool> written = entries();
    // Bare Bulb: nothing at all.
    EXPECT_EQ(written.count(characteristic(bareBulb(), HMCharacteristicTypeBrightness)), 0u);
    EXPECT_EQ(written.count(characteristic(bareBulb(), HMCharacteristicTypeHue)), 0u);
    // Strip B: power and brightness, then nothing from the third on.
    EXPECT_EQ(written.count(characteristic(stripB(), HMCharacteristicTypePowerState)), 1u);
    EXPECT_EQ(written.count(characteristic(stripB(), HMCharacteristicTypeBrightness)), 1u);
    EXPECT_EQ(written.count(characteristic(stripB(), HMCharacteristicTypeHue)), 0u);
    // The lights before and after are written as usual.
    EXPECT_EQ(written.count(characteristic(lamp(), HMCharacteristicTypeHue)), 1u);

    // Only a completion clears a mark; the two marks set here never get one.
    controller_->modifyUpdating([&](UpdatingTable& table) {
        table[Strong<HMCharacteristic>(barePower)] = false;
        table[Strong<HMCharacteristic>(stripSaturation)] = false;
    });
}

TEST_F(ColourWriter, ColoursAreDealtToTheLightsInTurn) {
    apply({UIColor::colorWithRed_green_blue_alpha(1, 0, 0, 1), UIColor::colorWithRed_green_blue_alpha(0, 0, 1, 1)});
    ASSERT_TRUE(settle(controller_));
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeHue)), 0);
    EXPECT_EQ(held(characteristic(lights_[2], HMCharacteristicTypeHue)), 0);
    EXPECT_EQ(held(characteristic(stripB(), HMCharacteristicTypeHue)), 240);
    EXPECT_EQ(held(characteristic(stripB(), HMCharacteristicTypeSaturation)), 100);
}

TEST_F(ColourWriter, SendPassesOverWhatIsNotAColour) {
    controller_->send(nil);
    controller_->send(NSArray::array());
    EXPECT_TRUE(entries().empty());

    Strong<UIColor> green = UIColor::colorWithRed_green_blue_alpha(0, 1, 0, 1);
    controller_->send(NSArray::arrayWithObjects({NSSTR("not a colour"), green.get()}));
    ASSERT_TRUE(settle(controller_));
    EXPECT_EQ(held(characteristic(lamp(), HMCharacteristicTypeHue)), 120);
}

}  // namespace

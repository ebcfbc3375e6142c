#include "ExampleHome.h"

#include <utility>

#include "HomeDescriptionWriter.h"
#include "TypeNames.h"

namespace {

using namespace device;

ValueLimits limits(const char* format, std::optional<double> minimum = {}, std::optional<double> maximum = {},
                   std::optional<double> step = {}, const char* units = "") {
    return {format, minimum, maximum, step, units};
}

ValueLimits percentage() { return limits("int", 0, 100, 1, "percentage"); }

CharacteristicDescription characteristic(const char* type, Strong<NSObject> value,
                                         std::optional<ValueLimits> metadata = {}) {
    CharacteristicDescription c;
    c.type = type;
    c.value = std::move(value);
    c.metadata = std::move(metadata);
    return c;
}

Strong<NSObject> flag(bool on) { return NSNumber::numberWithBool(on); }
Strong<NSObject> whole(long long value) { return NSNumber::numberWithLongLong(value); }

ServiceDescription service(const char* type, std::vector<CharacteristicDescription> characteristics) {
    ServiceDescription s;
    s.type = type;
    s.characteristics = std::move(characteristics);
    return s;
}

// A lightbulb service with HomeKit's usual metadata for each characteristic.
ServiceDescription colourBulb(const char* name, bool on, int brightness, int saturation, int hue) {
    ServiceDescription bulb =
        service(kLightbulbServiceType, {characteristic(kPowerStateType, flag(on), limits("bool")),
                                        characteristic(kBrightnessType, whole(brightness), percentage()),
                                        characteristic(kSaturationType, whole(saturation), percentage()),
                                        characteristic(kHueType, whole(hue), limits("float", 0, 360, 1, "arcdegrees")),
                                        characteristic(kNameType, NSString::stringWithString(name), limits("string"))});
    bulb.name = name;
    bulb.nameGiven = true;
    return bulb;
}

AccessoryDescription accessory(const char* name, std::vector<ServiceDescription> services, int latencyMs = 0) {
    AccessoryDescription a;
    a.name = name;
    if (latencyMs > 0) a.latencyMs = latencyMs;
    a.services = std::move(services);
    return a;
}

RoomDescription room(const char* name, std::vector<AccessoryDescription> accessories) {
    RoomDescription r;
    r.name = name;
    r.accessories = std::move(accessories);
    return r;
}

HomeDescription home(const char* name, bool primary, std::vector<RoomDescription> rooms) {
    HomeDescription h;
    h.name = name;
    h.primary = primary;
    h.rooms = std::move(rooms);
    return h;
}

}  // namespace

std::string exampleHomeDescription() {
    ServiceDescription bareBulb =
        service(kLightbulbServiceType,
                {characteristic(kPowerStateType, flag(false)), characteristic(kBrightnessType, whole(50)),
                 characteristic(kSaturationType, whole(0)), characteristic(kHueType, whole(0))});
    ServiceDescription warmBulb = service(
        kLightbulbServiceType, {characteristic(kPowerStateType, flag(true), limits("bool")),
                                characteristic(kBrightnessType, whole(40), percentage()),
                                characteristic(kColorTemperatureType, whole(370), limits("uint32", 140, 500, 1))});
    ServiceDescription fan = service(
        kFanServiceType, {characteristic(kPowerStateType, flag(false), limits("bool")),
                          characteristic(kRotationSpeedType, whole(0), limits("float", 0, 100, 1, "percentage"))});
    ServiceDescription outlet =
        service(kOutletServiceType, {characteristic(kPowerStateType, flag(true), limits("bool"))});
    ServiceDescription hallSwitch =
        service(kSwitchServiceType, {characteristic(kPowerStateType, flag(false), limits("bool"))});

    HomesDescription description;
    description.homes = {
        home("Home", true,
             {room("Living Room", {accessory("Floor Lamp", {colourBulb("Floor Lamp", true, 80, 60, 30)}),
                                   accessory("TV Backlight", {colourBulb("Backlight Left", true, 100, 100, 210),
                                                              colourBulb("Backlight Right", true, 100, 100, 210)}),
                                   accessory("Ceiling Fan", {fan})}),
              room("Kitchen", {accessory("Pendant", {bareBulb}),
                               accessory("Counter Strip", {colourBulb("Counter Strip", false, 60, 20, 45)}, 300),
                               accessory("Coffee Maker", {outlet})}),
              room("Guest_Room", {accessory("Bedside Lamp", {warmBulb}),
                                  accessory("Reading Light", {colourBulb("Reading Light", false, 70, 10, 50)})}),
              room("Hallway", {accessory("Hall Switch", {hallSwitch})})}),
        home("Studio", false,
             {room("Workshop", {accessory("Desk Lamp", {colourBulb("Desk Lamp", true, 90, 0, 0)}),
                                accessory("Shelf Light", {colourBulb("Shelf Light", false, 30, 80, 280)})})}),
    };
    return writeHomeDescription(description);
}

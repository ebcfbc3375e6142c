// The names the library and the device agree on, written once on the device's side: the colour
// channel and its method, the settings store and its keys. The device's tools, the demo, the
// benchmarks and the tests use these; the library has its own copy under platform/, and a test
// checks that the two agree.
#pragma once

namespace device {

// The channel on which the library's colour server, in the home screen, receives the colours.
inline constexpr const char* kColourChannelName = "com.tovek.glimmoraserver";
// The server method that receives one colour message.
inline constexpr const char* kColourMethodName = "_updateColors:";

// The settings store the library reads ("Enabled", "Active", "Youtube" and one switch per room).
inline constexpr const char* kGlimmoraSettingsIdentifier = "com.tovek.glimmora";
inline constexpr const char* kEnabledKey = "Enabled";
inline constexpr const char* kActiveKey = "Active";
inline constexpr const char* kYoutubeKey = "Youtube";
// The homes and rooms catalogue the home screen publishes.
inline constexpr const char* kHomesKey = "Homes";
inline constexpr const char* kRoomsKey = "Rooms";

}  // namespace device

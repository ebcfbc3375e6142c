// The home the light controller's tests use: two homes, lights with and without metadata, an
// accessory with two lightbulb services, a fan, a room nobody selects and a room name with an
// underscore. Identifier texts are fixed so that tests can select rooms by them.
#pragma once

constexpr const char* casaIdentifier = "A0000000-0000-4000-8000-000000000001";
constexpr const char* cabinIdentifier = "A0000000-0000-4000-8000-000000000002";
constexpr const char* livingRoomIdentifier = "B0000000-0000-4000-8000-000000000011";
constexpr const char* kitchenIdentifier = "B0000000-0000-4000-8000-000000000012";
constexpr const char* guestRoomIdentifier = "B0000000-0000-4000-8000-000000000021";

constexpr const char* testHome = R"({
  "homes": [
    {"name": "Casa", "uuid": "A0000000-0000-4000-8000-000000000001", "primary": true, "rooms": [
      {"name": "Living Room", "uuid": "B0000000-0000-4000-8000-000000000011", "accessories": [
        {"name": "Lamp", "latencyMs": 0, "services": [
          {"type": "lightbulb", "name": "Lamp", "characteristics": [
            {"type": "name", "value": "Lamp"},
            {"type": "power", "metadata": {"format": "bool"}},
            {"type": "brightness", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100, "stepValue": 1}},
            {"type": "saturation", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 100}},
            {"type": "hue", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360}}]}]},
        {"name": "Bare Bulb", "latencyMs": 0, "services": [
          {"type": "lightbulb", "name": "Bare Bulb", "characteristics": [
            {"type": "power"}, {"type": "brightness"}, {"type": "saturation"}, {"type": "hue"}]}]},
        {"name": "Strip", "latencyMs": 0, "services": [
          {"type": "lightbulb", "name": "Strip A", "characteristics": [
            {"type": "power", "metadata": {"format": "bool"}},
            {"type": "brightness", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100}},
            {"type": "saturation", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 100}},
            {"type": "hue", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360}}]},
          {"type": "lightbulb", "name": "Strip B", "characteristics": [
            {"type": "power", "metadata": {"format": "bool"}},
            {"type": "brightness", "metadata": {"format": "int", "minimumValue": 0, "maximumValue": 100}},
            {"type": "saturation", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 100}},
            {"type": "hue", "metadata": {"format": "float", "minimumValue": 0, "maximumValue": 360}}]}]},
        {"name": "Fan", "latencyMs": 0, "services": [
          {"type": "fan", "name": "Fan", "characteristics": [{"type": "power"}, {"type": "rotationSpeed"}]}]}]},
      {"name": "Kitchen", "uuid": "B0000000-0000-4000-8000-000000000012", "accessories": [
        {"name": "Kitchen Lamp", "latencyMs": 0, "services": [
          {"type": "lightbulb", "name": "Kitchen Lamp", "characteristics": [{"type": "power"}, {"type": "hue"}]}]}]}]},
    {"name": "Cabin", "uuid": "A0000000-0000-4000-8000-000000000002", "rooms": [
      {"name": "Guest_Room", "uuid": "B0000000-0000-4000-8000-000000000021", "accessories": [
        {"name": "Cabin Lamp", "latencyMs": 0, "services": [
          {"type": "lightbulb", "name": "Cabin Lamp", "characteristics": [{"type": "power"}, {"type": "brightness"}]}]}]}]}
  ]
})";

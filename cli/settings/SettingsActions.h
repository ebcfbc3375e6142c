// What the settings page changes, through the same stores and operations as the command line
// (`prefs write`, `home select`, `home pair`, `home unpair`), so that both always agree. Each
// says what it did in `*message`, or returns why it did nothing.
#pragma once

#include <functional>
#include <string>

#include <base/Status.h>

// Writes switch `key` as a Boolean: "Enabled", "Active", "Youtube", or a room of the published
// catalogue by its identifier text.
device::Status writeSwitch(const std::string& key, bool on, std::string* message);

// Pairs the accessory that advertises device identifier `id` as accessory `name` in room `room`
// of the primary home, with setup code `code` (used once, never kept). `stopping` is asked
// between the steps.
device::Status pairAdvertisedAccessory(const std::string& id, const std::string& name, const std::string& room,
                                       const std::string& code, std::function<bool()> stopping, std::string* message);

// Unpairs the lamp named `name` (or with that pairing identifier), on the lamp and here.
device::Status unpairLamp(const std::string& name, std::string* message);

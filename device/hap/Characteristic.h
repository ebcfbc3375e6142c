// A characteristic as the /characteristics exchanges carry it: named by accessory and instance
// identifiers, with the value written to it, the status a write got back, or the value it reported.
#pragma once

#include <cstdint>
#include <string>

namespace device::hap {

struct CharacteristicRef {
    uint64_t aid = 0, iid = 0;
};
struct CharacteristicWrite {
    uint64_t aid = 0, iid = 0;
    std::string value;  // JSON text
};
struct CharacteristicStatus {
    uint64_t aid = 0, iid = 0;
    int status = 0;  // 0 = taken; otherwise the accessory's status code, e.g. -70410
};
struct CharacteristicReport {
    uint64_t aid = 0, iid = 0;
    std::string value;  // JSON text
};

}  // namespace device::hap

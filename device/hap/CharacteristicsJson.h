// The JSON bodies of /characteristics: writes and subscriptions out, statuses and values back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../base/StatusOr.h"
#include "Characteristic.h"

namespace device::hap {

// {"characteristics":[{"aid":1,"iid":10,"value":true},...]}; values are JSON text as given.
std::string writeBody(const std::vector<CharacteristicWrite>& writes);
// {"characteristics":[{"aid":1,"iid":10,"ev":true},...]}
std::string subscribeBody(const std::vector<CharacteristicRef>& refs);
// "/characteristics?id=1.10,1.11"
std::string readPath(const std::vector<CharacteristicRef>& refs);
// The statuses of a 207 answer, one for each write in order (a write the answer leaves out gets
// the status of "no answer", -70402).
device::StatusOr<std::vector<CharacteristicStatus>> parseWriteStatuses(std::string_view body,
                                                                       const std::vector<CharacteristicWrite>& writes);
// The values of a read answer or an event; entries without a value are left out.
device::StatusOr<std::vector<CharacteristicReport>> parseValues(std::string_view body);

}  // namespace device::hap

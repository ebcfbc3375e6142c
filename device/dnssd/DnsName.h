// Domain names as the resolver library presents them: dotted, with a dot, backslash or other
// special character inside a label escaped ("\."), and bytes outside printable ASCII, spaces
// included, as three decimal digits ("Test\032Lamp._hap._tcp.local"). Functions only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace device::dnssd {

// The labels of `name`, unescaped; nothing when an escape is cut off or names no byte (\256).
std::optional<std::vector<std::string>> nameLabels(const std::string& name);

// The form two names are compared in: DNS names are the same whatever the case of their ASCII letters.
std::string nameKey(const std::string& name);

}  // namespace device::dnssd

// What a loaded library did to a process's classes, as `glimmora app --describe` prints it.
#pragma once

#include <cstddef>
#include <ostream>

namespace device {

// Prints the run-time changes made since change number `firstChange`, in order, then every class
// they touched with all its own methods (selector, type string, whether the implementation was
// replaced or the method added) and properties (name, attributes).
void describeChanges(std::ostream& out, size_t firstChange);

}  // namespace device

// Name-based identifiers (RFC 4122 version 5: SHA-1 of a namespace and a name), so that objects
// the home description gives no uuid still have the same identifier in every process and run.
// Device only; pure functions, any thread.
#pragma once

#include <string_view>

#include "../Foundation/Foundation.h"

// The version 5 identifier of `name` in `space`.
Strong<NSUUID> nameBasedUUID(const NSUUID* space, std::string_view name);

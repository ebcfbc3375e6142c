// Writing a home description as the text of "home.json": the one place besides the parser
// (HomeDescription.cc) that spells the file's members. Device only; a pure function, any thread.
#pragma once

#include <string>

#include "HomeDescription.h"

// The JSON text of `description` (2-space indent, a trailing newline), in the form
// parseHomeDescription reads back into an equal description: the same identifiers, names, values,
// limits and addresses. Only what the description holds beyond its defaults is written: a "uuid"
// only where one was given (so derived identifiers stay derived and follow their names), a
// service's "name" only when given, "latencyMs", "fault" and "timeoutMs" only when they differ
// from the defaults (and never "latencyMs" or "fault" for a real accessory), "value" and the
// "metadata" fields only when present. Known types are written by their short names. Text that is
// not UTF-8 is written with U+FFFD in place of the bytes that are not.
std::string writeHomeDescription(const HomesDescription& description);

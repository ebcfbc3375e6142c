// Every hook and run-time addition the library makes, in the order it makes them.
#pragma once

// Installs the whole table in this process. Each class is looked up by name; entries on a class
// the process does not have do nothing.
void installHookTable();

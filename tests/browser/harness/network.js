// Whether this process runs inside a network namespace that holds only loopback, up: the one place the
// browser tests and benchmark may start servers, a browser and the test accessory.
"use strict";

const fs = require("fs");
const os = require("os");

// Null inside a loopback-only namespace, else why not (the interfaces beyond loopback, or loopback down).
// The kernel's list of this namespace's interfaces counts those without addresses too.
function notLoopbackOnly() {
    const names = new Set(Object.keys(os.networkInterfaces()));
    try {
        for (const line of fs.readFileSync("/proc/self/net/dev", "utf8").split("\n").slice(2)) {
            if (line.includes(":")) names.add(line.split(":")[0].trim());
        }
    } catch (error) {
        return `cannot read this namespace's interfaces (${error.message})`;
    }
    names.delete("lo");
    if (names.size > 0) return `this process can see the network interfaces ${[...names].join(", ")}, not only loopback`;
    const loopbackUp = Object.values(os.networkInterfaces()).flat().some(address => address.internal);
    return loopbackUp ? null : "the loopback interface is down";
}

module.exports = { notLoopbackOnly };

// The test accessory (tests/accessory/accessory.js, a HomeKit lightbulb on hap-nodejs) on a free port
// of this loopback-only namespace, with storage of its own; its standard error has one line per
// characteristic change.
"use strict";

const fs = require("fs");
const net = require("net");
const os = require("os");
const path = require("path");
const { Child } = require("./child");

const accessoryScript = path.join(__dirname, "..", "..", "accessory", "accessory.js");

// A port nothing listens on now, from the kernel.
function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.on("error", reject);
        server.listen(0, "127.0.0.1", () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

// The identifier accessory.js presents for a port, when given none.
function identifierFor(port) {
    const hex = value => value.toString(16).toUpperCase().padStart(2, "0");
    return `0E:47:4C:00:${hex(port >> 8)}:${hex(port & 0xff)}`;
}

// Starts it and waits until it listens: {child, port, id, name, code, restart(), stop()}. Its
// storage (its pairings) lasts until stop().
async function startAccessory({ code = "031-45-154", advertiser = "bonjour-hap" } = {}) {
    const port = await freePort();
    const storage = fs.mkdtempSync(path.join(os.tmpdir(), "glimmora-accessory-"));
    const name = `Test Lamp ${port}`;
    const launch = async () => {
        const child = new Child([process.execPath, accessoryScript, "--port", String(port), "--code", code,
                                 "--storage", storage, "--name", name, "--advertiser", advertiser],
                                { name: "test accessory" });
        try {
            await child.waitForOutput(new RegExp(`^ready ${port}$`, "m"), { timeoutMs: 20000 });
        } catch (error) {
            await child.stop();
            throw error;
        }
        return child;
    };
    const accessory = {
        port, name, code, id: identifierFor(port),
        // Ends it as a user switching it off would (it says goodbye on the network), keeping its pairings.
        async switchOff() { await accessory.child.stop(); },
        // Starts it again on the same port with the same pairings.
        async restart() {
            await accessory.child.stop();
            accessory.child = await launch();
        },
        async stop() {
            await accessory.child.stop();
            fs.rmSync(storage, { recursive: true, force: true });
        },
    };
    try {
        accessory.child = await launch();
    } catch (error) {
        fs.rmSync(storage, { recursive: true, force: true });
        throw error;
    }
    return accessory;
}

module.exports = { startAccessory };

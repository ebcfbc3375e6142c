#!/usr/bin/env node
// A HomeKit accessory for Glimmora's tests, built on hap-nodejs (a HomeKit accessory library nobody on
// this project wrote): one lightbulb, or a bridge of several, each with On, Brightness, Saturation and
// Hue, on a fixed port with a fixed setup code.
//
// It runs only inside a network namespace that holds nothing but loopback. The package always
// advertises itself over multicast DNS and listens on every address whatever its `bind` option says,
// so the namespace is the one thing that keeps its traffic on this machine: without it, it refuses.
//
//   node accessory.js --port P [--code XXX-XX-XXX] [--storage DIR] [--lights N] [--name NAME]
//                     [--username AA:BB:CC:DD:EE:FF] [--advertiser bonjour-hap|ciao]
//
// Prints "ready <port>" on stdout once listening, one line on stderr per characteristic change, and
// ends on SIGTERM or SIGINT.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");

function fail(message) {
    process.stderr.write(`accessory: ${message}\n`);
    process.exit(2);
}

// The interfaces this process can see other than loopback: those with addresses, and from the kernel's
// list of this network namespace those without. Empty inside a loopback-only namespace.
function interfacesBeyondLoopback() {
    const names = new Set(Object.keys(os.networkInterfaces()));
    try {
        const lines = fs.readFileSync("/proc/self/net/dev", "utf8").split("\n").slice(2);
        for (const line of lines) if (line.includes(":")) names.add(line.split(":")[0].trim());
    } catch (error) {
        // Not Linux: the addresses' list alone.
    }
    names.delete("lo");
    return [...names];
}

function parseArguments(argv) {
    const options = { port: 0, code: "031-45-154", storage: "", lights: 1, name: "", username: "",
                      advertiser: "bonjour-hap" };
    const takes = { "--port": "port", "--code": "code", "--storage": "storage", "--lights": "lights",
                    "--name": "name", "--username": "username", "--advertiser": "advertiser" };
    for (let i = 0; i < argv.length; i++) {
        const key = takes[argv[i]];
        if (key === undefined) fail(`unknown option ${argv[i]}`);
        if (i + 1 >= argv.length) fail(`${argv[i]} needs a value`);
        options[key] = argv[++i];
    }
    options.port = Number(options.port);
    options.lights = Number(options.lights);
    if (!Number.isInteger(options.port) || options.port < 1 || options.port > 65535) {
        fail("--port must be a fixed port between 1 and 65535");
    }
    if (!Number.isInteger(options.lights) || options.lights < 1 || options.lights > 99) {
        fail("--lights must be between 1 and 99");
    }
    if (!/^\d{3}-\d{2}-\d{3}$/.test(options.code)) fail("--code must look like 031-45-154");
    if (options.username === "") {
        // A locally administered identifier that differs per port, so that two accessories differ.
        const hex = value => value.toString(16).toUpperCase().padStart(2, "0");
        options.username = `0E:47:4C:00:${hex(options.port >> 8)}:${hex(options.port & 0xff)}`;
    }
    if (!/^([0-9A-F]{2}:){5}[0-9A-F]{2}$/i.test(options.username)) {
        fail("--username must look like AA:BB:CC:DD:EE:FF");
    }
    if (!["bonjour-hap", "ciao"].includes(options.advertiser)) fail("--advertiser must be bonjour-hap or ciao");
    if (options.storage === "") options.storage = path.join(os.tmpdir(), `glimmora-accessory-${options.port}`);
    // Names are announced over multicast DNS: two accessories of one name in one network would clash.
    if (options.name === "") options.name = `${options.lights === 1 ? "Test Lamp" : "Test Bridge"} ${options.port}`;
    return options;
}

const beyond = interfacesBeyondLoopback();
if (beyond.length > 0) {
    fail(`refusing to start: this process can see the network interfaces ${beyond.join(", ")}, not only ` +
         "loopback. The accessory advertises itself over multicast DNS and listens on every address, " +
         "and nothing in the package turns that off, so it runs only inside a network namespace holding " +
         "nothing but loopback (scripts/loopback-only, or unshare -rn and `ip link set lo up`).");
}
if (!Object.values(os.networkInterfaces()).flat().some(address => address.internal)) {
    fail("refusing to start: the loopback interface is down (run `ip link set lo up` in the namespace)");
}

const options = parseArguments(process.argv.slice(2));

// The storage folder must be set before the package touches its storage.
const hap = require("hap-nodejs");
hap.HAPStorage.setCustomStoragePath(options.storage);
const { Accessory, Bridge, Categories, Characteristic, Service, uuid } = hap;

// A lightbulb accessory named `name` whose changes are logged as "<name> <characteristic> <old> -> <new>".
function lightbulb(name) {
    const accessory = new Accessory(name, uuid.generate(`glimmora-test-accessory:${options.username}:${name}`));
    const service = accessory.addService(Service.Lightbulb, name);
    for (const type of [Characteristic.On, Characteristic.Brightness, Characteristic.Saturation, Characteristic.Hue]) {
        const characteristic = service.getCharacteristic(type);
        characteristic.on("change", change => {
            process.stderr.write(`${name} ${characteristic.displayName} ${JSON.stringify(change.oldValue)} -> ` +
                                 `${JSON.stringify(change.newValue)}\n`);
        });
    }
    return accessory;
}

let published;
if (options.lights === 1) {
    published = lightbulb(options.name);
} else {
    published = new Bridge(options.name, uuid.generate(`glimmora-test-bridge:${options.username}`));
    for (let i = 1; i <= options.lights; i++) published.addBridgedAccessory(lightbulb(`${options.name} ${i}`));
}

published.on("listening", port => process.stdout.write(`ready ${port}\n`));

published.publish({
    username: options.username,
    pincode: options.code,
    port: options.port,
    category: options.lights === 1 ? Categories.LIGHTBULB : Categories.BRIDGE,
    addIdentifyingMaterial: false,
    // The two advertisers that answer on their own: bonjour-hap (announces a few times, then answers
    // only queries sent from port 5353, with no address record on loopback) and ciao (the package's
    // default: answers any query, with address records). The D-Bus advertisers (avahi, resolved)
    // would hand the announcement to a daemon outside the namespace, onto the real network.
    advertiser: options.advertiser,
}).catch(error => fail(`cannot publish: ${error.message}`));

let stopping = false;
function stop() {
    if (stopping) return;
    stopping = true;
    // Bounded: the process ends even when unpublishing hangs.
    setTimeout(() => process.exit(0), 2000).unref();
    published.unpublish().then(() => process.exit(0), () => process.exit(0));
}
process.on("SIGTERM", stop);
process.on("SIGINT", stop);

// A fresh temporary device directory and the `glimmora` commands run on it (the binary named by
// GLIMMORA_BIN): one-off commands, and the home screen, the settings server and video apps in the
// background.
"use strict";

const { execFile } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const { Child } = require("./child");

function glimmoraBinary() {
    const binary = process.env.GLIMMORA_BIN;
    if (!binary) throw new Error("GLIMMORA_BIN must name the built glimmora command");
    return binary;
}

class Device {
    constructor() {
        this.path = fs.mkdtempSync(path.join(os.tmpdir(), "glimmora-browser-"));
        this.env = { ...process.env, GLIMMORA_DEVICE: this.path };
    }

    // Runs `glimmora ARGS...` to its end (at most `timeoutMs`): {code, stdout, stderr}.
    run(args, { timeoutMs = 60000 } = {}) {
        return new Promise(resolve => {
            execFile(glimmoraBinary(), args, { env: this.env, timeout: timeoutMs, maxBuffer: 16 << 20 },
                     (error, stdout, stderr) => {
                         const code = error ? (typeof error.code === "number" ? error.code : null) : 0;
                         resolve({ code, stdout, stderr: stderr + (error && error.killed ? "\n(killed: too slow)" : "") });
                     });
        });
    }

    // Runs a command that must succeed, and returns its standard output.
    async must(args, options) {
        const result = await this.run(args, options);
        if (result.code !== 0) {
            throw new Error(`glimmora ${args.join(" ")} exited ${result.code}:\n${result.stdout}${result.stderr}`);
        }
        return result.stdout;
    }

    // `glimmora ARGS...` in the background.
    start(args) { return new Child([glimmoraBinary(), ...args], { env: this.env, name: `glimmora ${args[0]}` }); }

    // A setting of com.tovek.glimmora as `prefs read` prints it ("YES", "NO"...), null when unset.
    async setting(key) {
        const result = await this.run(["prefs", "read", "com.tovek.glimmora", key]);
        if (result.code === 1 && /has no value/.test(result.stderr)) return null;
        if (result.code !== 0) throw new Error(`prefs read ${key} exited ${result.code}: ${result.stderr}`);
        return result.stdout.trim();
    }

    // The home as `home show --json` gives it.
    async home() { return JSON.parse(await this.must(["home", "show", "--json"])); }

    // The rooms of every home: [{name, uuid, home, selected, lights}].
    async rooms() {
        return (await this.home()).homes.flatMap(home => home.rooms.map(room => ({ ...room, home: home.name })));
    }

    file(name) { return path.join(this.path, name); }

    remove() { fs.rmSync(this.path, { recursive: true, force: true }); }
}

// The home screen of `device`, serving its colour channel. It publishes the catalogue of homes and
// rooms about 2 s later.
async function startSpringboard(device) {
    const springboard = device.start(["springboard"]);
    await springboard.waitForOutput(/running \(pid \d+\)/, { stream: "err", timeoutMs: 30000 });
    return springboard;
}

// The settings server of `device` on a free port: {child, url, origin, token, port}, from the first
// line it prints.
async function startSettings(device, extraArgs = []) {
    const child = device.start(["settings", "--port", "0", ...extraArgs]);
    const [line] = await child.waitForOutput(/^[^\n]*\n/, { timeoutMs: 30000 });
    const match = line.trim().match(/^(http:\/\/127\.0\.0\.1:(\d+))\/\?token=([0-9a-f]{64})$/);
    if (!match) {
        await child.stop();
        throw new Error(`the settings server's first line is not its page's address: ${JSON.stringify(line)}`);
    }
    return { child, url: match[0], origin: match[1], port: Number(match[2]), token: match[3] };
}

// A live source of one colour for `seconds`, as `play --live` takes it.
function colourSource(colour, seconds) { return `lavfi:color=c=${colour}:s=160x120:r=30:d=${seconds}`; }

// A live source whose hue turns all the way round every `period` seconds, a new colour every frame.
function turningSource(seconds, period = 4) {
    return `lavfi:color=c=red:s=160x120:r=30:d=${seconds},hue=H=2*PI*t/${period}`;
}

module.exports = { Device, startSpringboard, startSettings, colourSource, turningSource };

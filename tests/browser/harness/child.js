// A background process whose output is kept and can be waited on, and which is always stopped: by
// `stop`, and with SIGKILL at the latest when this Node process exits.
"use strict";

const { spawn } = require("child_process");

const running = new Set();
process.on("exit", () => {
    for (const child of running) child.process.kill("SIGKILL");
});

class Child {
    // `argv[0]` is the program; `name` labels errors.
    constructor(argv, { env = process.env, name = argv[0] } = {}) {
        this.name = name;
        this.out = "";
        this.err = "";
        this.process = spawn(argv[0], argv.slice(1), { env, stdio: ["ignore", "pipe", "pipe"] });
        this.pid = this.process.pid;
        this.process.stdout.setEncoding("utf8").on("data", text => { this.out += text; });
        this.process.stderr.setEncoding("utf8").on("data", text => { this.err += text; });
        running.add(this);
        // Resolves with {code, signal} once the process has ended and its output is read to the end.
        this.exited = new Promise(resolve => {
            this.process.on("error", error => {
                this.err += `cannot start ${argv[0]}: ${error.message}\n`;
                running.delete(this);
                resolve({ code: null, signal: null });
            });
            this.process.on("close", (code, signal) => {
                running.delete(this);
                resolve({ code, signal });
            });
        });
    }

    get running() { return running.has(this); }

    // Waits until `pattern` matches the output of `stream` ("out" or "err") and returns the match;
    // throws when the process ends first or after `timeoutMs`.
    async waitForOutput(pattern, { stream = "out", timeoutMs = 20000 } = {}) {
        const deadline = Date.now() + timeoutMs;
        for (;;) {
            const match = this[stream].match(pattern);
            if (match) return match;
            if (!this.running) throw new Error(`${this.name} ended before printing ${pattern}:\n${this.output()}`);
            if (Date.now() >= deadline) {
                throw new Error(`${this.name} did not print ${pattern} within ${timeoutMs} ms:\n${this.output()}`);
            }
            await new Promise(resolve => setTimeout(resolve, 50));
        }
    }

    // Sends `signal` and waits `graceMs` for the end, then kills; returns {code, signal}.
    async stop(signal = "SIGTERM", graceMs = 10000) {
        if (!this.running) return this.exited;
        this.process.kill(signal);
        let timer;
        const late = new Promise(resolve => { timer = setTimeout(resolve, graceMs, "late"); });
        const first = await Promise.race([this.exited, late]);
        clearTimeout(timer);
        if (first !== "late") return first;
        this.err += `\n(${this.name} did not end within ${graceMs} ms of ${signal}: killed)\n`;
        this.process.kill("SIGKILL");
        const ended = await this.exited;
        return { ...ended, killed: true };
    }

    output() { return `--- ${this.name} stdout ---\n${this.out}--- ${this.name} stderr ---\n${this.err}`; }
}

module.exports = { Child };

#!/usr/bin/env node
// Runs the browser tests with Node's test runner inside a network namespace that holds only loopback
// (scripts/loopback-only), or, when they cannot run here, says why and exits 77, the code ctest takes
// for a skip: no namespace can be entered, chromium or puppeteer-core is missing, or GLIMMORA_BIN
// names no program.
//
//   GLIMMORA_BIN=build/bin/glimmora node tests/browser/run.js [TEST_FILE...]
"use strict";

const { spawnSync } = require("child_process");
const fs = require("fs");
const path = require("path");
const { notLoopbackOnly } = require("./harness/network");
const { browserMissing } = require("./harness/browser");

const skipCode = 77;
const loopbackOnly = path.join(__dirname, "..", "..", "scripts", "loopback-only");

function skipBecause(reason) {
    process.stdout.write(`browser tests skipped: ${reason}\n`);
    process.exit(skipCode);
}

const files = process.argv.length > 2 ? process.argv.slice(2) : [path.join(__dirname, "settings_page.test.js")];

const binary = process.env.GLIMMORA_BIN;
if (!binary) skipBecause("GLIMMORA_BIN does not name the glimmora command");
try {
    fs.accessSync(binary, fs.constants.X_OK);
} catch (error) {
    skipBecause(`GLIMMORA_BIN (${binary}) is not an executable program`);
}
const missing = browserMissing();
if (missing) skipBecause(missing);

const outside = notLoopbackOnly();
if (outside === null) {
    const run = spawnSync(process.execPath, ["--test", ...files], { stdio: "inherit" });
    process.exit(run.status === null ? 1 : run.status);
}

// Outside: into a namespace of our own first, having checked that one can be made (once: a namespace
// that turned out not to be loopback-only is an error, not a reason to try again).
if (process.env.GLIMMORA_BROWSER_NAMESPACE === "entered") {
    process.stderr.write(`browser tests: the namespace entered is not loopback-only: ${outside}\n`);
    process.exit(1);
}
const probe = spawnSync(loopbackOnly, ["true"], { encoding: "utf8" });
if (probe.status !== 0) {
    skipBecause(`cannot enter a loopback-only network namespace: ${(probe.stderr || String(probe.error)).trim()}`);
}
const inside = spawnSync(loopbackOnly, [process.execPath, __filename, ...process.argv.slice(2)],
                         { stdio: "inherit", env: { ...process.env, GLIMMORA_BROWSER_NAMESPACE: "entered" } });
process.exit(inside.status === null ? 1 : inside.status);

#!/usr/bin/env node
// The settings page's benchmark: with the page open in headless chromium and a clip playing (a live
// source whose colour changes every frame, 30 frames a second), how long after the home screen
// received a colour the page's last-colour swatch is on screen (window.glimmoraSwatchLatencies: from
// the colour's receivedAt to the start of the frame that draws it; median and 90th percentile),
// and the CPU the settings server takes meanwhile, with the home screen's for comparison.
//
//   GLIMMORA_BIN=build-release/bin/glimmora scripts/loopback-only node bench/browser/settings_bench.js [--seconds S] [--runs N]
//
// Runs only inside a loopback-only network namespace (the server, chromium); elsewhere it says why and
// exits 77.
"use strict";

const { execFileSync } = require("child_process");
const fs = require("fs");
const path = require("path");

const harness = path.join(__dirname, "..", "..", "tests", "browser", "harness");
const { notLoopbackOnly } = require(path.join(harness, "network"));
const { browserMissing, launchBrowser } = require(path.join(harness, "browser"));
const { Device, startSpringboard, startSettings, turningSource } = require(path.join(harness, "device"));
const { openSettingsPage } = require(path.join(harness, "page"));
const { waitFor } = require(path.join(harness, "wait"));

function options(argv) {
    const chosen = { seconds: 10, runs: 1 };
    for (let i = 0; i < argv.length; i += 2) {
        const key = { "--seconds": "seconds", "--runs": "runs" }[argv[i]];
        const value = Number(argv[i + 1]);
        if (!key || !Number.isFinite(value) || value <= 0) {
            process.stderr.write("usage: settings_bench.js [--seconds S (1-60)] [--runs N (1-10)]\n");
            process.exit(2);
        }
        chosen[key] = value;
    }
    chosen.seconds = Math.min(60, chosen.seconds);
    chosen.runs = Math.min(10, Math.round(chosen.runs));
    return chosen;
}

const ticksPerSecond = Number(execFileSync("getconf", ["CLK_TCK"], { encoding: "utf8" }).trim()) || 100;

// A process's CPU time so far (user and system, all its threads), in seconds.
function cpuSeconds(pid) {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
    const fields = stat.slice(stat.lastIndexOf(")") + 2).split(" ");  // fields[0] is the state, the 3rd field
    return (Number(fields[11]) + Number(fields[12])) / ticksPerSecond;  // utime, stime: the 14th and 15th
}

function percentile(sorted, fraction) {
    if (sorted.length === 0) return NaN;
    const rank = fraction * (sorted.length - 1);
    const low = Math.floor(rank);
    const high = Math.ceil(rank);
    return sorted[low] + (sorted[high] - sorted[low]) * (rank - low);
}

// One run: a fresh device with the example home, "Living Room" selected; the page open; one clip.
async function run(browser, seconds) {
    const device = new Device();
    let springboard, settings, page;
    try {
        await device.must(["home", "init"]);
        await device.must(["home", "select", "Living Room"]);
        springboard = await startSpringboard(device);
        settings = await startSettings(device);
        page = await openSettingsPage(browser, settings.url);
        // A first colour, so that the page has drawn a swatch before the measured clip.
        await device.must(["play", "--live", turningSource(1)]);
        await waitFor(() => page.evaluate(() => Array.isArray(window.glimmoraSwatchLatencies) &&
                                                window.glimmoraSwatchLatencies.length > 0),
                      { what: "window.glimmoraSwatchLatencies to fill", timeoutMs: 30000 });
        const from = await page.evaluate(() => window.glimmoraSwatchLatencies.length);

        const cpuBefore = { settings: cpuSeconds(settings.child.pid), springboard: cpuSeconds(springboard.pid) };
        const started = process.hrtime.bigint();
        const played = await device.run(["play", "--live", turningSource(seconds)], { timeoutMs: (seconds + 60) * 1000 });
        const wall = Number(process.hrtime.bigint() - started) / 1e9;
        const cpu = { settings: cpuSeconds(settings.child.pid) - cpuBefore.settings,
                      springboard: cpuSeconds(springboard.pid) - cpuBefore.springboard };
        if (played.code !== 0) throw new Error(`play exited ${played.code}: ${played.stderr}`);
        const sent = (played.stderr.match(/(\d+) colours sent/) || [])[1];

        // The last repaints of the clip land a moment after the app has ended.
        await new Promise(resolve => setTimeout(resolve, 500));
        const latencies = await page.evaluate(start => window.glimmoraSwatchLatencies.slice(start), from);
        const errors = page.glimmoraErrors;
        return { latencies: latencies.filter(Number.isFinite).sort((a, b) => a - b), wall, cpu,
                 sent: sent === undefined ? null : Number(sent), errors };
    } finally {
        if (page) await page.close().catch(() => {});
        if (settings) await settings.child.stop();
        if (springboard) await springboard.stop();
        device.remove();
    }
}

async function main() {
    const { seconds, runs } = options(process.argv.slice(2));
    const cannot = notLoopbackOnly() || browserMissing() || (process.env.GLIMMORA_BIN ? null : "GLIMMORA_BIN is not set");
    if (cannot) {
        process.stdout.write(`settings page benchmark skipped: ${cannot}\n`);
        process.exit(77);
    }
    const chromium = await launchBrowser();
    const rows = [];
    try {
        for (let i = 0; i < runs; i++) rows.push(await run(chromium.browser, seconds));
    } finally {
        await chromium.close();
    }

    const fixed = (value, digits = 1) => (Number.isFinite(value) ? value.toFixed(digits) : "-");
    const ms = value => `${fixed(value, 1)} ms`;
    const percent = (cpu, wall) => `${fixed(100 * cpu / wall)}%`;
    const header = ["run", "swatch repaints", "colours sent", "latency median", "p90", "max", "settings server CPU",
                    "home screen CPU"];
    const table = rows.map((row, i) => {
        const sorted = row.latencies;
        return [String(i + 1), String(sorted.length), String(row.sent ?? "-"), ms(percentile(sorted, 0.5)),
                ms(percentile(sorted, 0.9)), ms(sorted[sorted.length - 1]), percent(row.cpu.settings, row.wall),
                percent(row.cpu.springboard, row.wall)];
    });
    const widths = header.map((title, column) => Math.max(title.length, ...table.map(cells => cells[column].length)));
    const line = cells => cells.map((cell, column) => cell.padStart(widths[column])).join(" | ");
    console.log(`Settings page, ${seconds} s clip (a new colour every frame at 30 fps), headless chromium, ${runs} run(s)`);
    console.log("swatch latency: the colour's arrival at the home screen to the start of the frame that draws the swatch");
    console.log(line(header));
    table.forEach((cells, i) => {
        console.log(line(cells));
        if (rows[i].errors.length > 0) console.log(`    page errors: ${rows[i].errors.join("; ")}`);
    });
    console.log(`(CPU: % of one core over the clip's ${fixed(rows[0].wall)} s, from /proc/PID/stat at ${ticksPerSecond} ticks a second)`);
}

main().catch(error => {
    process.stderr.write(`settings page benchmark failed: ${error.stack || error}\n`);
    process.exit(1);
});

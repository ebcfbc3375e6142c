// Debian's chromium, headless, driven by puppeteer-core, with a throwaway profile.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");

const chromiumPath = process.env.GLIMMORA_CHROMIUM || "/usr/bin/chromium";

// Why the browser cannot run here, or null.
function browserMissing() {
    try {
        require.resolve("puppeteer-core");
    } catch (error) {
        return `puppeteer-core is not installed in ${path.join(__dirname, "..", "node_modules")} (run scripts/setup --tests)`;
    }
    try {
        fs.accessSync(chromiumPath, fs.constants.X_OK);
    } catch (error) {
        return `no chromium at ${chromiumPath} (run scripts/setup --tests)`;
    }
    return null;
}

// {browser, close()}: close() also removes the profile.
async function launchBrowser() {
    const puppeteer = require("puppeteer-core");
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), "glimmora-chromium-"));
    // Chromium's own sandbox needs user namespaces that root (and the namespace we run in) lacks.
    const args = ["--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-gpu", "--window-size=1280,900",
                  // A container's /dev/shm may be a few megabytes: the profile's shared memory goes to /tmp.
                  "--disable-dev-shm-usage"];
    if (process.getuid() === 0) args.push("--no-sandbox");
    // On two busy cores chromium has been seen not to answer its first launch; a second one is tried.
    let browser;
    for (let attempt = 1; !browser; ++attempt) {
        try {
            browser = await puppeteer.launch({ executablePath: chromiumPath, headless: true, userDataDir: profile,
                                               args, defaultViewport: { width: 1280, height: 900 }, timeout: 45000 });
        } catch (error) {
            if (attempt < 2) {
                process.stderr.write(`chromium did not start (${error.message}); trying once more\n`);
                continue;
            }
            fs.rmSync(profile, { recursive: true, force: true });
            throw error;
        }
    }
    return {
        browser,
        async close() {
            await browser.close().catch(() => {});
            fs.rmSync(profile, { recursive: true, force: true });
        },
    };
}

module.exports = { launchBrowser, browserMissing };

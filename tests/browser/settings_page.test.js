// The settings page (`glimmora settings`) in a real browser: Debian's chromium, headless, driven by
// puppeteer-core, against the real command on a temporary device, with the home screen, video apps and
// the test accessory as real processes. Runs only inside a loopback-only network namespace
// (tests/browser/run.js puts it there); elsewhere every group is skipped with the reason.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("fs");
const path = require("path");

const { notLoopbackOnly } = require("./harness/network");
const { browserMissing, launchBrowser } = require("./harness/browser");
const { Device, startSpringboard, startSettings, colourSource, turningSource } = require("./harness/device");
const { startAccessory } = require("./harness/accessory");
const { request } = require("./harness/http");
const { waitFor, sleep } = require("./harness/wait");
const view = require("./harness/page");

const cannotRun = notLoopbackOnly() || browserMissing() || (process.env.GLIMMORA_BIN ? null : "GLIMMORA_BIN is not set");
const skip = cannotRun ? `cannot run here: ${cannotRun}` : false;

// The processes of the sanitizer builds are several times slower: every wait is generous, and bounded.
const eventually = { timeoutMs: 30000 };

let chromium;
before(async () => { if (!skip) chromium = await launchBrowser(); });
after(async () => { if (chromium) await chromium.close(); });

const byUuid = (a, b) => a.uuid.localeCompare(b.uuid);
const isRed = ([r, g, b]) => r >= 200 && g <= 60 && b <= 60;
const isBlue = ([r, g, b]) => b >= 200 && r <= 60 && g <= 60;
// What a light shows of its state, to compare before and after.
const shownState = light => ({ name: light.name, power: light.power, brightness: light.brightness,
                               saturation: light.saturation, hue: light.hue, rgb: light.rgb });

async function lightsOf(page, room) { return (await view.lights(page)).filter(light => light.room === room); }

// What a sanitizer build reported in a process's standard error (nothing in other builds).
const sanitizerReport = /Sanitizer|runtime error:/;

// Stops the processes of a group and checks that none reported a sanitizer's finding.
async function stopAll(...children) {
    const stopped = children.filter(Boolean);
    for (const child of stopped) await child.stop();
    for (const child of stopped) assert.doesNotMatch(child.err, sanitizerReport, child.output());
}

// Plays a live source to its end on `device`; the app must exit 0.
async function play(device, source) {
    const result = await device.run(["play", "--live", source]);
    assert.equal(result.code, 0, `play --live ${source}: ${result.stderr}`);
    assert.doesNotMatch(result.stderr, sanitizerReport);
    return result;
}

describe("the settings page of a device with the example home", { skip }, () => {
    let device, settings, page, springboard, livingRoom;

    before(async () => {
        device = new Device();
        await device.must(["home", "init"]);
        livingRoom = (await device.rooms()).find(room => room.name === "Living Room");
        settings = await startSettings(device);
        page = await view.openSettingsPage(chromium.browser, settings.url);
    });
    after(async () => {
        if (page) await page.close();
        try {
            await stopAll(springboard, settings && settings.child);
        } finally {
            if (device) device.remove();
        }
    });

    it("says there is no catalogue until a home screen publishes one, then lists every room", async () => {
        assert.equal(await view.showsNoCatalogue(page), true);
        assert.deepEqual(await view.rooms(page), []);

        springboard = await startSpringboard(device);
        const expected = (await device.rooms()).map(room => ({ uuid: room.uuid, name: room.name, checked: false }));
        const shown = await waitFor(async () => {
            const rooms = await view.rooms(page);
            return rooms.length === expected.length && rooms;
        }, { what: "the rooms the home screen publishes", ...eventually });
        assert.deepEqual(shown.sort(byUuid), expected.sort(byUuid));
        assert.equal(await view.showsNoCatalogue(page), false);
    });

    it("shows each switch as stored, follows a change made elsewhere, and stores what is clicked", async () => {
        assert.deepEqual([await view.switchChecked(page, "Enabled"), await view.switchChecked(page, "Active"),
                          await view.switchChecked(page, "Youtube")], [true, true, false]);

        await device.must(["prefs", "write", "com.tovek.glimmora", "Youtube", "YES", "--bool"]);
        await waitFor(() => view.switchChecked(page, "Youtube"), { what: "the Youtube switch to turn on", ...eventually });

        await page.click("#switch-Youtube");
        await waitFor(async () => (await device.setting("Youtube")) === "NO", { what: "Youtube stored as NO", ...eventually });
        await page.click("#switch-Enabled");
        await waitFor(async () => (await device.setting("Enabled")) === "NO", { what: "Enabled stored as NO", ...eventually });
        await page.click("#switch-Enabled");
        await waitFor(async () => (await device.setting("Enabled")) === "YES", { what: "Enabled stored as YES", ...eventually });
    });

    it("a room switched on is stored, and its lights follow the next clip while the other rooms' keep theirs", async () => {
        const others = (await view.lights(page)).filter(light => light.room !== "Living Room");
        assert.ok(others.length > 0 && (await lightsOf(page, "Living Room")).length === 3);

        await page.click(`input.room-switch[data-room="${livingRoom.uuid}"]`);
        await waitFor(async () => (await device.setting(livingRoom.uuid)) === "YES",
                      { what: "the Living Room stored as selected", ...eventually });
        assert.equal(await page.$eval(`input.room-switch[data-room="${livingRoom.uuid}"]`, input => input.checked), true);

        await play(device, colourSource("red", 2));
        const followed = await waitFor(async () => {
            const lights = await lightsOf(page, "Living Room");
            return lights.every(light => isRed(light.rgb) && light.hue === 0 && light.saturation === 100) && lights;
        }, { what: "the Living Room's lights to turn red", ...eventually });
        assert.equal(followed.length, 3);
        const othersNow = (await view.lights(page)).filter(light => light.room !== "Living Room");
        assert.deepEqual(othersNow.map(shownState), others.map(shownState));
        assert.ok(isRed((await view.lastColour(page)).rgb));
    });

    it("the last colour's swatch follows a clip as it plays, without reloading the page", async () => {
        await page.evaluate(() => {
            window.glimmoraTestMarker = "still the same page";
            window.glimmoraTestSwatches = [];
            const swatch = document.querySelector("#last-colour .swatch");
            new MutationObserver(() => window.glimmoraTestSwatches.push(swatch.getAttribute("data-rgb")))
                .observe(swatch, { attributes: true, attributeFilter: ["data-rgb"] });
        });
        const app = device.start(["play", "--live", turningSource(4)]);
        try {
            await waitFor(() => page.evaluate(() => new Set(window.glimmoraTestSwatches).size >= 5),
                          { what: "five colours in the last-colour swatch", ...eventually });
        } finally {
            assert.equal((await app.stop("SIGINT", 20000)).code, 0, app.output());
        }
        assert.equal(await page.evaluate(() => window.glimmoraTestMarker), "still the same page");

        // Once the clip has ended the swatch shows the colour the server holds last.
        const state = await request(`${settings.origin}/api/state?token=${settings.token}`);
        assert.equal(state.status, 200);
        const last = await waitFor(async () => {
            const shown = await view.lastColour(page);
            return shown && shown.rgb.join(",") === state.body.lastColour.rgb.join(",") && shown;
        }, { what: `the swatch to show the last colour ${state.body.lastColour.text}`, ...eventually });
        assert.equal(last.text, state.body.lastColour.text);
        assert.deepEqual(page.glimmoraErrors, []);
        assert.deepEqual(page.glimmoraForeignRequests, []);
    });

    it("with Active switched off the lights keep their colour through a clip, and follow again once it is on", async () => {
        await page.click("#switch-Active");
        await waitFor(async () => (await device.setting("Active")) === "NO", { what: "Active stored as NO", ...eventually });
        const red = await lightsOf(page, "Living Room");
        const stored = (await device.rooms()).find(room => room.uuid === livingRoom.uuid).lights;

        await play(device, colourSource("blue", 2));
        await sleep(1000);
        assert.deepEqual((await device.rooms()).find(room => room.uuid === livingRoom.uuid).lights, stored);
        assert.deepEqual((await lightsOf(page, "Living Room")).map(shownState), red.map(shownState));

        await page.click("#switch-Active");
        await waitFor(async () => (await device.setting("Active")) === "YES", { what: "Active stored as YES", ...eventually });
        await play(device, colourSource("blue", 2));
        await waitFor(async () => (await lightsOf(page, "Living Room")).every(light => isBlue(light.rgb) && light.hue === 240),
                      { what: "the Living Room's lights to turn blue", ...eventually });
    });
});

describe("pairing a real lamp from the page", { skip }, () => {
    const lampName = "Paired Lamp";
    let device, accessory, springboard, settings, page;

    const homeText = () => fs.readFileSync(device.file("home.json"), "utf8");
    // The page's row of the paired lamp's light, found by the identifier the home gave it.
    async function pairedLight() {
        const light = (await device.rooms()).flatMap(room => room.lights).find(one => one.accessory === lampName);
        return light && (await view.lights(page)).find(row => row.identifier === light.uuid);
    }

    // Fills the accessory's pairing form and submits it; returns the result the page shows.
    async function pairFromPage(fields) {
        const form = `tr.accessory[data-id="${accessory.id}"] form.pair`;
        for (const [name, value] of Object.entries(fields)) {
            const input = `${form} input[name=${name}]`;
            await page.$eval(input, element => { element.value = ""; });
            await page.type(input, value);
        }
        const before = await view.message(page);
        await page.click(`${form} button[type=submit]`);
        return view.nextMessage(page, before);
    }

    before(async () => {
        device = new Device();
        await device.must(["home", "init"]);
        await device.must(["home", "select", "Living Room"]);
        accessory = await startAccessory();
        springboard = await startSpringboard(device);
        settings = await startSettings(device);
        page = await view.openSettingsPage(chromium.browser, settings.url);
    });
    after(async () => {
        if (page) await page.close();
        if (accessory) await accessory.stop();
        try {
            await stopAll(settings && settings.child, springboard);
        } finally {
            if (device) device.remove();
        }
    });

    it("a wrong setup code is refused with an error and nothing is recorded", async () => {
        await waitFor(async () => (await view.accessories(page)).some(row => row.id === accessory.id && row.pairable),
                      { what: `the accessory ${accessory.id} to be discovered as pairable`, ...eventually });
        const lightsBefore = (await view.lights(page)).map(light => light.identifier);
        const result = await pairFromPage({ name: lampName, room: "Living Room", code: "111-22-333" });
        assert.equal(result.kind, "error", result.text);
        assert.equal(fs.existsSync(device.file("hap-keys.json")), false);
        assert.equal(homeText().includes(lampName), false, "the home names the lamp");
        assert.ok((await view.accessories(page)).find(row => row.id === accessory.id).pairable);
        assert.deepEqual((await view.lights(page)).map(light => light.identifier), lightsBefore);
    });

    it("with the right code its light shows as real, follows a clip and shows when it is off; unpaired, it is gone", async () => {
        const result = await pairFromPage({ name: lampName, room: "Living Room", code: accessory.code });
        assert.equal(result.kind, "ok", result.text);
        const shown = await waitFor(pairedLight, { what: "the paired lamp's light", ...eventually });
        assert.equal(shown.real, true);
        assert.equal(shown.room, "Living Room");
        await waitFor(async () => (await view.accessories(page)).some(row => row.id === accessory.id && row.unpairable),
                      { what: "the accessory's row to offer unpairing", ...eventually });

        await play(device, colourSource("blue", 2));
        await accessory.child.waitForOutput(/ Hue \S+ -> 240$/m, { stream: "err", ...eventually });
        await waitFor(async () => {
            const light = await pairedLight();
            return light.hue === 240 && isBlue(light.rgb) && !light.unreachable;
        }, { what: "the real lamp's light to show blue", ...eventually });
        const paired = (await pairedLight()).identifier;
        // The page as the README shows it: a real lamp paired beside the simulated ones, all following.
        if (process.env.GLIMMORA_SCREENSHOT) {
            fs.mkdirSync(path.dirname(process.env.GLIMMORA_SCREENSHOT), { recursive: true });
            await page.screenshot({ path: process.env.GLIMMORA_SCREENSHOT, fullPage: true });
        }

        // Switched off, the lamp is shown unreachable; back, it is reachable again.
        await accessory.switchOff();
        await waitFor(async () => (await pairedLight()).unreachable, { what: "the lamp to show as unreachable", ...eventually });
        await accessory.restart();
        await waitFor(async () => !(await pairedLight()).unreachable, { what: "the lamp to show as reachable", ...eventually });

        const before = await view.message(page);
        await page.click(`tr.accessory[data-id="${accessory.id}"] button.unpair`);
        const unpaired = await view.nextMessage(page, before);
        assert.equal(unpaired.kind, "ok", unpaired.text);
        await waitFor(async () => !(await view.lights(page)).some(light => light.identifier === paired),
                      { what: "the unpaired lamp's light to leave the page", ...eventually });
        assert.equal(homeText().includes(lampName), false, "the home still names the lamp");
    });

    it("keeps no setup code: none in the server's output nor in any file of the device", () => {
        // (The running processes' files may come and go meanwhile.)
        const contents = new Map();
        for (const name of fs.readdirSync(device.path, { recursive: true })) {
            const file = path.join(device.path, name);
            try {
                if (fs.statSync(file).isFile()) contents.set(file, fs.readFileSync(file));
            } catch (error) {
                if (error.code !== "ENOENT") throw error;
            }
        }
        assert.ok(contents.has(device.file("home.json")));
        for (const code of [accessory.code, "111-22-333", accessory.code.replace(/-/g, ""), "11122333"]) {
            assert.equal(settings.child.out.includes(code) || settings.child.err.includes(code), false,
                         `the settings server printed ${code}`);
            for (const [file, bytes] of contents) assert.equal(bytes.includes(code), false, `${file} holds ${code}`);
        }
    });
});

describe("requests the settings server refuses", { skip }, () => {
    let device, settings, livingRoom;

    before(async () => {
        device = new Device();
        await device.must(["home", "init"]);
        livingRoom = (await device.rooms()).find(room => room.name === "Living Room");
        settings = await startSettings(device);
    });
    after(async () => {
        try {
            await stopAll(settings && settings.child);
        } finally {
            if (device) device.remove();
        }
    });

    it("refuses requests without the token, from another site or host, and changes by GET, and changes nothing", async () => {
        const { origin, token, port } = settings;
        const wrong = "0".repeat(64);
        const own = { "X-Glimmora-Token": token };
        const turnOff = { key: "Active", on: false };
        const refusals = [
            ["the page without a token", `${origin}/`, {}, 403],
            ["the page with a wrong token", `${origin}/?token=${wrong}`, {}, 403],
            ["the state with a wrong token", `${origin}/api/state?token=${wrong}`, {}, 403],
            ["the events without a token", `${origin}/events`, {}, 403],
            ["a switch without a token", `${origin}/api/switch`, { method: "POST", body: turnOff }, 403],
            ["a switch with a wrong token", `${origin}/api/switch`,
             { method: "POST", body: { key: livingRoom.uuid, on: true }, headers: { "X-Glimmora-Token": wrong } }, 403],
            ["the page for another host name", `${origin}/?token=${token}`, { headers: { Host: `evil.example:${port}` } }, 403],
            ["a switch for another host name", `${origin}/api/switch`,
             { method: "POST", body: turnOff, headers: { ...own, Host: `evil.example:${port}` } }, 403],
            ["a switch from another site's page", `${origin}/api/switch`,
             { method: "POST", body: turnOff, headers: { ...own, Origin: "http://evil.example" } }, 403],
            ["a switch from an opaque origin", `${origin}/api/switch`,
             { method: "POST", body: turnOff, headers: { ...own, Origin: "null" } }, 403],
            ["a pairing from another site's page", `${origin}/api/pair`,
             { method: "POST", body: { id: "0E:47:4C:00:00:01", name: "X", room: "Den", code: "031-45-154" },
               headers: { ...own, Origin: `http://127.0.0.1:${port + 1}` } }, 403],
            ["a switch by GET", `${origin}/api/switch?token=${token}&key=Active&on=false`, {}, 405],
            ["a pairing by GET", `${origin}/api/pair?token=${token}&id=0E:47:4C:00:00:01&name=X&room=Den&code=031-45-154`,
             {}, 405],
            ["an unpairing by GET", `${origin}/api/unpair?token=${token}&name=Floor%20Lamp`, {}, 405],
            // With the token: a setting that is no switch (the published catalogue) is not the page's to write.
            ["a switch of another setting", `${origin}/api/switch`,
             { method: "POST", body: { key: "Homes", on: true }, headers: own }, "4xx"],
        ];
        for (const [what, url, options, status] of refusals) {
            const answer = await request(url, options);
            const expected = status === "4xx" ? answer.status >= 400 && answer.status < 500 : answer.status === status;
            assert.ok(expected, `${what}: ${answer.status} (not ${status}) ${answer.text}`);
            assert.equal(typeof (answer.body && answer.body.error), "string", `${what} answers {"error": ...}: ${answer.text}`);
        }
        assert.equal(await device.setting("Active"), null);
        assert.equal(await device.setting(livingRoom.uuid), null);
        assert.equal(await device.setting("Homes"), null);
        assert.equal(fs.existsSync(device.file("hap-keys.json")), false);
        assert.ok((await device.rooms()).some(room => room.lights.some(light => light.name === "Floor Lamp")));

        // The same change sent as the page sends it is taken.
        const taken = await request(`${origin}/api/switch`,
                                    { method: "POST", body: turnOff, headers: { ...own, Origin: origin } });
        assert.equal(taken.status, 200, taken.text);
        assert.equal(typeof taken.body.message, "string");
        assert.equal(await device.setting("Active"), "NO");
    });

    it("ends with status 0 on SIGTERM", async () => {
        const ended = await settings.child.stop("SIGTERM", 20000);
        assert.deepEqual(ended, { code: 0, signal: null }, settings.child.output());
    });
});

describe("names from the home on the page", { skip }, () => {
    const hostileRoom = "<img src=x onerror=window.pwned=1>";
    const hostileLight = "<svg onload=window.pwned=2></svg><b>Pendant</b>";
    let device, springboard, settings, page;

    before(async () => {
        device = new Device();
        await device.must(["home", "init"]);
        const home = JSON.parse(fs.readFileSync(device.file("home.json"), "utf8"));
        const kitchen = home.homes[0].rooms.find(room => room.name === "Kitchen");
        kitchen.name = hostileRoom;
        kitchen.accessories[0].services[0].name = hostileLight;
        const changed = device.file("hostile-home.json");
        fs.writeFileSync(changed, JSON.stringify(home));
        await device.must(["home", "load", changed]);
        springboard = await startSpringboard(device);
        settings = await startSettings(device);
        page = await view.openSettingsPage(chromium.browser, settings.url);
    });
    after(async () => {
        if (page) await page.close();
        try {
            await stopAll(settings && settings.child, springboard);
        } finally {
            if (device) device.remove();
        }
    });

    it("shows a room and a light named with markup as text, and runs none of it", async () => {
        await waitFor(async () => (await view.rooms(page)).some(room => room.name === hostileRoom),
                      { what: "the room named with markup", ...eventually });
        // (The page may put the accessory's name before the light's.)
        await waitFor(async () => (await view.lights(page)).some(light => light.name.includes(hostileLight) &&
                                                                         light.room === hostileRoom),
                      { what: "the light named with markup", ...eventually });
        await sleep(500);
        assert.deepEqual(await page.evaluate(() => ({
            pwned: typeof window.pwned, images: document.querySelectorAll("img[onerror]").length,
            svgs: document.querySelectorAll("svg[onload]").length,
        })), { pwned: "undefined", images: 0, svgs: 0 });
        assert.deepEqual(page.glimmoraErrors, []);
    });
});

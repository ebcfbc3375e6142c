// The settings page in the browser: opening it, and reading what it shows, as the user sees it.
"use strict";

const { request } = require("./http");
const { waitFor } = require("./wait");

// Opens `url` in a new tab and waits until its event stream is open. The returned page keeps the
// page's uncaught errors in `page.glimmoraErrors` and the addresses it asked for outside its own
// origin in `page.glimmoraForeignRequests`; it accepts any confirmation it asks for.
async function openSettingsPage(browser, url) {
    const page = await browser.newPage();
    const origin = new URL(url).origin;
    page.glimmoraErrors = [];
    page.glimmoraForeignRequests = [];
    page.on("pageerror", error => page.glimmoraErrors.push(String(error && error.message || error)));
    page.on("request", request => {
        const address = request.url();
        if (!address.startsWith(`${origin}/`) && !address.startsWith("data:")) page.glimmoraForeignRequests.push(address);
    });
    page.on("dialog", dialog => dialog.accept());
    await page.goto(url, { waitUntil: "load", timeout: 30000 });
    await waitFor(() => page.evaluate(() => document.body.dataset.connected === "true"),
                  { what: "the page's event stream to open", timeoutMs: 20000 });
    // The stream opens before its first state is drawn: wait until the page shows every light the
    // server's state holds.
    const state = await request(`${origin}/api/state?token=${new URL(url).searchParams.get("token")}`);
    if (state.status !== 200) throw new Error(`GET /api/state answered ${state.status}: ${state.text}`);
    await waitFor(async () => (await page.$$("tr.light")).length === state.body.lights.length,
                  { what: `the page to show the state's ${state.body.lights.length} lights`, timeoutMs: 20000 });
    return page;
}

const number = text => {
    const value = Number.parseFloat(text);
    return Number.isFinite(value) ? value : null;
};

const rgbOf = text => (text || "").split(",").map(Number);

// The light rows: [{identifier, name, room, power, brightness, saturation, hue, rgb, real, unreachable}].
async function lights(page) {
    const rows = await page.$$eval("tr.light", trs => trs.map(tr => {
        const text = selector => { const cell = tr.querySelector(selector); return cell ? cell.textContent.trim() : null; };
        const swatch = tr.querySelector(".swatch");
        return {
            identifier: tr.dataset.light, name: text(".light-name"), room: text(".room-name"),
            power: text(".power"), brightness: text(".brightness"), saturation: text(".saturation"), hue: text(".hue"),
            rgb: swatch ? swatch.getAttribute("data-rgb") : null,
            real: tr.querySelector(".badge-real") !== null, unreachable: tr.querySelector(".badge-unreachable") !== null,
        };
    }));
    return rows.map(row => ({ ...row, brightness: number(row.brightness), saturation: number(row.saturation),
                              hue: number(row.hue), rgb: rgbOf(row.rgb) }));
}

// The room switches: [{uuid, name, checked}].
function rooms(page) {
    return page.$$eval("input.room-switch", inputs => inputs.map(input => {
        const label = input.closest("label");
        const name = label && label.querySelector("span.room-name");
        return { uuid: input.dataset.room, name: name ? name.textContent : null, checked: input.checked };
    }));
}

// Whether the page says there is no catalogue (the notice present and not hidden).
function showsNoCatalogue(page) {
    return page.evaluate(() => {
        const notice = document.querySelector("#no-catalogue");
        return notice !== null && !notice.hidden && notice.getClientRects().length > 0;
    });
}

function switchChecked(page, key) { return page.$eval(`#switch-${key}`, input => input.checked); }

// The last colour: {rgb: [r, g, b], text} or null without one.
async function lastColour(page) {
    const shown = await page.evaluate(() => {
        const swatch = document.querySelector("#last-colour .swatch");
        const text = document.querySelector("#last-colour .text");
        return { rgb: swatch ? swatch.getAttribute("data-rgb") : null, text: text ? text.textContent.trim() : null };
    });
    return shown.rgb ? { rgb: rgbOf(shown.rgb), text: shown.text } : null;
}

// The discovered accessories' rows: [{id, name, pairable, unpairable}].
function accessories(page) {
    return page.$$eval("tr.accessory", trs => trs.map(tr => {
        const name = tr.querySelector(".accessory-name");
        return { id: tr.dataset.id, name: name ? name.textContent.trim() : null,
                 pairable: tr.querySelector("form.pair") !== null, unpairable: tr.querySelector("button.unpair") !== null };
    }));
}

// The last result the page shows: {kind, text}.
function message(page) {
    return page.$eval("#message", element => ({ kind: element.dataset.kind || null, text: element.textContent.trim() }));
}

// Waits for a new result in #message (one whose text or kind differs from `before`) and returns it.
function nextMessage(page, before, timeoutMs = 30000) {
    return waitFor(async () => {
        const now = await message(page);
        return now.kind && (now.kind !== before.kind || now.text !== before.text) ? now : null;
    }, { what: "a result in #message", timeoutMs });
}

module.exports = { openSettingsPage, lights, rooms, showsNoCatalogue, switchChecked, lastColour, accessories, message,
                   nextMessage };

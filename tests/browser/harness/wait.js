// Bounded waiting: every wait of the browser tests has a deadline.
"use strict";

const sleep = ms => new Promise(resolve => setTimeout(resolve, ms));

// Calls `check` (sync or async) every `intervalMs` until it returns something truthy, and returns
// that; throws after `timeoutMs`, naming `what` and the last value seen (or the last error thrown).
async function waitFor(check, { what, timeoutMs = 20000, intervalMs = 100 } = {}) {
    const deadline = Date.now() + timeoutMs;
    let last;
    for (;;) {
        try {
            const value = await check();
            if (value) return value;
            last = value;
        } catch (error) {
            last = error;
        }
        if (Date.now() >= deadline) {
            const seen = last instanceof Error ? `the last check threw: ${last.message}` : `last seen: ${JSON.stringify(last)}`;
            throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}; ${seen}`);
        }
        await sleep(intervalMs);
    }
}

module.exports = { sleep, waitFor };

// Plain HTTP requests to the settings server, with any Host, Origin or token, as another program on
// this machine (or a page of another site, through a browser) could send them.
"use strict";

const http = require("http");

// {status, body (parsed JSON when it is), text}. `headers` may set Host.
function request(url, { method = "GET", headers = {}, body, timeoutMs = 10000 } = {}) {
    return new Promise((resolve, reject) => {
        const payload = body === undefined ? undefined : JSON.stringify(body);
        const sent = { ...headers };
        if (payload !== undefined) sent["Content-Type"] = "application/json";
        const req = http.request(url, { method, headers: sent, timeout: timeoutMs }, res => {
            let text = "";
            res.setEncoding("utf8");
            res.on("data", chunk => { text += chunk; });
            res.on("end", () => {
                let parsed = null;
                try { parsed = JSON.parse(text); } catch (error) { /* not JSON */ }
                resolve({ status: res.statusCode, body: parsed, text, headers: res.headers });
            });
        });
        req.on("timeout", () => req.destroy(new Error(`${method} ${url}: no answer within ${timeoutMs} ms`)));
        req.on("error", reject);
        if (payload !== undefined) req.write(payload);
        req.end();
    });
}

module.exports = { request };

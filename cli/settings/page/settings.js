"use strict";
// The settings page: draws the state the server pushes (server-sent events) and sends the user's
// changes by POST. Every text from the device is put in as text, never as markup.
(() => {
  const token = new URLSearchParams(location.search).get("token") || "";
  const $ = (selector, root = document) => root.querySelector(selector);
  const make = (tag, className, text) => {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  };
  // From a colour's arrival at the home screen to the swatch showing it, in milliseconds.
  window.glimmoraSwatchLatencies = [];
  const now = () => performance.timeOrigin + performance.now();

  function showMessage(text, kind) {
    const message = $("#message");
    message.textContent = text;
    message.dataset.kind = kind;
    message.hidden = false;
  }

  async function post(path, body) {
    let response;
    try {
      response = await fetch(path, {
        method: "POST",
        headers: { "Content-Type": "application/json", "X-Glimmora-Token": token },
        body: JSON.stringify(body),
      });
    } catch (error) {
      showMessage("The settings server cannot be reached: " + error.message, "error");
      return false;
    }
    let answer = {};
    try { answer = await response.json(); } catch (error) { answer = { error: response.statusText }; }
    if (response.ok) showMessage(answer.message || "Done", "ok");
    else showMessage(answer.error || response.statusText, "error");
    return response.ok;
  }

  function setSwatch(swatch, rgb) {
    const text = rgb.join(",");
    if (swatch.dataset.rgb === text) return false;
    swatch.dataset.rgb = text;
    swatch.style.backgroundColor = `rgb(${text})`;
    return true;
  }

  // Switches: written when flipped; put back when the write fails.
  for (const box of document.querySelectorAll("[data-key]")) {
    box.addEventListener("change", async () => {
      box.disabled = true;
      if (!(await post("/api/switch", { key: box.dataset.key, on: box.checked }))) box.checked = !box.checked;
      box.disabled = false;
    });
  }

  let roomsShown = "";
  function drawRooms(catalogue) {
    $("#no-catalogue").hidden = catalogue !== null;
    const rooms = $("#rooms");
    const names = $("#room-names");
    const shape = JSON.stringify(catalogue && catalogue.homes.map((h) => [h.name, h.rooms.map((r) => [r.name, r.identifier])]));
    if (shape !== roomsShown) {
      roomsShown = shape;
      rooms.replaceChildren();
      names.replaceChildren();
      for (const home of (catalogue ? catalogue.homes : [])) {
        rooms.append(make("p", "home-name", home.name));
        if (home.rooms.length === 0) rooms.append(make("p", "note", "This home has no rooms."));
        for (const room of home.rooms) {
          const label = make("label", "room");
          const box = make("input", "room-switch");
          box.type = "checkbox";
          box.dataset.room = room.identifier;
          box.addEventListener("change", async () => {
            box.disabled = true;
            if (!(await post("/api/switch", { key: room.identifier, on: box.checked }))) box.checked = !box.checked;
            box.disabled = false;
          });
          label.append(box, make("span", "room-name", room.name));
          rooms.append(label);
          const option = make("option");
          option.value = room.name;
          names.append(option);
        }
      }
    }
    for (const home of (catalogue ? catalogue.homes : []))
      for (const room of home.rooms) {
        const box = rooms.querySelector(`input[data-room="${room.identifier}"]`);
        if (box && !box.disabled) box.checked = room.selected;
      }
  }

  const shown = (value, unit = "") => (value === null || value === undefined ? "–" : `${Math.round(value * 10) / 10}${unit}`);

  function drawLights(lights) {
    const body = $("#lights tbody");
    const rows = new Map([...body.children].map((row) => [row.dataset.light, row]));
    lights.forEach((light, index) => {
      let row = rows.get(light.identifier);
      if (!row) {
        row = make("tr", "light");
        row.dataset.light = light.identifier;
        const swatch = make("td");
        swatch.append(make("span", "swatch"));
        row.append(swatch, make("td", "light-name"), make("td", "room-name"), make("td", "power"),
          make("td", "brightness number"), make("td", "saturation number"), make("td", "hue number"), make("td", "badges"));
      }
      rows.delete(light.identifier);
      if (body.children[index] !== row) body.insertBefore(row, body.children[index] || null);
      setSwatch($(".swatch", row), light.rgb);
      $(".light-name", row).textContent = light.accessory === light.name ? light.name : `${light.accessory}: ${light.name}`;
      $(".room-name", row).textContent = light.room;
      $(".power", row).textContent = light.power === null ? "–" : light.power ? "on" : "off";
      $(".brightness", row).textContent = shown(light.brightness, "%");
      $(".saturation", row).textContent = shown(light.saturation, "%");
      $(".hue", row).textContent = shown(light.hue, "°");
      row.classList.toggle("not-selected", !light.selected);
      row.title = light.selected ? "" : "Its room is not selected";
      const badges = $(".badges", row);
      badges.replaceChildren();
      if (light.real) badges.append(make("span", "badge badge-real", "real lamp"));
      if (light.unreachable) {
        const badge = make("span", "badge badge-unreachable", "unreachable");
        badge.title = light.unreachable;
        badges.append(badge);
      }
    });
    for (const row of rows.values()) row.remove();
  }

  let lastReceived = null;
  function drawLastColour(last) {
    const box = $("#last-colour");
    if (!last) return;
    $(".text", box).textContent = last.text;
    const changed = setSwatch($(".swatch", box), last.rgb);
    if (changed && last.receivedAt !== lastReceived) {
      const receivedAt = last.receivedAt;
      // The next frame draws the new colour: its start is when the swatch changes on the page.
      requestAnimationFrame(() => {
        const latencies = window.glimmoraSwatchLatencies;
        if (latencies.length < 100000) latencies.push(now() - receivedAt);
      });
    }
    lastReceived = last.receivedAt;
    box.dataset.receivedAt = String(last.receivedAt);
  }
  setInterval(() => {
    if (lastReceived !== null)
      $("#last-colour .ago").textContent = `${Math.max(0, (Date.now() - lastReceived) / 1000).toFixed(0)} s ago`;
  }, 1000);

  function drawState(state) {
    for (const key of ["Enabled", "Active", "Youtube"]) {
      const box = $(`#switch-${key}`);
      if (box.disabled && box.dataset.ready) continue;  // a write in flight
      box.checked = state.switches[key];
      box.disabled = false;
      box.dataset.ready = "true";
    }
    drawRooms(state.catalogue);
    $("#no-home").hidden = state.home;
    drawLights(state.lights);
    drawLastColour(state.lastColour);
    $("#problems").textContent = state.problems.join("\n");
  }

  function pairForm(accessory) {
    const form = make("form", "pair");
    const field = (name, placeholder, value) => {
      const input = make("input");
      input.name = name;
      input.placeholder = placeholder;
      input.required = true;
      input.value = value || "";
      input.setAttribute("aria-label", placeholder);
      return input;
    };
    const name = field("name", "Name here", accessory.name);
    const room = field("room", "Room");
    room.setAttribute("list", "room-names");
    const code = field("code", "Setup code");
    code.pattern = "\\d{3}-\\d{2}-\\d{3}";
    code.title = "XXX-XX-XXX, as printed on the lamp or its box";
    code.autocomplete = "off";
    const button = make("button", "", "Pair");
    button.type = "submit";
    form.append(name, room, code, button);
    form.addEventListener("submit", async (event) => {
      event.preventDefault();
      button.disabled = true;
      button.textContent = "Pairing…";
      const ok = await post("/api/pair", { id: accessory.id, name: name.value, room: room.value, code: code.value });
      code.value = "";  // the code is used once and kept nowhere
      button.disabled = false;
      button.textContent = "Pair";
      if (ok) form.remove();
    });
    return form;
  }

  // A list, or {problem} when the network cannot be browsed at all.
  function drawAccessories(found) {
    const accessories = Array.isArray(found) ? found : [];
    $("#no-accessories").textContent = Array.isArray(found)
      ? "No HomeKit accessory has answered on the network yet."
      : `The lamps on the network cannot be listed: ${found.problem}`;
    $("#no-accessories").hidden = accessories.length > 0;
    const body = $("#accessories tbody");
    const open = new Map();
    for (const row of body.children) {
      const form = $("form.pair", row);
      if (form && (form.contains(document.activeElement) || [...form.elements].some((e) => e.value && e.name !== "name")))
        open.set(row.dataset.id, row);  // being filled in: kept as it is
    }
    body.replaceChildren();
    for (const accessory of accessories) {
      if (open.has(accessory.id) && !accessory.lamp) {
        body.append(open.get(accessory.id));
        continue;
      }
      const row = make("tr", "accessory");
      row.dataset.id = accessory.id;
      const kind = [accessory.category, accessory.model].filter(Boolean).join(", ");
      const where = accessory.onNetwork ? `${accessory.address}:${accessory.port}` : "not on the network";
      row.append(make("td", "accessory-name", accessory.name), make("td", "", accessory.id), make("td", "", kind),
        make("td", "", where));
      const here = make("td");
      if (accessory.lamp) {
        here.append(make("span", "", `paired as ${accessory.lamp} `));
        const unpair = make("button", "unpair", "Unpair");
        unpair.type = "button";
        unpair.addEventListener("click", async () => {
          unpair.disabled = true;
          unpair.textContent = "Unpairing…";
          await post("/api/unpair", { name: accessory.lamp });
          unpair.disabled = false;
          unpair.textContent = "Unpair";
        });
        here.append(unpair);
      } else if (accessory.paired) {
        here.append(make("span", "note", "paired with another home"));
      } else {
        here.append(pairForm(accessory));
      }
      row.append(here);
      body.append(row);
    }
  }

  function connect() {
    const events = new EventSource("/events?token=" + encodeURIComponent(token));
    // Live from the first state drawn on, so that what shows is never older than the stream.
    events.addEventListener("state", (event) => {
      drawState(JSON.parse(event.data));
      document.body.dataset.connected = "true";
      $("#connection").textContent = "Live";
    });
    events.addEventListener("accessories", (event) => drawAccessories(JSON.parse(event.data)));
    events.addEventListener("error", () => {
      document.body.dataset.connected = "false";
      $("#connection").textContent = "Connection lost; trying again…";
    });
  }
  connect();
})();

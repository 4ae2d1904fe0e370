// The live page in headless Chromium against a scripted host (the session's
// protocol, sim/live/Protocol.h, with states of a recorded flight): the
// scene built from the hello, the states drawn, the keys, keypad and
// commands sent as the protocol says, held keys let go when the page loses
// the keyboard or closes, and what the host says shown (warp, pause, saved,
// ended, gone).
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT, CHROMIUM; puppeteer-core and ws on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { launch, viewerTemplate } = require('./browser.cjs');
const { ScriptedHost, recordedFlight } = require('./scripted_host.cjs');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const WAIT = { timeout: 30000 }; // a safety net: waits end on the condition

let chromium;
let flight;

test.before(async () => {
  fs.mkdirSync(OUT, { recursive: true });
  flight = recordedFlight(SIM, path.join(OUT, 'live-source.html'), 20);
  chromium = await launch();
});

test.after(async () => {
  if (chromium) await chromium.close();
});

// A host that greets each page with `hello`, and a page connected to it.
async function session(hello = flight.hello()) {
  const host = await ScriptedHost.start(viewerTemplate(SIM));
  host.onConnect = (socket) => socket.send(JSON.stringify(hello));
  const page = await chromium.open(host.url);
  await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, WAIT);
  return { host, page };
}

async function end({ host, page }) {
  if (!page.isClosed()) await page.close();
  await host.stop();
}

const text = (page, id) => page.evaluate((i) => document.getElementById(i).textContent, id);
const visible = (page, id) => page.evaluate((i) => {
  const e = document.getElementById(i);
  return !e.hidden && getComputedStyle(e).display !== 'none' && e.getClientRects().length > 0;
}, id);
const waitText = (page, id, want) =>
  page.waitForFunction((i, w) => document.getElementById(i).textContent === w, WAIT, id, want);

test('the scene comes from the hello and the lander goes where the states put it', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    assert.equal(await page.evaluate(() => window.vtalViewer.hasView), true);
    assert.equal(await visible(page, 'play'), false, 'replay controls hidden');
    assert.equal(await visible(page, 'slider'), false);
    assert.equal(await visible(page, 'warp-up'), true, 'live controls shown');
    assert.equal(await visible(page, 'focus-next'), false, 'one vessel: no next');
    const parts = await page.evaluate(() => window.vtalViewer.partScreenBoxes(0).length);
    assert.ok(parts > 60, `${parts} animated parts of the stand-in model`);
    // Two states a second of flight apart; with no more coming the page
    // comes to rest on the newer one.
    const k0 = flight.times.findIndex((t) => t >= 10);
    const k1 = flight.times.findIndex((t) => t >= 11);
    const c = flight.channels[0];
    // The engines lit (they are off in the flight's first seconds).
    const info = flight.hello().vessels[0];
    const thrust = c.thrust.map((x, i) => (info.engines.includes(i) ? 0.6 : x[k1]));
    host.send(flight.state(k0, {}, { thrust }));
    host.send(flight.state(k1, {}, { thrust }));
    await waitText(page, 'i-altitude', c.altitude[k1].toFixed(2));
    const placed = await page.evaluate(() => window.vtalViewer.vesselObject(0).position.toArray());
    for (let i = 0; i < 3; i++) assert.ok(Math.abs(placed[i] - c.pos[i][k1]) < 1e-6, `position ${i}`);
    assert.equal(await text(page, 'i-time'), flight.times[k1].toFixed(2));
    // A plume on every exhaust of a lit thruster: the engines' twelve flames.
    const lit = info.exhausts.filter((e) => e.thruster >= 0 && thrust[e.thruster] > 1e-3).length;
    assert.ok(lit >= 12, `${lit} flames`);
    assert.equal(await page.evaluate(() => window.vtalViewer.plumesShown(0)), lit);
    assert.equal(await text(page, 'overlay'), '1×');
    assert.deepEqual(chromium.errors, []);
  } finally {
    await end(s);
  }
});

test('a part moves to the pose of the newest state', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    const step = flight.record.poseStep;
    const k = flight.times.findIndex((t) => t >= 5);
    const pose = (x) => [{ g: [13], q: [0, 0, 0, 1 / step], p: [x / step, 0, 0] }];
    host.send(flight.state(k, {}, { poses: pose(0) }));
    host.send(flight.state(k + 1, {}, { poses: pose(0.5) }));
    await page.waitForFunction(() => {
      const m = window.vtalViewer.partMatrix(0, 13);
      return m && Math.abs(m[12] - 0.5) < 1e-9;
    }, WAIT);
  } finally {
    await end(s);
  }
});

test('keys go once down and once up with their modifiers; Ctrl+P and Ctrl+S are commands', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    await page.keyboard.down('KeyL');
    await page.keyboard.down('KeyL'); // the browser's auto-repeat
    await page.keyboard.up('KeyL');
    await page.keyboard.down('Shift');
    await page.keyboard.press('KeyB');
    await page.keyboard.up('Shift');
    await page.keyboard.down('Control');
    await page.keyboard.press('KeyP');
    await page.keyboard.press('KeyS');
    await page.keyboard.up('Control');
    await host.waitFor(() => host.received.length >= 6, 'six messages');
    assert.deepEqual(host.received, [
      { type: 'key', code: 'KeyL', down: true, shift: false, ctrl: false },
      { type: 'key', code: 'KeyL', down: false, shift: false, ctrl: false },
      { type: 'key', code: 'KeyB', down: true, shift: true, ctrl: false },
      { type: 'key', code: 'KeyB', down: false, shift: true, ctrl: false },
      { type: 'command', name: 'pause' },
      { type: 'command', name: 'save' },
    ]);
  } finally {
    await end(s);
  }
});

test('a page that loses the keyboard, or closes, lets go of the keys it holds', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    await page.keyboard.down('NumpadAdd');
    await page.keyboard.down('Shift');
    await page.keyboard.down('KeyV');
    await host.waitFor(() => host.keys().length === 2, 'two keys down');
    await page.evaluate(() => window.dispatchEvent(new Event('blur')));
    await host.waitFor(() => host.keys().length === 4, 'both up');
    assert.deepEqual(host.keys().slice(2), [
      { type: 'key', code: 'NumpadAdd', down: false, shift: false, ctrl: false },
      { type: 'key', code: 'KeyV', down: false, shift: true, ctrl: false },
    ]);
    await page.keyboard.up('Shift');
    await page.keyboard.up('KeyV'); // already let go: not sent again
    await page.keyboard.down('KeyK');
    await host.waitFor(() => host.keys().length === 5, 'K down');
    await page.close({ runBeforeUnload: false });
    await host.waitFor(() => host.keys().length === 6, 'K up as the page goes');
    assert.deepEqual(host.keys()[5], { type: 'key', code: 'KeyK', down: false, shift: false, ctrl: false });
  } finally {
    await end(s);
  }
});

test('the keypad holds a key while pressed, with its latched Shift', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    assert.equal(await visible(page, 'keypad'), false, 'off at first');
    await page.click('#keypad-toggle');
    assert.equal(await visible(page, 'keypad'), true);
    await page.click('#pad-shift');
    const plus = await page.$('#keypad [data-code="NumpadAdd"]');
    const box = await plus.boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await host.waitFor(() => host.keys().length === 1, 'keypad + down');
    await page.mouse.up();
    await host.waitFor(() => host.keys().length === 2, 'keypad + up');
    await page.click('#pad-shift');
    // Leaving the button lets go as well.
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width / 2, box.y - 200);
    await host.waitFor(() => host.keys().length === 4, 'down, and up on leaving');
    await page.mouse.up();
    assert.deepEqual(host.keys(), [
      { type: 'key', code: 'NumpadAdd', down: true, shift: true, ctrl: false },
      { type: 'key', code: 'NumpadAdd', down: false, shift: true, ctrl: false },
      { type: 'key', code: 'NumpadAdd', down: true, shift: false, ctrl: false },
      { type: 'key', code: 'NumpadAdd', down: false, shift: false, ctrl: false },
    ]);
  } finally {
    await end(s);
  }
});

test('the buttons send the commands; the overlay shows the warp, what it reaches, and the pause', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    for (const id of ['warp-down', 'warp-up', 'pause', 'save']) await page.click(`#${id}`);
    await host.waitFor(() => host.received.length === 4, 'four commands');
    assert.deepEqual(host.received.map((m) => m.name), ['warp-down', 'warp-up', 'pause', 'save']);
    const k = flight.times.findIndex((t) => t >= 3);
    host.send(flight.state(k, { warp: 10, reachedWarp: 6.28 }));
    await waitText(page, 'overlay', '10× (reached 6.3×)');
    host.send(flight.state(k + 1, { warp: 10, reachedWarp: 9.7 }));
    await waitText(page, 'overlay', '10×');
    host.send(flight.state(k + 1, { warp: 10, reachedWarp: 0, paused: true }));
    await waitText(page, 'overlay', 'Paused');
    assert.equal(await text(page, 'pause'), 'Resume');
    host.send({ type: 'saved', path: '/tmp/flight.scn', ok: true, message: '' });
    await page.waitForFunction(() => !document.getElementById('toast').hidden, WAIT);
    assert.match(await text(page, 'toast'), /\/tmp\/flight\.scn/);
    host.send({ type: 'hud', focus: 0, width: 1280, height: 1024, runs: [{ x: 10, y: 276, colour: '#ff0000', text: 'M = Descent Manual Override' }] });
    host.send({ type: 'annotations', annotations: [{ text: 'Crash! Impact > 10m/s', colour: '#ff0000', size: 1, box: [0.3, 0.1, 0.7, 0.2], from: 3 }] });
    await page.waitForFunction(() => document.querySelector('#hud .hud-run') &&
      document.querySelector('#hud .hud-run').dataset.colour === '#ff0000', WAIT);
    await waitText(page, 'notes', 'Crash! Impact > 10m/s');
    await page.click('#end');
    await host.waitFor(() => host.received.length === 5, 'end');
    host.send({ type: 'ended' });
    await page.waitForFunction(() => !document.getElementById('banner').hidden, WAIT);
    assert.equal(await text(page, 'banner-text'), 'Session ended');
    // Ended: a key goes nowhere (the handler runs as the key is pressed).
    await page.keyboard.press('KeyM');
    assert.deepEqual(await page.evaluate(() => window.vtalViewer.sent().length), 5);
  } finally {
    await end(s);
  }
});

test('two vessels: the next-vessel button, and the instruments follow the focus', async () => {
  const hello = flight.hello();
  hello.vessels.push({ ...hello.vessels[0], name: 'Second' });
  const s = await session(hello);
  try {
    const { host, page } = s;
    assert.equal(await visible(page, 'focus-next'), true);
    assert.equal(await visible(page, 'vessel'), true);
    await page.click('#focus-next');
    await host.waitFor(() => host.received.length === 1, 'focus-next');
    assert.deepEqual(host.received[0], { type: 'command', name: 'focus-next' });
    const k = flight.times.findIndex((t) => t >= 4);
    const state = flight.state(k, { focus: 1 });
    state.vessels.push({ ...state.vessels[0], pos: [5, 1, 0], altitude: 1 });
    host.send(state);
    await waitText(page, 'i-vessel', 'Second');
    await waitText(page, 'i-altitude', '1.00');
    assert.equal(await page.evaluate(() => document.getElementById('vessel').value), '1');
  } finally {
    await end(s);
  }
});

test('when the host goes, the page says so and offers to reconnect', async () => {
  const s = await session();
  try {
    const { host, page } = s;
    host.dropConnections();
    await page.waitForFunction(() => !document.getElementById('banner').hidden, WAIT);
    assert.equal(await text(page, 'banner-text'), 'Disconnected');
    assert.equal(await visible(page, 'reconnect'), true);
  } finally {
    await end(s);
  }
});

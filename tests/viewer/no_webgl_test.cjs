// Both pages in a Chromium without WebGL: the replay and a live page (fed
// by a scripted host) show the notice where the view would be, the
// instruments and the head-up legend, follow the slider or the states, and
// take keys, with no error in the console.
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT (a folder for the run),
// CHROMIUM (default /usr/bin/chromium); puppeteer-core and ws on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { launch, viewerTemplate, NO_WEBGL } = require('./browser.cjs');
const { ScriptedHost, recordedFlight } = require('./scripted_host.cjs');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const NOTICE = 'The 3-D view needs WebGL, which this browser does not provide.';
const UNTIL = 30; // s of the default descent

let chromium;
let flight;
const pagePath = path.join(OUT, 'no-webgl.html');

test.before(async () => {
  fs.mkdirSync(OUT, { recursive: true });
  flight = recordedFlight(SIM, pagePath, UNTIL);
  chromium = await launch(NO_WEBGL);
});

test.after(async () => {
  if (chromium) await chromium.close();
});

const shown = (page) => page.evaluate(() => {
  const visible = (id) => {
    const e = document.getElementById(id);
    return !!e && !e.hidden && getComputedStyle(e).display !== 'none' && e.getClientRects().length > 0;
  };
  return {
    notice: visible('notice') ? document.getElementById('notice').textContent : null,
    view: visible('view'),
    altitude: document.getElementById('i-altitude').textContent,
    time: document.getElementById('i-time').textContent,
    legend: [...document.querySelectorAll('#hud .hud-run')].map((s) => s.textContent),
    cameraButtons: [...document.querySelectorAll('[data-camera]')].map((b) => b.disabled),
  };
});

async function setSlider(page, t) {
  await page.evaluate((value) => {
    const s = document.getElementById('slider');
    s.value = String(value);
    s.dispatchEvent(new Event('input', { bubbles: true }));
  }, t);
}

test('the replay without WebGL shows the notice, the instruments and the legend, and the slider moves them', async () => {
  const page = await chromium.open(`file://${pagePath}`);
  await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, { timeout: 30000 });
  assert.equal(await page.evaluate(() => window.vtalViewer.hasView), false);
  const alt = flight.channels[0].altitude;
  const at = (t) => flight.times.findIndex((x) => x >= t - 1e-9);
  await setSlider(page, 0);
  const start = await shown(page);
  assert.equal(start.notice, NOTICE);
  assert.equal(start.view, false, 'no empty canvas in its place');
  assert.ok(start.legend.includes('Controls:'), `legend: ${start.legend.join(' | ')}`);
  assert.ok(start.cameraButtons.every((d) => d), 'the cameras are off without a view');
  assert.ok(Math.abs(Number(start.altitude) - alt[0]) <= 0.005, `altitude ${start.altitude} at 0`);
  const k = at(25);
  await setSlider(page, flight.times[k]);
  const later = await shown(page);
  assert.equal(later.time, flight.times[k].toFixed(2));
  assert.ok(Math.abs(Number(later.altitude) - alt[k]) <= 0.005, `altitude ${later.altitude} at 25 s, recorded ${alt[k]}`);
  assert.ok(Number(later.altitude) < Number(start.altitude) - 10, 'the lander came down');
  assert.deepEqual(chromium.errors, []);
  await page.close();
});

test('a live page without WebGL connects, shows the state, the legend and the notice, and sends keys', async () => {
  const host = await ScriptedHost.start(viewerTemplate(SIM));
  try {
    host.onConnect = (socket) => socket.send(JSON.stringify(flight.hello()));
    const page = await chromium.open(host.url);
    await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, { timeout: 30000 });
    assert.equal(host.lastQuery, '/ws?token=test-token', 'the token goes along');
    const k = flight.times.findIndex((x) => x >= 20);
    host.send(flight.state(k));
    const want = flight.channels[0].altitude[k].toFixed(2);
    await page.waitForFunction((a) => document.getElementById('i-altitude').textContent === a, { timeout: 30000 }, want);
    const s = await shown(page);
    assert.equal(s.notice, NOTICE);
    assert.ok(s.legend.includes('Controls:'));
    await page.keyboard.press('KeyM');
    await host.waitFor(() => host.keys().filter((m) => m.code === 'KeyM').length === 2, 'M down and up');
    assert.deepEqual(host.keys().map((m) => m.down), [true, false]);
    assert.deepEqual(chromium.errors, []);
    await page.close();
  } finally {
    await host.stop();
  }
});

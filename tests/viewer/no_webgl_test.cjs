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
// The notice says why the view is missing, what still works and what to try.
const NOTICE_WHY = 'The 3-D view needs WebGL, which this browser does not provide.';
function assertNotice(notice) {
  assert.ok(notice, 'the notice is shown');
  assert.ok(notice.why === NOTICE_WHY, `why: ${notice.why}`);
  assert.match(notice.text, /instruments, the head-up legend and the controls below work without it/);
  assert.match(notice.text, /To see the view:/);
  assert.match(notice.text, /hardware \(graphics\) acceleration/);
  assert.match(notice.text, /another browser/);
  assert.ok(notice.tries >= 3, `${notice.tries} things to try`);
  assert.ok(notice.inside, 'the notice fits in the window, clear of the instruments and the legend');
}
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
    notice: visible('notice') ? (() => {
      const n = document.getElementById('notice');
      const box = n.getBoundingClientRect();
      const panel = document.getElementById('panel').getBoundingClientRect();
      const bar = document.getElementById('bar').getBoundingClientRect();
      const apart = (a, b) => a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
      const legend = [...document.querySelectorAll('#hud .hud-run')].map((r) => r.getBoundingClientRect());
      return {
        why: n.querySelector('.why').textContent,
        text: n.textContent,
        tries: n.querySelectorAll('li').length,
        inside: box.left >= 0 && box.top >= 0 && box.right <= window.innerWidth && box.bottom <= bar.top
          && apart(box, panel) && legend.every((r) => apart(box, r)),
      };
    })() : null,
    view: visible('view'),
    altitude: document.getElementById('i-altitude').textContent,
    time: document.getElementById('i-time').textContent,
    clock: document.getElementById('clock').textContent,
    slider: visible('slider'),
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
  assertNotice(start.notice);
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
  // The time line and the legend follow the slider too.
  assert.ok(start.slider, 'the time line is shown');
  assert.match(later.clock, new RegExp(`^${flight.times[k].toFixed(2)} / `));
  const readout = (legend) => legend.find((r) => r.startsWith('ALT'));
  assert.ok(readout(start.legend) && readout(later.legend), `legend: ${later.legend.join(' | ')}`);
  assert.notEqual(readout(later.legend), readout(start.legend), 'the legend\'s readout moved with the slider');
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
    assertNotice(s.notice);
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

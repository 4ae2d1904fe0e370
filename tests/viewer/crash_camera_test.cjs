// The replay of a crash in Chromium: the default descent switched to manual
// at 5 s falls unpowered and is driven into the ground. No camera may follow
// it below the surface (the view would be the ground seen from inside, one
// grey): each stays above the ground and shows the place it went in, and
// before the crash the chase camera still follows the falling lander.
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT (a folder for the run),
// CHROMIUM (default /usr/bin/chromium); puppeteer-core on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { launch } = require('./browser.cjs');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const CLEARANCE = 0.3; // m: the cameras' least height over the ground
const FALLING_AT = 20; // s: manual since 5 s, well before the crash

let chromium;
let page;
let report;

test.before(async () => {
  fs.mkdirSync(OUT, { recursive: true });
  const html = path.join(OUT, 'crash.html');
  const json = path.join(OUT, 'crash.json');
  execFileSync(SIM, ['--quiet', '--keys', '5:M', '--view', html, '--report', json]);
  report = JSON.parse(fs.readFileSync(json, 'utf8'));
  chromium = await launch();
  page = await chromium.open(`file://${html}`);
  await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, { timeout: 60000 });
});

test.after(async () => {
  if (chromium) await chromium.close();
});

async function showAt(mode, t) {
  await page.click(`[data-camera="${mode}"]`);
  await page.evaluate((time) => window.vtalViewer.setTime(time), t);
}

// The camera, the vessel, and what the view shows: the share of its pixels
// in its most common colour, and the count of those in the landing mark's red.
const look = () => page.evaluate(() => {
  const v = window.vtalViewer;
  const gl = v.canvas;
  const c = document.createElement('canvas');
  c.width = gl.width;
  c.height = gl.height;
  const ctx = c.getContext('2d');
  ctx.drawImage(gl, 0, 0);
  const { data } = ctx.getImageData(0, 0, c.width, c.height);
  const counts = new Map();
  let red = 0;
  const n = data.length / 4;
  for (let i = 0; i < data.length; i += 4) {
    const key = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    counts.set(key, (counts.get(key) || 0) + 1);
    if (data[i] > 200 && data[i + 1] < 130 && data[i + 2] < 110) red++;
  }
  // Where the lander's origin shows, as fractions of the view from its top left.
  const p = v.vesselObject(0).position.clone().project(v.camera);
  return {
    camera: v.camera.position.y,
    vessel: v.vesselObject(0).position.y,
    commonest: Math.max(...counts.values()) / n,
    red,
    vesselCentre: [(p.x + 1) / 2, (1 - p.y) / 2],
  };
});

test('the run crashes: the lander ends below the surface', () => {
  const lander = report.vessels[0];
  assert.notEqual(lander.stopped_in_ground_at, null, 'driven into the ground');
  assert.ok(lander.final.altitude < 0, `altitude ${lander.final.altitude}`);
});

test('after the crash every camera stays above the ground and shows where the lander went in', async () => {
  const end = await page.evaluate(() => window.vtalViewer.record.endTime);
  for (const mode of ['chase', 'ground', 'orbit']) {
    await showAt(mode, end);
    const seen = await look();
    assert.ok(seen.vessel < 0, `${mode}: the lander is below the ground (${seen.vessel} m)`);
    assert.ok(seen.camera >= CLEARANCE - 1e-9, `${mode}: camera at ${seen.camera} m`);
    assert.ok(seen.commonest < 0.99, `${mode}: ${(100 * seen.commonest).toFixed(1)} % of the view is one colour`);
    // From the ground observer 23 m away the mark is seen edge on: a few hundred pixels.
    assert.ok(seen.red > 100, `${mode}: the landing mark shows (${seen.red} red pixels)`);
  }
  assert.deepEqual(chromium.errors, []);
});

test('before the crash the chase camera follows the falling lander', async () => {
  await showAt('chase', FALLING_AT);
  const seen = await look();
  assert.ok(seen.vessel > 100, `the lander is still high (${seen.vessel} m)`);
  assert.ok(seen.camera > seen.vessel, 'the camera is above the lander');
  const [x, y] = seen.vesselCentre;
  assert.ok(Math.abs(x - 0.5) < 0.15 && Math.abs(y - 0.5) < 0.15, `the lander at ${x.toFixed(2)}, ${y.toFixed(2)} of the view`);
  assert.deepEqual(chromium.errors, []);
});

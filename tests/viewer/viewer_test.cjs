// The replay page in a real headless Chromium: vtal-sim flies the default
// descent with K and G on the ground and writes the page, its telemetry,
// report and head-up display; the page must load without a console error,
// show the telemetry's numbers at t = 0 and at touchdown, show the legend as
// painted, move the lander to the recorded state with the slider, and change
// on screen where the panels and the deck come out.
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT (a folder for the run and the
// screenshots), CHROMIUM (default /usr/bin/chromium); puppeteer-core on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const os = require('node:os');
const { execFileSync } = require('node:child_process');
const puppeteer = require('puppeteer-core');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const KEYS_AT = 75; // s: K and G, on the ground since 69 s
const UNTIL = 90; // s: panels (10 s) and deck (4 s) are out
const VIEW = { width: 1280, height: 800 };

// ---- the run
fs.mkdirSync(OUT, { recursive: true });
const files = {
  page: path.join(OUT, 'flight.html'),
  telemetry: path.join(OUT, 'flight.csv'),
  report: path.join(OUT, 'flight.json'),
  hud: path.join(OUT, 'flight-hud.svg'),
};

function flyDefaultDescent() {
  execFileSync(SIM, ['--quiet', '--until', String(UNTIL), '--keys', `${KEYS_AT}:K,${KEYS_AT}:G`,
    '--view', files.page, '--telemetry', files.telemetry, '--report', files.report, '--hud', files.hud]);
}

function readTelemetry() {
  const [head, ...rows] = fs.readFileSync(files.telemetry, 'utf8').trim().split('\n');
  const columns = head.split(',');
  return rows.map((line) => {
    const cells = line.split(',');
    const row = {};
    columns.forEach((c, i) => { row[c] = c === 'navmodes' ? cells[i] : Number(cells[i]); });
    return row;
  });
}

function rowAt(rows, t) {
  return rows.reduce((best, r) => (Math.abs(r.time - t) < Math.abs(best.time - t) ? r : best));
}

// The record as written into the page, decoded here on its own.
function readRecord() {
  const html = fs.readFileSync(files.page, 'utf8');
  const m = html.match(/<script id="vtal-record" type="application\/json">([\s\S]*?)<\/script>/);
  assert.ok(m, 'the page holds the record');
  return JSON.parse(m[1]);
}

function decode(channel) {
  let q = 0;
  return channel.d.map((d) => { q += d; return q * channel.step; });
}

// ---- the browser
let browser;
let page;
let profile;
const consoleErrors = [];

async function openPage() {
  profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-chromium-'));
  browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      `--user-data-dir=${profile}`],
  });
  page = await browser.newPage();
  page.on('console', (msg) => { if (msg.type() === 'error') consoleErrors.push(msg.text()); });
  page.on('pageerror', (err) => consoleErrors.push(err.message));
  page.on('requestfailed', (req) => consoleErrors.push(`request failed: ${req.url()}`));
  // Nothing may be fetched: every request other than the page itself is refused.
  await page.setRequestInterception(true);
  page.on('request', (req) => {
    if (req.url() === `file://${files.page}`) req.continue();
    else {
      consoleErrors.push(`fetched: ${req.url()}`);
      req.abort();
    }
  });
  await page.setViewport(VIEW);
  await page.goto(`file://${files.page}`, { waitUntil: 'load' });
  await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, { timeout: 30000 });
}

const readInstruments = () => page.evaluate(() => {
  const text = (id) => document.getElementById(id).textContent;
  return {
    time: text('i-time'), altitude: text('i-altitude'), vs: text('i-vs'), hs: text('i-hs'),
    heading: text('i-heading'), pitch: text('i-pitch'), bank: text('i-bank'), engines: text('i-engines'),
    yaw: text('i-yaw'), nav: text('i-nav'), prop: text('i-prop'), contact: text('i-contact'),
  };
});

// A shown number equals the telemetry's to the digits shown and the record's
// own rounding (`kept`: what the record may be off by, in the shown unit).
function assertShown(shown, expected, what, modulo, kept = 1e-3) {
  const digits = (shown.split('.')[1] || '').length;
  let d = Math.abs(Number(shown) - expected);
  if (modulo) d = Math.min(d, modulo - d);
  assert.ok(d <= 0.5 * 10 ** -digits + kept, `${what}: shows ${shown}, telemetry ${expected}`);
}

// Thruster levels are kept to 1e-4, shown in per cent.
const LEVEL_KEPT_PERCENT = 100 * 1e-4 / 2 + 1e-9;

function assertInstrumentsMatch(shown, row) {
  assertShown(shown.time, row.time, 'time');
  assertShown(shown.altitude, row.altitude, 'altitude');
  assertShown(shown.vs, row.vertical_speed, 'vertical speed');
  assertShown(shown.hs, row.horizontal_speed, 'horizontal speed');
  assertShown(shown.heading, row.heading_deg, 'heading', 360);
  assertShown(shown.pitch, row.pitch_deg, 'pitch');
  assertShown(shown.bank, row.bank_deg, 'bank');
  const engines = shown.engines.split(' / ');
  assert.equal(engines.length, 3);
  engines.forEach((e, i) => assertShown(e, 100 * row[`engine${i + 1}`], `engine ${i + 1} %`, 0, LEVEL_KEPT_PERCENT));
  const [left, right] = shown.yaw.split(' / ');
  assertShown(left, 100 * row.yaw_left, 'yaw left %', 0, LEVEL_KEPT_PERCENT);
  assertShown(right, 100 * row.yaw_right, 'yaw right %', 0, LEVEL_KEPT_PERCENT);
  assert.equal(shown.nav, row.navmodes);
  assertShown(shown.prop, row.propellant_kg, 'propellant');
  assert.equal(shown.contact, row.ground_contact ? 'on the ground' : 'flying');
}

// Pixels of the 3-D view as RGBA bytes, kept in the page under a name.
const grab = (name) => page.evaluate((key) => {
  const gl = window.vtalViewer.canvas;
  const c = document.createElement('canvas');
  c.width = gl.width;
  c.height = gl.height;
  const ctx = c.getContext('2d');
  ctx.drawImage(gl, 0, 0);
  window.__grabs = window.__grabs || {};
  window.__grabs[key] = ctx.getImageData(0, 0, c.width, c.height);
  return [c.width, c.height];
}, name);

// Share of the pixels inside a box (CSS pixels; null: all) that differ between two grabs.
const differingShare = (a, b, box, threshold = 30) => page.evaluate((ka, kb, bx, least) => {
  const A = window.__grabs[ka];
  const B = window.__grabs[kb];
  const scale = A.width / window.innerWidth;
  const [x0, y0, x1, y1] = bx ? bx.map((v) => Math.round(v * scale)) : [0, 0, A.width, A.height];
  let differ = 0;
  let all = 0;
  for (let y = Math.max(0, y0); y < Math.min(A.height, y1); y++) {
    for (let x = Math.max(0, x0); x < Math.min(A.width, x1); x++) {
      const i = 4 * (y * A.width + x);
      const d = Math.abs(A.data[i] - B.data[i]) + Math.abs(A.data[i + 1] - B.data[i + 1]) +
        Math.abs(A.data[i + 2] - B.data[i + 2]);
      all++;
      if (d > least) differ++;
    }
  }
  return all ? differ / all : 0;
}, a, b, box, threshold);

function union(boxes) {
  return boxes.reduce((u, b) => [Math.min(u[0], b[0]), Math.min(u[1], b[1]), Math.max(u[2], b[2]), Math.max(u[3], b[3])],
    [Infinity, Infinity, -Infinity, -Infinity]);
}

async function setSlider(t) {
  await page.evaluate((value) => {
    const s = document.getElementById('slider');
    s.value = String(value);
    s.dispatchEvent(new Event('input', { bubbles: true }));
  }, t);
}

test.before(async () => {
  flyDefaultDescent();
  await openPage();
});

test.after(async () => {
  if (browser) await browser.close();
  if (profile) fs.rmSync(profile, { recursive: true, force: true });
});

test('the page loads and draws without a console error or a request', async () => {
  await page.evaluate(() => window.vtalViewer.setTime(1));
  assert.deepEqual(consoleErrors, []);
});

test('the instruments at t = 0 and at touchdown show the telemetry of the same run', async () => {
  const rows = readTelemetry();
  const report = JSON.parse(fs.readFileSync(files.report, 'utf8'));
  await setSlider(0);
  assertInstrumentsMatch(await readInstruments(), rows[0]);
  await page.click('#touchdown');
  const touchdown = report.vessels[0].touchdown.time;
  assert.ok(Math.abs((await page.evaluate(() => window.vtalViewer.time())) - touchdown) < 1e-9);
  const shown = await readInstruments();
  assertInstrumentsMatch(shown, rowAt(rows, touchdown));
  assert.equal(shown.contact, 'on the ground');
});

test('the head-up legend shows the runs the module painted, where and in the colour it painted them', async () => {
  await setSlider(UNTIL);
  const svg = fs.readFileSync(files.hud, 'utf8');
  const unescape = (s) => s.replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&quot;/g, '"').replace(/&amp;/g, '&');
  const painted = [...svg.matchAll(/<text x="(\d+)" y="(\d+)"[^>]*fill="(#[0-9a-f]{6})">([^<]*)<\/text>/g)]
    .map((m) => ({ x: Number(m[1]), y: Number(m[2]), colour: m[3], text: unescape(m[4]) }));
  assert.ok(painted.some((r) => r.text.startsWith('K = ') || r.text.includes('Camera')), 'the legend lists keys');
  const shown = await page.evaluate(() => {
    const hud = document.getElementById('hud').getBoundingClientRect();
    return [...document.querySelectorAll('#hud .hud-run')].map((s) => {
      const r = s.getBoundingClientRect();
      return { x: Number(s.dataset.x), y: Number(s.dataset.y), colour: s.dataset.colour, text: s.textContent,
        fx: (r.left - hud.left) / hud.width, fy: (r.top - hud.top) / hud.height, css: getComputedStyle(s).color };
    });
  });
  assert.deepEqual(shown.map(({ x, y, colour, text }) => ({ x, y, colour, text })), painted);
  const record = readRecord();
  for (const s of shown) {
    // Placed at the painted position on the page, in the painted colour.
    assert.ok(Math.abs(s.fx - s.x / record.hud.width) < 0.005, `${s.text} at x ${s.fx}`);
    assert.ok(Math.abs(s.fy - s.y / record.hud.height) < 0.005, `${s.text} at y ${s.fy}`);
    const [r, g, b] = [1, 3, 5].map((i) => parseInt(s.colour.slice(i, i + 2), 16));
    assert.equal(s.css, `rgb(${r}, ${g}, ${b})`);
  }
});

test('moving back and forth, the legend shows each time the runs the record holds for it, in order', async () => {
  const record = readRecord();
  const frames = record.hud.frames;
  const frameAt = (t) => {
    let k = -1;
    // The record's times are kept to the microsecond.
    frames.forEach((f, i) => { if (f.t <= t + 5e-7) k = i; });
    return k;
  };
  const touchdown = record.vessels[0].touchdown;
  // Across frames whose legends differ in their number of runs and in their texts.
  const counts = new Set(frames.map((f) => f.runs.length));
  assert.ok(counts.size >= 2, `legends of ${[...counts].join(', ')} runs`);
  for (const t of [UNTIL, 0, 40, touchdown, 10, KEYS_AT + 1, 0.5, UNTIL]) {
    await setSlider(t);
    const k = frameAt(t);
    const want = k < 0 ? [] : frames[k].runs.map((r) => record.hud.runs[r])
      .map((r) => ({ x: r.x, y: r.y, colour: r.colour, text: r.text }));
    const shown = await page.evaluate(() => [...document.getElementById('hud').children].map((s) => ({
      x: Number(s.dataset.x), y: Number(s.dataset.y), colour: s.dataset.colour, text: s.textContent,
      left: s.style.left, top: s.style.top })));
    assert.deepEqual(shown.map(({ x, y, colour, text }) => ({ x, y, colour, text })), want, `legend at ${t}`);
    // Placed at its own run's position (CSS keeps 6 digits of a percentage).
    for (const s of shown) {
      assert.ok(Math.abs(parseFloat(s.left) - (100 * s.x) / record.hud.width) < 1e-4, `${s.text} at ${t}: left ${s.left}`);
      assert.ok(Math.abs(parseFloat(s.top) - (100 * s.y) / record.hud.height) < 1e-4, `${s.text} at ${t}: top ${s.top}`);
    }
  }
});

test('the slider moves the lander to the recorded state', async () => {
  const record = readRecord();
  const times = decode(record.time);
  const focus = record.vessels[record.focus].channels;
  const rows = readTelemetry();
  for (const want of [12.5, 45, 66]) {
    const k = times.findIndex((t) => t >= want - 1e-6);
    const t = times[k];
    await setSlider(t);
    const placed = await page.evaluate(() => {
      const o = window.vtalViewer.vesselObject(0);
      return { p: o.position.toArray(), q: o.quaternion.toArray() };
    });
    const p = focus.pos.map((c) => decode(c)[k]);
    const q = focus.quat.map((c) => decode(c)[k]);
    for (let i = 0; i < 3; i++) assert.ok(Math.abs(placed.p[i] - p[i]) < 1e-3, `position ${i} at ${t}: ${placed.p[i]} vs ${p[i]}`);
    const dot = Math.abs(q.reduce((s, x, i) => s + x * placed.q[i], 0));
    assert.ok(dot > 1 - 1e-6, `attitude at ${t}`);
    // Its height over the landing point is the telemetry's altitude (the ground curves away by millimetres here).
    const row = rowAt(rows, t);
    assert.ok(Math.abs(placed.p[1] - row.altitude) < 0.05, `height ${placed.p[1]} vs altitude ${row.altitude}`);
    assertInstrumentsMatch(await readInstruments(), row);
  }
});

test('descending, the engines show plumes; below 5 m the dust', async () => {
  await setSlider(48); // 54 m up, the engines at 46 %
  assert.ok((await page.evaluate(() => window.vtalViewer.plumesShown(0))) >= 12, 'a plume on each engine flame');
  await page.screenshot({ path: path.join(OUT, 'replay-descent.png') });
  const rows = readTelemetry();
  const low = rows.find((r) => r.altitude < 3 && r.engine1 > 0.01);
  assert.ok(low, 'the engines run below 3 m');
  await setSlider(low.time);
  assert.equal(await page.evaluate(() => window.vtalViewer.dustShown(0)), true);
});

test('after K and G the chase view changes where the panels and the deck come out, and the lander fills it reasonably', async (t) => {
  const record = readRecord();
  const touchdown = record.vessels[0].touchdown;
  await setSlider(touchdown);
  await grab('touchdown');
  // Without the lander: the share of the view it covers.
  await page.evaluate(() => window.vtalViewer.setVesselsVisible(false));
  await grab('empty');
  await page.evaluate(() => window.vtalViewer.setVesselsVisible(true));
  // Grey parts over grey ground differ little, but they differ.
  const covered = await differingShare('touchdown', 'empty', null, 6);
  t.diagnostic(`the lander covers ${covered.toFixed(3)} of the chase view at touchdown`);
  assert.ok(covered > 0.05 && covered < 0.7, `the lander covers ${covered} of the chase view`);

  await setSlider(UNTIL);
  await grab('deployed');
  await page.screenshot({ path: path.join(OUT, 'replay-landed.png') });
  // The parts that moved between the two, as the record says.
  const moved = new Set();
  for (const frame of record.vessels[0].poses)
    if (frame.t > touchdown + 1e-6) for (const set of frame.sets) for (const g of set.g) moved.add(g);
  const boxes = await page.evaluate(() => window.vtalViewer.partScreenBoxes(0));
  const panels = boxes.filter((b) => moved.has(b.group) && b.label.startsWith('fan segment'));
  const deck = boxes.filter((b) => moved.has(b.group) && !b.label.startsWith('fan segment'));
  assert.ok(panels.length >= 40, `${panels.length} panel segments moved`);
  assert.ok(deck.length >= 8, `${deck.length} deck parts moved`);
  for (const [what, parts] of [['panels', panels], ['deck', deck]]) {
    const share = await differingShare('touchdown', 'deployed', union(parts.map((b) => b.box)));
    t.diagnostic(`${what}: ${share.toFixed(3)} of their screen area changed`);
    assert.ok(share > 0.1, `${what}: ${share} of their screen area changed`);
  }
  // Away from the lander the view stays as it was.
  const lander = await page.evaluate(() => window.vtalViewer.vesselScreenBox(0));
  const corner = [0, VIEW.height - 200, Math.max(1, Math.min(200, lander[0] - 10)), VIEW.height - 60];
  const still = await differingShare('touchdown', 'deployed', corner);
  t.diagnostic(`away from the lander: ${still.toFixed(4)} changed`);
  assert.ok(still < 0.02, 'the ground far from the lander is unchanged');
  assert.deepEqual(consoleErrors, []);
});

// A live session end to end: vtal-sim live flies the default descent and
// serves the page, which headless Chromium opens. The page shows the
// descent; M puts the lander in the pilot's hands (the legend's override
// row turns red, the saved scenario says MANUAL 1); the keypad's + gives the
// three engines full thrust only while held; L toggles hold level only by
// hand; a page that closes lets go of its keys. A second session lands at
// 100x, where K and G unfold the panels and the deck in the scene, Save
// writes a scenario that reads back, and a page without WebGL still follows.
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT, CHROMIUM; puppeteer-core on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn, spawnSync, execFileSync } = require('node:child_process');
const { launch, NO_WEBGL } = require('./browser.cjs');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const WAIT = { timeout: 60000 }; // a safety net: waits end on the condition
// A vtal-sim without the command takes "live" for a scenario and prints its own help.
const hasLive = SIM && /--port/.test(String(spawnSync(SIM, ['live', '--help']).stdout));

// ---- a session

// vtal-sim live with `args`, in a folder of its own; resolves with its
// page's address once it prints it.
function startSession(name, args) {
  const dir = path.join(OUT, name);
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  const child = spawn(SIM, ['live', '--port', '0', '--quiet', ...args], { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'] });
  const session = { dir, child, stderr: '', exited: new Promise((done) => child.on('exit', (code) => done(code))) };
  child.stderr.on('data', (d) => { session.stderr += d; });
  return new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/Open (http:\/\/\S+)/);
      if (m && !session.url) {
        session.url = m[1];
        resolve(session);
      }
    });
    child.on('exit', (code) => { if (!session.url) reject(new Error(`vtal-sim live ended (${code}): ${session.stderr}`)); });
  });
}

async function stopSession(session) {
  if (session && session.child.exitCode === null) session.child.kill('SIGINT');
  if (session) await session.exited;
}

async function openLive(chromium, url) {
  const page = await chromium.open(url);
  await page.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready &&
    window.vtalViewer.source() && window.vtalViewer.source().hasState(), WAIT);
  return page;
}

const text = (page, id) => page.evaluate((i) => document.getElementById(i).textContent, id);
const engines = (page) => text(page, 'i-engines').then((t) => t.split(' / ').map(Number));
const overrideRow = (page) => page.evaluate(() => {
  const row = [...document.querySelectorAll('#hud .hud-run')].find((s) => s.textContent.startsWith('M = '));
  return row ? row.dataset.colour : null;
});
const waitOverride = (page, colour) => page.waitForFunction((c) => {
  const row = [...document.querySelectorAll('#hud .hud-run')].find((s) => s.textContent.startsWith('M = '));
  return row && row.dataset.colour === c;
}, WAIT, colour);
// Until the flight, as shown, is `seconds` further on.
async function waitFlightTime(page, seconds) {
  const from = Number(await text(page, 'i-time'));
  await page.waitForFunction((t) => Number(document.getElementById('i-time').textContent) >= t, WAIT, from + seconds);
}
const keypad = async (page, code) => {
  if (await page.evaluate(() => document.getElementById('keypad').hidden)) await page.click('#keypad-toggle');
  const b = await (await page.$(`#keypad [data-code="${code}"]`)).boundingBox();
  await page.mouse.move(b.x + b.width / 2, b.y + b.height / 2);
};

// ---- flying by hand

test('by hand: the descent shows, M takes over, + burns while held, L levels only by hand, a closed page lets go', { skip: !hasLive && 'no vtal-sim live in this build' }, async () => {
  const chromium = await launch();
  const scenario = path.join(OUT, 'by-hand', 'end.scn');
  let session;
  try {
    session = await startSession('by-hand', ['--save', scenario]);
    let page = await openLive(chromium, session.url);
    // Falling: the altitude shown goes down.
    const first = Number(await text(page, 'i-altitude'));
    await page.waitForFunction((a) => Number(document.getElementById('i-altitude').textContent) < a - 2, WAIT, first);
    assert.equal(await overrideRow(page), '#00ff00');

    // L while the descent flies itself: no hold level. M then shows the
    // override red; by the time the flight has gone on a second past it, L
    // would have acted.
    await page.keyboard.press('KeyL');
    await page.keyboard.press('KeyM');
    await waitOverride(page, '#ff0000');
    await waitFlightTime(page, 1);
    assert.doesNotMatch(await text(page, 'i-nav'), /HLEVEL/);
    await page.keyboard.press('KeyL');
    await page.waitForFunction(() => /HLEVEL/.test(document.getElementById('i-nav').textContent), WAIT);

    // The keypad's +: full thrust on all three engines while held, none after.
    await keypad(page, 'NumpadAdd');
    await page.mouse.down();
    await page.waitForFunction(() => document.getElementById('i-engines').textContent === '100.0 / 100.0 / 100.0', WAIT);
    await page.mouse.up();
    await page.waitForFunction(() => document.getElementById('i-engines').textContent.split(' / ').every((e) => Number(e) < 100), WAIT);

    // Held as the page closes: a new page finds the engines let go.
    await page.mouse.down();
    await page.waitForFunction(() => document.getElementById('i-engines').textContent === '100.0 / 100.0 / 100.0', WAIT);
    await page.close();
    page = await openLive(chromium, session.url);
    await page.waitForFunction(() => document.getElementById('i-engines').textContent.split(' / ').every((e) => Number(e) < 100), WAIT);
    assert.ok((await engines(page)).every((e) => e < 100));

    await page.click('#end');
    await page.waitForFunction(() => document.getElementById('banner-text').textContent === 'Session ended', WAIT);
    assert.equal(await session.exited, 0, session.stderr);
    assert.match(fs.readFileSync(scenario, 'utf8'), /^\s*MANUAL 1\s*$/m, 'the override saved on');
    assert.deepEqual(chromium.errors, []);
  } finally {
    await stopSession(session);
    await chromium.close();
  }
});

// ---- landed at 100x

test('landed at 100x: K and G unfold the panels and the deck; Save reads back; a page without WebGL follows', { skip: !hasLive && 'no vtal-sim live in this build' }, async () => {
  const chromium = await launch();
  const plain = await launch(NO_WEBGL);
  let session;
  try {
    session = await startSession('landed', []);
    const page = await openLive(chromium, session.url);
    while (!(await text(page, 'overlay')).startsWith('100×')) {
      const before = await text(page, 'overlay');
      await page.click('#warp-up');
      await page.waitForFunction((b) => document.getElementById('overlay').textContent !== b, WAIT, before);
    }
    await page.waitForFunction(() => document.getElementById('i-contact').textContent === 'on the ground', WAIT);
    await page.waitForFunction(() => document.getElementById('i-vs').textContent === '0.00', WAIT);
    // The parts as the scene has them before K and G.
    const partsNow = () => page.evaluate(() => window.vtalViewer.partScreenBoxes(0).map((p) => ({
      group: p.group, label: p.label, m: window.vtalViewer.partMatrix(0, p.group) })));
    const before = await partsNow();
    await page.keyboard.press('KeyK');
    await page.keyboard.press('KeyG');
    await page.waitForFunction(() => /C = Rotate Camera/.test(document.getElementById('hud').textContent), WAIT);
    await waitFlightTime(page, 20); // panels 10 s, deck 4 s
    const after = await partsNow();
    const moved = after.filter((p, i) => p.m.some((x, j) => Math.abs(x - before[i].m[j]) > 1e-3));
    const panels = moved.filter((p) => p.label.startsWith('fan segment')).length;
    const deck = moved.length - panels;
    assert.ok(panels >= 40, `${panels} panel segments moved`);
    assert.ok(deck >= 8, `${deck} deck parts moved`);
    await page.screenshot({ path: path.join(OUT, 'live-landed.png') });

    // A page without WebGL follows the same session.
    const other = await openLive(plain, session.url);
    assert.equal(await other.evaluate(() => window.vtalViewer.hasView), false);
    assert.match(await text(other, 'notice'), /needs WebGL/);
    assert.equal(await text(other, 'i-contact'), 'on the ground');
    assert.match(await text(other, 'i-altitude'), /^\d+\.\d\d$/);

    await page.click('#save');
    await page.waitForFunction(() => !document.getElementById('toast').hidden, WAIT);
    const toast = await text(page, 'toast');
    const saved = toast.match(/^Saved (.+)$/);
    assert.ok(saved, toast);
    const file = path.resolve(session.dir, saved[1]);
    execFileSync(SIM, ['--quiet', '--until', '1', file], { cwd: session.dir });
    assert.match(fs.readFileSync(file, 'utf8'), /SOLP|DECK|Landed/);

    await page.click('#end');
    assert.equal(await session.exited, 0, session.stderr);
    assert.deepEqual([...chromium.errors, ...plain.errors], []);
  } finally {
    await stopSession(session);
    await chromium.close();
    await plain.close();
  }
});

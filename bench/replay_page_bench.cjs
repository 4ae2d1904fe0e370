// The replay page of a long flight: vtal-sim flies the two-lander scenario
// for 600 s (one lander descending, then panels, deck and camera turning on
// both) and writes its page; this prints the page's size (aim: under 10 MB),
// how long it takes to open in headless Chromium until the first frame is
// drawn (aim: under 2 s), what one frame costs the page (state of both
// landers, poses, instruments and the WebGL draw to its end), and the frames
// per second headless Chromium shows while it plays at 100x (software
// rendering and compositing here, without a GPU).
//   node replay_page_bench.cjs VTAL_SIM_EXE [CHROMIUM]   (puppeteer-core on NODE_PATH)
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const puppeteer = require('puppeteer-core');

const [sim, chromium = '/usr/bin/chromium'] = process.argv.slice(2);
const OPENINGS = 5;
const PLAY_MS = 3000;

(async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-replay-bench-'));
  const page = path.join(dir, 'two-landers.html');
  execFileSync(sim, ['Lander/TwoLanders', '--quiet', '--until', '600', '--keys', '75:K,75:G,80:C', '--view', page]);
  const bytes = fs.statSync(page).size;
  console.log(`page of a 600 s flight with two landers: ${(bytes / 1e6).toFixed(2)} MB`);

  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      `--user-data-dir=${path.join(dir, 'profile')}`],
  });
  const tab = await browser.newPage();
  await tab.setViewport({ width: 1280, height: 800 });
  const opened = [];
  for (let i = 0; i < OPENINGS; i++) {
    const started = Date.now();
    await tab.goto(`file://${page}`);
    await tab.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready);
    opened.push(Date.now() - started);
  }
  opened.sort((a, b) => a - b);
  console.log(`opened until drawn: median ${opened[OPENINGS >> 1]} ms, slowest ${opened[OPENINGS - 1]} ms of ${OPENINGS}`);

  const frameMs = await tab.evaluate(() => {
    const v = window.vtalViewer;
    const gl = v.canvas.getContext('webgl2') || v.canvas.getContext('webgl');
    const n = 60;
    const started = performance.now();
    for (let i = 0; i < n; i++) {
      v.setTime(60 + (i * 500) / n);
      gl.finish();
    }
    return (performance.now() - started) / n;
  });
  console.log(`one frame drawn to its end: ${frameMs.toFixed(1)} ms`);
  await tab.click('#speed-100');
  await tab.click('#play');
  const frames = await tab.evaluate((ms) => new Promise((done) => {
    let n = 0;
    const end = performance.now() + ms;
    const count = (now) => { n++; if (now < end) requestAnimationFrame(count); else done(n); };
    requestAnimationFrame(count);
  }), PLAY_MS);
  console.log(`playing at 100x: ${(frames / (PLAY_MS / 1000)).toFixed(1)} frames/s`);
  await browser.close();
  fs.rmSync(dir, { recursive: true, force: true });
})();

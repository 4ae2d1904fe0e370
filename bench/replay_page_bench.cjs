// The replay page of a long flight: vtal-sim flies the two-lander scenario
// for 600 s (one lander descending, then panels, deck and camera turning on
// both) and writes its page; this prints
// - the page's size (aim: under 10 MB);
// - how long it takes to open in headless Chromium until its first frame is
//   on the screen (aim: under 2 s): from the start of the navigation until a
//   frame after the page said it was ready has been presented, so that the
//   first draw's shader compilation and rasterising are counted; with the
//   page's own marks (record decoded, scene built, first frame submitted);
// - what one frame costs, split into the page's own work (state of both
//   landers, poses, instruments, head-up display), three.js issuing the draw,
//   and the wait until the rasteriser has finished it (a 1-pixel readPixels:
//   WebGL's finish() in Chromium only flushes);
// - the frames per second the page draws while it plays at 100x from t = 0.
// Here Chromium renders in software (SwiftShader, on the CPU cores that the
// page's script shares), so the rasteriser's share is what a GPU removes; the
// page's own work is the part a GPU does not change.
//   node replay_page_bench.cjs VTAL_SIM_EXE [CHROMIUM]   (puppeteer-core on NODE_PATH)
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const puppeteer = require('puppeteer-core');

const [sim, chromium = '/usr/bin/chromium'] = process.argv.slice(2);
const OPENINGS = 5;
const FRAMES = 40;
const PLAY_MS = 3000;

const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
const ms = (x) => `${x.toFixed(1)} ms`;

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

  // ---- opening
  const opened = [];
  const phases = [];
  for (let i = 0; i < OPENINGS; i++) {
    const started = Date.now();
    await tab.goto(`file://${page}`);
    await tab.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready);
    // Two animation frames later the first frame has been composited.
    await tab.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
    opened.push(Date.now() - started);
    phases.push(await tab.evaluate(() => {
      const at = (name) => {
        const m = performance.getEntriesByName(name, 'mark')[0];
        return m ? m.startTime : null;
      };
      return { script: at('vtal:script'), record: at('vtal:record'), scene: at('vtal:scene'), submitted: at('vtal:submitted') };
    }));
  }
  console.log(`opened until the first frame is on screen: median ${median(opened)} ms, slowest ${Math.max(...opened)} ms ` +
    `of ${OPENINGS} (${opened.join(', ')} ms)`);
  if (phases.every((p) => p.script !== null && p.submitted !== null)) {
    const m = (key) => median(phases.map((p) => p[key]));
    console.log(`  median marks from the navigation's start: script runs ${ms(m('script'))}, record decoded ` +
      `${ms(m('record'))}, scene built ${ms(m('scene'))}, first frame submitted ${ms(m('submitted'))}; ` +
      `on screen ${median(opened)} ms`);
  }

  // ---- one frame
  const frame = await tab.evaluate((n) => {
    const v = window.vtalViewer;
    const gl = v.canvas.getContext('webgl2') || v.canvas.getContext('webgl');
    const pixel = new Uint8Array(4);
    const sync = () => gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    v.setTime(1);
    sync();
    const sum = { total: 0, script: 0, wait: 0, own: 0, draw: 0 };
    let split = true;
    for (let i = 0; i < n; i++) {
      const t0 = performance.now();
      v.setTime(5 + (i * 590) / n);
      const t1 = performance.now();
      sync();
      const t2 = performance.now();
      sum.total += t2 - t0;
      sum.script += t1 - t0;
      sum.wait += t2 - t1;
      const cost = v.frameCost ? v.frameCost() : null;
      if (cost) {
        sum.own += cost.own;
        sum.draw += cost.draw;
      } else split = false;
    }
    for (const k of Object.keys(sum)) sum[k] /= n;
    return { ...sum, split };
  }, FRAMES);
  console.log(`one frame drawn to its end: ${ms(frame.total)} (mean of ${FRAMES} over the flight): script ${ms(frame.script)}` +
    (frame.split ? ` (the page's own work ${ms(frame.own)}, three.js issuing the draw ${ms(frame.draw)})` : '') +
    `, then the rasteriser ${ms(frame.wait)}: ${((100 * frame.wait) / frame.total).toFixed(0)} % of the frame`);

  // ---- playing at 100x from the start (300 s of the flight in 3 s), in the
  // benchmark's window and in one of a quarter of its pixels: the software
  // rasteriser's share falls with the pixels, the page's own work does not.
  const play = async (label) => {
    await tab.evaluate(() => window.vtalViewer.setTime(0));
    const drawnBefore = await tab.evaluate(() => (window.vtalViewer.framesDrawn ? window.vtalViewer.framesDrawn() : null));
    await tab.click('#play');
    const played = await tab.evaluate((span) => new Promise((done) => {
      let n = 0;
      const start = performance.now();
      const t0 = window.vtalViewer.time();
      const count = (now) => {
        n++;
        if (now < start + span) requestAnimationFrame(count);
        else done({ n, seconds: (now - start) / 1000, advanced: window.vtalViewer.time() - t0 });
      };
      requestAnimationFrame(count);
    }), PLAY_MS);
    const drawnAfter = await tab.evaluate(() => (window.vtalViewer.framesDrawn ? window.vtalViewer.framesDrawn() : null));
    await tab.click('#play');  // pause again
    const drawn = drawnBefore === null ? '' : `, ${((drawnAfter - drawnBefore) / played.seconds).toFixed(1)} drawn by the page`;
    console.log(`playing at 100x, ${label}: ${(played.n / played.seconds).toFixed(1)} animation frames/s${drawn} ` +
      `(${played.advanced.toFixed(0)} s of the flight in ${played.seconds.toFixed(1)} s)`);
  };
  await tab.click('#speed-100');
  await play('1280 x 800');
  await tab.setViewport({ width: 640, height: 400 });
  await play('640 x 400');
  await browser.close();
  fs.rmSync(dir, { recursive: true, force: true });
})();

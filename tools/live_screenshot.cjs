// Takes the docs' picture of a live session: vtal-sim live on a free port,
// the page opened in Debian's Chromium, M pressed (the manual override on,
// its legend row red), a few seconds flown, a screenshot, End.
//
//   NODE_PATH=build/release/viewer/npm/node_modules \
//     node tools/live_screenshot.cjs build/release/bin/vtal-sim docs/live-override.png
'use strict';
const { spawn } = require('node:child_process');
const readline = require('node:readline');
const { launch } = require('../tests/viewer/browser.cjs');

const [sim, out] = process.argv.slice(2);
if (!sim || !out) {
  console.error('usage: live_screenshot.cjs VTAL_SIM OUT.png');
  process.exit(2);
}

function startSession() {
  const child = spawn(sim, ['live', '--port', '0', '--quiet'], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    const lines = readline.createInterface({ input: child.stdout });
    lines.on('line', (line) => {
      const m = line.match(/Open (http:\/\/\S+)/);
      if (m) resolve({ child, url: m[1] });
    });
    child.on('exit', (code) => reject(new Error(`vtal-sim live ended with ${code}`)));
  });
}

(async () => {
  const { child, url } = await startSession();
  const { open, close } = await launch();
  try {
    const page = await open(url, { width: 1280, height: 800 });
    await page.waitForFunction(() => document.body.dataset.live === 'connected' ||
      Number(document.getElementById('i-time')?.textContent) > 0.5, { timeout: 30000 });
    await page.keyboard.press('KeyM');
    // Until the legend's override row is painted red.
    await page.waitForFunction(() => [...document.querySelectorAll('.hud-run')]
      .some((e) => /Override/.test(e.textContent) && /255, 0, 0|#ff0000/i.test(e.style.color)), { timeout: 30000 });
    await page.waitForFunction(() => Number(document.getElementById('i-time').textContent) > 6, { timeout: 30000 });
    await page.screenshot({ path: out });
    await page.evaluate(() => document.getElementById('end')?.click());
  } finally {
    await close();
    child.kill('SIGINT');
  }
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});

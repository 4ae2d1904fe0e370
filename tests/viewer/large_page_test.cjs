// A replay page kept within its bound: 120 landers side by side
// (tools/many_landers.py), of which the page holds the focus and the 99
// nearest to it. vtal-sim says so before it flies, and the page says what
// it shows, offers the vessels it holds, and works, with no console error.
// Without WebGL, so that the check does not wait on drawing 100 landers in
// software.
//
// Environment: VTAL_SIM_EXE, VTAL_TEST_OUT (a folder for the run),
// CHROMIUM (default /usr/bin/chromium); puppeteer-core on NODE_PATH.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');
const { launch, NO_WEBGL } = require('./browser.cjs');

const SIM = process.env.VTAL_SIM_EXE;
const OUT = process.env.VTAL_TEST_OUT || fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-viewer-'));
const TOOL = path.join(__dirname, '..', '..', 'tools', 'many_landers.py');
const COUNT = 120;

test('a page of 120 landers holds 100, and vtal-sim and the page say so', async () => {
  fs.mkdirSync(OUT, { recursive: true });
  const scenario = path.join(OUT, 'many.scn');
  const page = path.join(OUT, 'many.html');
  fs.writeFileSync(scenario, execFileSync('python3', [TOOL, '--count', String(COUNT)]));
  const run = spawnSync(SIM, [scenario, '--until', '2', '--view', page], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  assert.match(run.stderr, /--view: a page of all 120 vessels would be about [0-9.]+ MB, more than a browser opens well; the page holds the focus vessel \(Lander1\) and the 99 vessels nearest to it, about [0-9.]+ MB\./);
  // The text report: the focus in full, the others counted.
  assert.match(run.stdout, /\n {2}Lander1 \(vtal\): altitude/);
  assert.match(run.stdout, /\n {2}119 other vessels \(each in the JSON report, --report\):\n/);
  assert.ok(run.stdout.split('\n').length < 15, run.stdout);

  const chromium = await launch(NO_WEBGL);
  try {
    const p = await chromium.open(`file://${page}`);
    await p.waitForFunction(() => window.vtalViewer && window.vtalViewer.ready, { timeout: 60000 });
    await p.evaluate(() => window.vtalViewer.setTime(1.5));
    const shown = await p.evaluate(() => ({
      note: document.getElementById('thinned').hidden ? null : document.getElementById('thinned').textContent,
      choices: [...document.querySelectorAll('#vessel option')].map((o) => o.textContent),
      vessel: document.getElementById('i-vessel').textContent,
      time: document.getElementById('i-time').textContent,
    }));
    assert.equal(shown.note, 'Shown: 100 of 120 vessels: the focus and those nearest to it (the report has every vessel).');
    assert.equal(shown.choices.length, 100);
    assert.equal(shown.vessel, 'Lander1');
    assert.equal(shown.time, '1.50');
    assert.deepEqual(chromium.errors, []);
    await p.close();
  } finally {
    await chromium.close();
  }
});

// The head-up display's SVG picture (vtal-sim --hud) in Chromium: every
// readout keeps its columns of spaces as painted, so that the picture reads
// as the host's display does and as the replay page shows it.
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

test('the --hud picture keeps every run of spaces of the painted readouts', async () => {
  fs.mkdirSync(OUT, { recursive: true });
  const svg = path.join(OUT, 'spacing-hud.svg');
  // The altitude, sink and heading readout is laid out in columns.
  execFileSync(SIM, ['--quiet', '--until', '20', '--hud', svg]);
  const chromium = await launch();
  try {
    const page = await chromium.open(`file://${svg}`);
    const texts = await page.evaluate(() => [...document.querySelectorAll('text')].map((t) => ({
      text: t.textContent,
      // What the renderer lays out: collapsed spaces are not characters of it.
      laidOut: t.getNumberOfChars(),
      width: t.getComputedTextLength(),
      advance: t.getNumberOfChars() > 0 ? t.getSubStringLength(0, 1) : 0,
    })));
    const spaced = texts.filter((t) => /\S {2,}\S/.test(t.text));
    assert.ok(spaced.length >= 1, `readouts with columns of spaces: ${texts.map((t) => t.text).join(' | ')}`);
    for (const t of texts) {
      assert.equal(t.laidOut, t.text.length, `"${t.text}" is laid out with all its characters`);
      // Monospaced: as wide as its characters, spaces included.
      assert.ok(Math.abs(t.width - t.advance * t.text.length) <= 1, `"${t.text}": ${t.width} px`);
    }
    assert.deepEqual(chromium.errors, []);
    await page.close();
  } finally {
    await chromium.close();
  }
});

// Debian's Chromium for the page tests, headless through puppeteer-core,
// with a profile of its own; `extra` adds flags (for example to take WebGL
// away). Console errors and uncaught exceptions of every page are kept.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'];
// Without WebGL: no 3-D context of any kind.
const NO_WEBGL = ['--disable-webgl', '--disable-3d-apis'];

async function launch(extra = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: [...FLAGS, ...extra, `--user-data-dir=${profile}`],
  });
  const errors = [];
  const open = async (url, view = { width: 1280, height: 800 }) => {
    const page = await browser.newPage();
    page.on('console', (msg) => { if (msg.type() === 'error') errors.push(msg.text()); });
    page.on('pageerror', (err) => errors.push(err.message));
    await page.setViewport(view);
    await page.goto(url, { waitUntil: 'load' });
    return page;
  };
  const close = async () => {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { browser, open, close, errors };
}

// The built page beside the installation that vtal-sim uses.
function viewerTemplate(sim) {
  return path.join(path.dirname(sim), '..', 'share', 'vtal', 'Viewer', 'vtal-viewer.html');
}

module.exports = { launch, viewerTemplate, NO_WEBGL };

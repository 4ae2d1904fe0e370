// Bundles the viewer into one HTML file: its script with three.js inlined
// into index.html, which keeps the slot that vtal-sim fills with a run.
//   node build.mjs --modules DIR/node_modules --out FILE.html
import { createRequire } from 'node:module';
import { readFileSync, writeFileSync, mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name) => {
  const i = args.indexOf(name);
  if (i < 0 || i + 1 >= args.length) {
    console.error(`build.mjs: missing ${name}`);
    process.exit(2);
  }
  return path.resolve(args[i + 1]);
};
const modules = option('--modules');
const out = option('--out');

const require = createRequire(path.join(modules, 'package.json'));
const esbuild = require('esbuild');
const result = await esbuild.build({
  entryPoints: [path.join(here, 'src', 'main.js')],
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  nodePaths: [modules],
  write: false,
  legalComments: 'none',
  logLevel: 'warning',
});
// Inside a script element "</script" would end it early.
const script = result.outputFiles[0].text.replace(/<\/(script)/gi, '<\\/$1');
const page = readFileSync(path.join(here, 'src', 'index.html'), 'utf8');
const marker = '/*VTAL_VIEWER_SCRIPT*/';
if (page.split(marker).length !== 2) {
  console.error('build.mjs: index.html needs exactly one script marker');
  process.exit(1);
}
mkdirSync(path.dirname(out), { recursive: true });
writeFileSync(out, page.replace(marker, () => script));
console.log(`viewer: ${out} (${(script.length / 1024).toFixed(0)} KiB of script)`);

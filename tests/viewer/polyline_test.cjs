// The replay page's thinning of a trajectory for drawing
// (viewer/src/polyline.js), in node: every recorded point stays within the
// tolerance of the drawn line, and the line keeps what it needs to.
//
// Environment: esbuild on NODE_PATH (the viewer's npm packages).
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const esbuild = require('esbuild');

function load(file) {
  const built = esbuild.buildSync({ entryPoints: [file], bundle: true, format: 'cjs', platform: 'node', write: false });
  const mod = { exports: {} };
  new Function('module', 'exports', built.outputFiles[0].text)(mod, mod.exports);
  return mod.exports;
}
const { thinnedPath } = load(path.join(__dirname, '..', '..', 'viewer', 'src', 'polyline.js'));

const TOL = 0.001;

// A descent as recorded: a curve down with some weave, a hover and a stop,
// then thousands of samples at rest (with sub-tolerance jitter).
function flight(n = 18000) {
  const x = new Float64Array(n);
  const y = new Float64Array(n);
  const z = new Float64Array(n);
  for (let k = 0; k < n; k++) {
    const t = k / 30;
    const f = Math.min(t / 70, 1);
    x[k] = 40 * (1 - f) * (1 - f) + 0.3 * Math.sin(t);
    y[k] = t < 70 ? 940 * (1 - f) ** 2 + 0.5 * Math.max(0, 5 - Math.abs(t - 60)) : 0.55 + 1e-4 * Math.sin(7 * t);
    z[k] = t < 70 ? 5 * Math.sin(t / 9) : 5 * Math.sin(70 / 9);
  }
  return { x, y, z };
}

function distanceToSegment(p, a, b) {
  const d = b.map((v, i) => v - a[i]);
  const q = p.map((v, i) => v - a[i]);
  const len2 = d.reduce((s, v) => s + v * v, 0);
  const f = len2 ? Math.min(Math.max(q.reduce((s, v, i) => s + v * d[i], 0) / len2, 0), 1) : 0;
  return Math.hypot(...q.map((v, i) => v - f * d[i]));
}

function assertWithinTolerance({ x, y, z }, kept, tol) {
  const at = (i) => [x[i], y[i], z[i]];
  assert.equal(kept[0], 0, 'the first point is kept');
  assert.equal(kept[kept.length - 1], x.length - 1, 'the last point is kept');
  for (let j = 1; j < kept.length; j++) {
    assert.ok(kept[j] > kept[j - 1], 'in order, each once');
    for (let i = kept[j - 1] + 1; i < kept[j]; i++) {
      const d = distanceToSegment(at(i), at(kept[j - 1]), at(kept[j]));
      assert.ok(d <= tol * (1 + 1e-9), `point ${i} is ${d} m from the drawn line`);
    }
  }
}

test('a recorded flight draws from a fraction of its samples, every one within the tolerance of the line', () => {
  const path3 = flight();
  const kept = thinnedPath(path3.x, path3.y, path3.z, TOL);
  assertWithinTolerance(path3, kept, TOL);
  assert.ok(kept.length < path3.x.length / 4, `${kept.length} of ${path3.x.length} points kept`);
  // At rest, the jitter under the tolerance leaves next to nothing.
  const atRest = kept.filter((i) => i / 30 > 71);
  assert.ok(atRest.length < 10, `${atRest.length} points kept at rest`);
  // A tighter tolerance keeps more and still holds.
  const tighter = thinnedPath(path3.x, path3.y, path3.z, TOL / 10);
  assertWithinTolerance(path3, tighter, TOL / 10);
  assert.ok(tighter.length > kept.length);
});

test('straight runs shrink to their ends, corners and short paths are kept', () => {
  const line = { x: [0, 1, 2, 3, 4], y: [0, 0, 0, 0, 0], z: [0, 2, 4, 6, 8] };
  assert.deepEqual(thinnedPath(line.x, line.y, line.z, TOL), [0, 4]);
  const corner = { x: [0, 1, 2, 2, 2], y: [0, 0, 0, 0, 0], z: [0, 0, 0, 1, 2] };
  assert.deepEqual(thinnedPath(corner.x, corner.y, corner.z, TOL), [0, 2, 4]);
  // Going back over itself: the turning point is kept although it lies on the line's span.
  const back = { x: [0, 5, 2], y: [0, 0, 0], z: [0, 0, 0] };
  assert.deepEqual(thinnedPath(back.x, back.y, back.z, TOL), [0, 1, 2]);
  assert.deepEqual(thinnedPath([1], [2], [3], TOL), [0]);
  assert.deepEqual(thinnedPath([1, 1], [2, 2], [3, 3], TOL), [0, 1]);
  assert.deepEqual(thinnedPath([], [], [], TOL), []);
  const still = { x: new Float64Array(500).fill(3), y: new Float64Array(500).fill(0.55), z: new Float64Array(500) };
  assert.deepEqual(thinnedPath(still.x, still.y, still.z, TOL), [0, 499]);
});

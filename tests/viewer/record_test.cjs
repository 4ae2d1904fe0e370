// The replay page's record reader (viewer/src/record.js) on its own, in node:
// the pose of each group looked up by time must be the one that replaying
// the record's pose entries from the start up to that time leaves, and a
// state filled into a reused object must equal a fresh one.
//
// Environment: esbuild on NODE_PATH (the viewer's npm packages), which turns
// the page's module into one node loads; VTAL_SIM_EXE (optional) for a
// recorded flight as well.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const esbuild = require('esbuild');

const RECORD_JS = path.join(__dirname, '..', '..', 'viewer', 'src', 'record.js');

function loadRecordModule() {
  const built = esbuild.buildSync({ entryPoints: [RECORD_JS], bundle: true, format: 'cjs', platform: 'node', write: false });
  const mod = { exports: {} };
  new Function('module', 'exports', built.outputFiles[0].text)(mod, mod.exports);
  return mod.exports;
}
const { Record } = loadRecordModule();

// Channels of whole steps: first value, then differences.
const channel = (values, step) => {
  const q = values.map((v) => Math.round(v / step));
  return { step, d: q.map((x, i) => (i ? x - q[i - 1] : x)) };
};

// A small record: four samples, one vessel, pose entries that give groups
// their poses at different times (two sets for one group in one entry, a
// group that first appears later, two entries at one time).
function smallRecord() {
  const times = [0, 0.5, 1.0, 1.5];
  const ch = (values) => channel(values, 1e-5);
  const rot = (angle) => [0, 0, Math.round(Math.sin(angle / 2) * 1e6), Math.round(Math.cos(angle / 2) * 1e6)];
  const pose = (t, sets) => ({ t, sets });
  return {
    time: channel(times, 1e-6),
    poseStep: 1e-6,
    hud: { width: 1280, height: 1024, frames: [], runs: [] },
    annotations: [],
    navmodeNames: ['', 'KILLROT', 'HLEVEL'],
    focus: 0,
    vessels: [{
      touchdown: null,
      channels: {
        pos: [ch([0, 1, 2, 3]), ch([10, 9, 8, 7]), ch([0, 0, 0, 0])],
        quat: [ch([0, 0, 0, 0]), ch([0, 0, 0, 0]), ch([0, 0.6, 0.7, 0.7]), ch([1, 0.8, 0.714, 0.714])],
        anim: [ch([0, 0.25, 0.5, 1])],
        thrust: [ch([1, 0.5, 0, 0]), ch([0, 0, 0.25, 0.5])],
        navmodes: ch([2, 2, 4, 0]),
        contact: ch([0, 0, 1, 1]),
        propellant: ch([50, 49, 48, 48]),
        altitude: ch([10, 9, 8, 7]),
        verticalSpeed: ch([-2, -2, -2, 0]),
        horizontalSpeed: ch([0, 0.1, 0.2, 0]),
        pitch: ch([0, 1, 2, 3]),
        bank: ch([0, -1, -2, -3]),
        heading: ch([350, 359, 10, 20]),
      },
      poses: [
        pose(0, [{ g: [1, 2], q: rot(0), p: [0, 0, 0] }, { g: [2], q: rot(0.1), p: [1000, 0, 0] }]),
        pose(0.5, [{ g: [1], q: rot(0.2), p: [0, 0, 0] }]),
        pose(0.5, [{ g: [3], m: [1e6, 0, 0, 5, 0, 1e6, 0, 6, 0, 0, 1e6, 7] }]),
        pose(1.0, [{ g: [1, 3], q: rot(0.3), p: [0, 2000, 0] }, { g: [2], q: rot(0.4), p: [0, 0, 0] }]),
      ],
    }],
  };
}

// The poses that replaying the entries leaves at time t: the first entry is
// in force from the start, every later one from its time on.
function replayed(record, index, t) {
  const byGroup = new Map();
  record.data.vessels[index].poses.forEach((entry, i) => {
    if (i > 0 && entry.t > t) return;
    for (const set of entry.sets) for (const g of set.g) byGroup.set(g, record.decodePose(set).m);
  });
  return byGroup;
}

function assertPosesAsReplayed(record, index, t) {
  const want = replayed(record, index, t);
  const groups = new Set([...want.keys(), ...record.vessels[index].poses.keys()]);
  for (const g of groups) {
    const got = record.poseAt(index, g, t);
    if (want.has(g)) assert.deepEqual(got && [...got], want.get(g), `group ${g} at ${t}`);
    else assert.equal(got, null, `group ${g} has no pose yet at ${t}`);
  }
  assert.deepEqual(record.posesAt(index, t), want, `all groups at ${t}`);
}

// Each entry's time, and times just before and after it, before the first and after the last.
function probeTimes(entries) {
  const ts = [-1, 1e9];
  for (const e of entries) ts.push(e.t, e.t - 1e-7, e.t + 1e-7, e.t + 0.01);
  return ts;
}

test('a group\'s pose at any time is the one replaying the pose entries up to then leaves', () => {
  const record = new Record(smallRecord());
  for (const t of probeTimes(record.data.vessels[0].poses)) assertPosesAsReplayed(record, 0, t);
  // The later of two sets for one group in one entry wins; a group first
  // posed later has none before; entries at one time both count.
  assert.equal(record.poseAt(0, 2, 0.2)[3], 1000 * 1e-6);
  assert.equal(record.poseAt(0, 3, 0.49), null);
  assert.deepEqual([...record.poseAt(0, 3, 0.5)], [1e6, 0, 0, 5, 0, 1e6, 0, 6, 0, 0, 1e6, 7].map((x) => x * 1e-6));
  assert.equal(record.poseAt(0, 1, 1.2)[7], 2000 * 1e-6);
  assert.equal(record.poseAt(0, 9, 1.2), null, 'a group the record never poses');
  // The same array while the pose holds, so that a page can tell it unchanged.
  assert.equal(record.poseAt(0, 1, 0.6), record.poseAt(0, 1, 0.9));
  assert.notEqual(record.poseAt(0, 1, 0.9), record.poseAt(0, 1, 1.0));
});

test('a state filled into a reused object equals a fresh one at every time, in either direction', () => {
  const record = new Record(smallRecord());
  const reused = record.newState(0);
  const times = [1.5, 0, 0.25, 1.2, 0.75, 1.49, 0.5, 2, -1];
  for (const t of times) {
    const fresh = record.stateAt(0, t);
    const filled = record.stateAt(0, t, reused);
    assert.equal(filled, reused);
    assert.deepEqual({ ...filled }, { ...fresh }, `state at ${t}`);
    const q = filled.quaternion;
    assert.ok(Math.abs(Math.hypot(q[0], q[1], q[2], q[3]) - 1) < 1e-12, `unit attitude at ${t}`);
  }
  const s = record.stateAt(0, 0.75, reused);
  assert.ok(Math.abs(s.position[0] - 1.5) < 1e-9 && Math.abs(s.altitude - 8.5) < 1e-9, 'interpolated halfway');
  assert.ok(Math.abs(s.thrust[0] - 0.25) < 1e-9 && Math.abs(s.thrust[1] - 0.125) < 1e-9);
  assert.equal(s.navmodes, 2, 'modes held from the sample before');
  assert.ok(Math.abs(record.stateAt(0, 0.75).heading - 4.5) < 1e-9, 'heading the short way through north');
});

test('the poses of a recorded flight with the panels and deck coming out are the replayed ones', (t) => {
  const sim = process.env.VTAL_SIM_EXE;
  if (!sim) {
    t.skip('VTAL_SIM_EXE not set');
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vtal-record-'));
  try {
    const page = path.join(dir, 'flight.html');
    execFileSync(sim, ['--quiet', '--until', '90', '--keys', '75:K,75:G', '--view', page]);
    const html = fs.readFileSync(page, 'utf8');
    const m = html.match(/<script id="vtal-record" type="application\/json">([\s\S]*?)<\/script>/);
    assert.ok(m, 'the page holds the record');
    const record = new Record(JSON.parse(m[1]));
    const entries = record.data.vessels[0].poses;
    assert.ok(entries.length > 100, `${entries.length} pose entries`);
    const every = Math.ceil(entries.length / 150);
    for (const at of probeTimes(entries.filter((_, i) => i % every === 0 || i === entries.length - 1)))
      assertPosesAsReplayed(record, 0, at);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

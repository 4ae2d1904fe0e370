// The live page's own logic in node, without a browser: the states it
// interpolates between (viewer/src/live.js) and the keys it sends
// (viewer/src/keys.js).
//
// Environment: esbuild on NODE_PATH (the viewer's npm packages).
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const esbuild = require('esbuild');

function load(file) {
  const built = esbuild.buildSync({
    entryPoints: [path.join(__dirname, '..', '..', 'viewer', 'src', file)],
    bundle: true, format: 'cjs', platform: 'node', write: false,
  });
  const mod = { exports: {} };
  new Function('module', 'exports', built.outputFiles[0].text)(mod, mod.exports);
  return mod.exports;
}
const { LiveSource, statusText, nlerp } = load('live.js');
const { KeyTracker } = load('keys.js');

// ---- the live source

const hello = () => ({
  type: 'hello',
  poseStep: 1e-5,
  focus: 0,
  navmodeNames: ['', 'KILLROT', 'HLEVEL'],
  hud: { width: 1280, height: 1024, runs: [{ x: 10, y: 20, colour: '#00ff00', text: 'Controls:' }] },
  annotations: [],
  vessels: [{ name: 'Lander', thrusters: [{}, {}], engines: [0], yawLeft: [], yawRight: [1], streams: [] }],
});

const turn = (deg) => [0, Math.sin((deg * Math.PI) / 360), 0, Math.cos((deg * Math.PI) / 360)];
const pose = (g, dx) => ({ g, q: [0, 0, 0, 100000], p: [dx, 0, 0] });

function state(time, v = {}) {
  return {
    type: 'state', time, focus: 0, warp: 1, reachedWarp: 1, paused: false,
    vessels: [{
      pos: [0, 10, 0], quat: turn(0), anim: [0], thrust: [0, 0], navmodes: 0, contact: false, propellant: 100,
      altitude: 10, verticalSpeed: -1, horizontalSpeed: 0, pitch: 0, bank: 0, heading: 0,
      poses: [pose([1, 2], 0)], streams: [], ...v,
    }],
  };
}

const near = (a, b, what, tolerance = 1e-9) => assert.ok(Math.abs(a - b) <= tolerance, `${what}: ${a} vs ${b}`);

test('between two states: positions, levels and instruments halfway, attitude the short way, modes and poses the newer', () => {
  const live = new LiveSource(hello());
  live.push(state(10, { thrust: [1, 0], heading: 350, navmodes: 2, anim: [0.2], poses: [pose([1, 2], 0)] }), 0);
  // The newer attitude given with the other sign: still the 40° between them, not the long way.
  const q60 = turn(60).map((x) => -x);
  live.push(state(11, { pos: [2, 8, -4], quat: q60, thrust: [0.5, 0.25], heading: 10, navmodes: 4, contact: true,
    anim: [0.3], altitude: 8, propellant: 99, poses: [pose([1], 5000), pose([2], 0)] }), 100);
  const s = live.stateAt(0, 10.5);
  assert.deepEqual([...s.position], [1, 9, -2]);
  near(s.thrust[0], 0.75, 'level');
  near(s.thrust[1], 0.125, 'level');
  near(s.altitude, 9, 'altitude');
  near(s.propellant, 99.5, 'propellant');
  near(s.heading, 0, 'heading through north');
  const q = s.quaternion;
  near(Math.hypot(...q), 1, 'unit attitude');
  near(Math.abs(q[1]), Math.sin((30 * Math.PI) / 360), 'turned 30° about y', 1e-12);
  assert.equal(s.navmodes, 4);
  assert.equal(s.contact, true);
  assert.deepEqual([...s.animations], [0.3]);
  assert.equal(live.poseAt(0, 1, 10.5)[3], 0.05, 'the newer pose');
  assert.equal(live.poseAt(0, 9, 10.5), null, 'a group without a pose');
  // At the newer state's time and after: the newer state itself.
  assert.deepEqual([...live.stateAt(0, 11).position], [2, 8, -4]);
  assert.deepEqual([...live.stateAt(0, 12).position], [2, 8, -4]);
  assert.equal(live.navmodeText(s.navmodes), 'HLEVEL');
});

test('a state filled into a reused object equals a fresh one', () => {
  const live = new LiveSource(hello());
  live.push(state(0), 0);
  live.push(state(1, { pos: [1, 2, 3], quat: turn(90), thrust: [0.5, 1], heading: 90 }), 50);
  const reused = live.newState(0);
  for (const t of [0.7, 0, 1, 0.25, 2, -1]) {
    const filled = live.stateAt(0, t, reused);
    assert.equal(filled, reused);
    assert.deepEqual({ ...filled }, { ...live.stateAt(0, t) }, `at ${t}`);
  }
});

test('the display lags the newest state by one interval and follows arrivals at any warp', () => {
  const live = new LiveSource(hello());
  const every = 40; // ms between states
  const step = 0.4; // s of flight per state: 10x
  for (let k = 0; k <= 10; k++) live.push(state(k * step), 1000 + k * every);
  const newest = 1000 + 10 * every;
  near(live.displayTime(newest), 9 * step, 'the state one interval before the newest', 1e-9);
  near(live.displayTime(newest + every / 2), 9.5 * step, 'halfway to the newest', 1e-9);
  near(live.displayTime(newest + 5 * every), 10 * step, 'held at the newest when none come', 1e-9);
});

test('the display time never goes back when states arrive unevenly', () => {
  const live = new LiveSource(hello());
  let now = 0;
  let shown = -Infinity;
  // Arrivals 15 to 70 ms apart, each 1/30 s of flight on.
  const gaps = [33, 15, 70, 33, 20, 60, 33, 33, 15, 15, 90, 33, 40, 25];
  for (let k = 0; k < 60; k++) {
    live.push(state(k / 30), now);
    const next = now + gaps[k % gaps.length];
    for (let t = now; t < next; t += 4) {
      const d = live.displayTime(t);
      assert.ok(d >= shown - 1e-12, `back from ${shown} to ${d} at ${t} ms`);
      shown = d;
    }
    now = next;
  }
  assert.ok(shown > 1.5, `the display went on to ${shown} s`);
});

test('a pose that holds keeps its array, one that changes gets another', () => {
  const live = new LiveSource(hello());
  live.push(state(0, { poses: [pose([1, 2], 100)] }), 0);
  const first = live.poseAt(0, 1, 0);
  live.push(state(0.1, { poses: [pose([1], 100), pose([2], 200)] }), 33);
  assert.equal(live.poseAt(0, 1, 0.1), first, 'unchanged: the same array');
  assert.notEqual(live.poseAt(0, 2, 0.1), live.poseAt(0, 2, 0));
  assert.equal(live.poseAt(0, 2, 0.1)[3], 0.002);
});

test('streams made after the hello come with the states; the legend and notes as last sent', () => {
  const live = new LiveSource(hello());
  assert.deepEqual(live.streams(0), []);
  const dust = [{ thruster: 0, pos: [0, -5, 1], createdAt: 12.5 }];
  live.push(state(13, { streams: dust }), 0);
  assert.deepEqual(live.streams(0), dust);
  assert.equal(live.hud.runs[0].text, 'Controls:');
  const version = live.hud.version;
  live.setHud({ type: 'hud', width: 1280, height: 1024, runs: [] });
  assert.equal(live.hud.version, version + 1);
  live.setAnnotations({ type: 'annotations', annotations: [{ text: 'Crash!', box: [0, 0, 1, 1], colour: '#ff0000' }] });
  assert.equal(live.annotations[0].text, 'Crash!');
});

test('the overlay says the warp, what it reaches when well short of it, and pauses', () => {
  const at = (warp, reachedWarp, paused = false) => statusText({ warp, reachedWarp, paused });
  assert.equal(at(1, 1), '1×');
  assert.equal(at(10, 9.6), '10×');
  assert.equal(at(10, 6.28), '10× (reached 6.3×)');
  assert.equal(at(100, 41.6), '100× (reached 42×)');
  assert.equal(at(0.1, 0.1), '0.1×');
  assert.equal(at(10, 2, true), 'Paused');
});

test('quaternions are blended the short way and stay unit', () => {
  const out = [0, 0, 0, 0];
  nlerp([0, 0, 0, 1], [0, 0, 0, -1], 0.5, out);
  assert.deepEqual(out, [0, 0, 0, 1], 'q and -q are the same attitude');
  nlerp(turn(0), turn(90), 0.5, out);
  near(Math.hypot(...out), 1, 'unit');
  near(out[1], Math.sin(Math.PI / 8), 'halfway: 45°', 1e-12);
});

// ---- the keys

function tracker() {
  const sent = [];
  return { keys: new KeyTracker((m) => sent.push(m)), sent };
}
const key = (code, more = {}) => ({ code, repeat: false, shiftKey: false, ctrlKey: false, altKey: false, metaKey: false, ...more });

test('a key goes down once and up with the modifiers it went down with; auto-repeat is not sent', () => {
  const { keys, sent } = tracker();
  assert.equal(keys.keydown(key('KeyB', { shiftKey: true })), true);
  assert.equal(keys.keydown(key('KeyB', { shiftKey: true, repeat: true })), true, 'taken, so the browser does nothing with it');
  assert.equal(keys.keydown(key('KeyB', { shiftKey: true, repeat: true })), true);
  assert.equal(keys.keyup(key('KeyB')), true, 'Shift let go first');
  assert.deepEqual(sent, [
    { type: 'key', code: 'KeyB', down: true, shift: true, ctrl: false },
    { type: 'key', code: 'KeyB', down: false, shift: true, ctrl: false },
  ]);
  assert.equal(keys.keyup(key('KeyB')), false, 'not down any more');
  assert.equal(sent.length, 2);
});

test('modifier keys are not sent; they travel with the keys', () => {
  const { keys, sent } = tracker();
  for (const code of ['ShiftLeft', 'ShiftRight', 'ControlLeft', 'ControlRight', 'AltLeft', 'AltRight', 'MetaLeft', 'MetaRight']) {
    assert.equal(keys.keydown(key(code, { shiftKey: code.startsWith('Shift'), ctrlKey: code.startsWith('Control') })), false, code);
    assert.equal(keys.keyup(key(code)), false, code);
  }
  keys.keydown(key('Numpad8', { ctrlKey: true }));
  assert.deepEqual(sent, [{ type: 'key', code: 'Numpad8', down: true, shift: false, ctrl: true }]);
});

test('losing the keyboard lets go of every key sent down, each with its own modifiers, once', () => {
  const { keys, sent } = tracker();
  keys.keydown(key('NumpadAdd'));
  keys.keydown(key('KeyV', { shiftKey: true }));
  keys.keydown(key('Numpad2', { ctrlKey: true }));
  keys.keyup(key('NumpadAdd'));
  sent.length = 0;
  keys.releaseAll();
  assert.deepEqual(sent, [
    { type: 'key', code: 'KeyV', down: false, shift: true, ctrl: false },
    { type: 'key', code: 'Numpad2', down: false, shift: false, ctrl: true },
  ]);
  assert.deepEqual(keys.held(), []);
  keys.releaseAll();
  assert.equal(sent.length, 2, 'nothing more to let go');
});

test('Ctrl+P pauses and Ctrl+S saves, once per press, without sending the key; the browser keeps reload and close', () => {
  const { keys, sent } = tracker();
  assert.equal(keys.keydown(key('KeyP', { ctrlKey: true })), true);
  assert.equal(keys.keydown(key('KeyP', { ctrlKey: true, repeat: true })), true);
  assert.equal(keys.keydown(key('KeyS', { ctrlKey: true })), true);
  assert.equal(keys.keyup(key('KeyP', { ctrlKey: true })), false);
  assert.deepEqual(sent, [{ type: 'command', name: 'pause' }, { type: 'command', name: 'save' }]);
  sent.length = 0;
  for (const e of [key('KeyR', { ctrlKey: true }), key('KeyW', { ctrlKey: true }), key('F5'), key('KeyF', { altKey: true })])
    assert.equal(keys.keydown(e), false, `${e.code} left to the browser`);
  assert.equal(keys.keydown(key('KeyP')), true, 'P alone is a key of the lander');
  assert.equal(keys.keydown(key('Space')), true, 'taken: the page does not scroll');
  assert.deepEqual(sent.map((m) => m.code), ['KeyP', 'Space']);
});

test('the keypad presses a key once however often it is touched; after the end nothing is sent', () => {
  const { keys, sent } = tracker();
  keys.press('NumpadAdd', false, false);
  keys.press('NumpadAdd', false, false);
  keys.release('NumpadAdd');
  keys.release('NumpadAdd');
  assert.deepEqual(sent.map((m) => m.down), [true, false]);
  keys.press('Numpad8', true, true);
  keys.stop();
  keys.releaseAll();
  keys.press('Numpad2', false, false);
  assert.equal(keys.keydown(key('KeyM')), false);
  assert.deepEqual(sent.map((m) => `${m.code}:${m.down}`), ['NumpadAdd:true', 'NumpadAdd:false', 'Numpad8:true']);
});

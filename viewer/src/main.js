// The replay page of a vtal-sim run: the vessels over the ground of the
// body, moving as flown, their animated parts where the flight host's
// animation evaluator put them, engine plumes, the lidar beam and landing
// dust, the instruments and head-up display, with play controls and cameras.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { Record } from './record.js';
import { thinnedPath } from './polyline.js';

const SPEEDS = [1, 10, 100];
const DUST_ALTITUDE = 5; // m: the dust shows below this height
const DUST_PARTICLES = 48; // per stream
const DUST_LIFETIME = 1.0; // s
const DUST_SPEED = 6.0; // m/s outwards along the ground
const CHASE_DISTANCE = 2.5; // model radii from the vessel
const OBSERVER = new THREE.Vector3(18, 1.8, 14); // m from the landing point
const GROUND_SIZE = 20000; // m
const PLUME_MIN_LEVEL = 1e-3;
const TRAJECTORY_TOLERANCE = 0.001; // m: the drawn line is within this of every sample
const MAX_PIXEL_RATIO = 2; // sharper than this no eye tells apart, at a cost of the square in pixels

// Marks of the opening (record decoded, scene built, first frame submitted),
// read by the page's benchmark.
performance.mark('vtal:script');
const record = new Record(JSON.parse(document.getElementById('vtal-record').textContent));
const data = record.data;
performance.mark('vtal:record');

// ---- scene
const canvas = document.getElementById('view');
const renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, MAX_PIXEL_RATIO));
const scene = new THREE.Scene();
scene.background = new THREE.Color(0x05060a);
const camera = new THREE.PerspectiveCamera(50, 1, 0.1, 50000);
const sky = new THREE.HemisphereLight(0xd8dce8, 0x3a3832, 1.1);
scene.add(sky);
const sun = new THREE.DirectionalLight(0xffffff, 2.2);
sun.position.set(-300, 400, 200);
scene.add(sun);

// The ground is flat and matte, lit by the sky and the sun: one shade all
// over, which is worked out here once (the diffuse light of both on a surface
// facing up, as three.js's shaders sum it) instead of for every pixel.
function litGroundColour(albedo) {
  const up = new THREE.Vector3(0, 1, 0);
  const toSun = sun.position.clone().sub(sun.target.position).normalize();
  const skyWeight = 0.5 * up.dot(sky.position.clone().normalize()) + 0.5;
  const irradiance = sky.groundColor.clone().lerp(sky.color, skyWeight).multiplyScalar(sky.intensity)
    .add(sun.color.clone().multiplyScalar(sun.intensity * Math.max(0, up.dot(toSun))));
  return new THREE.Color(albedo).multiply(irradiance).multiplyScalar(1 / Math.PI);
}

function buildGround() {
  const ground = new THREE.Mesh(
    new THREE.PlaneGeometry(GROUND_SIZE, GROUND_SIZE),
    // Pushed back in depth so that the grid lines on it never fight it.
    new THREE.MeshBasicMaterial({
      color: litGroundColour(0x77746c),
      polygonOffset: true,
      polygonOffsetFactor: 1,
      polygonOffsetUnits: 1,
    }),
  );
  ground.rotation.x = -Math.PI / 2;
  scene.add(ground);
  const fine = new THREE.GridHelper(200, 100, 0x45433e, 0x55534d);
  fine.position.y = 0.01;
  scene.add(fine);
  const coarse = new THREE.GridHelper(4000, 40, 0x3a3934, 0x3a3934);
  coarse.position.y = 0.02;
  scene.add(coarse);
  // The landing point: a ring and a cross.
  // Seen from above only, so that it shares the ground's shader.
  const mark = new THREE.MeshBasicMaterial({ color: 0xff5030 });
  const ring = new THREE.Mesh(new THREE.RingGeometry(3.8, 4.0, 64), mark);
  ring.rotation.x = -Math.PI / 2;
  ring.position.y = 0.03;
  scene.add(ring);
  for (const angle of [0, Math.PI / 2]) {
    const bar = new THREE.Mesh(new THREE.PlaneGeometry(0.08, 1.6), mark);
    bar.rotation.set(-Math.PI / 2, 0, angle);
    bar.position.y = 0.03;
    scene.add(bar);
  }
}
buildGround();

// ---- vessels
// One material for each colour of part, shared by all vessels.
const partMaterials = new Map();
function partMaterial(colour) {
  if (!partMaterials.has(colour)) {
    partMaterials.set(colour, new THREE.MeshStandardMaterial({
      color: new THREE.Color(colour),
      roughness: 0.55,
      metalness: 0.15,
      side: THREE.DoubleSide,
    }));
  }
  return partMaterials.get(colour);
}

function partMesh(part) {
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.Float32BufferAttribute(part.positions, 3));
  g.setAttribute('normal', new THREE.Float32BufferAttribute(part.normals, 3));
  g.setIndex(part.indices);
  const mesh = new THREE.Mesh(g, partMaterial(part.colour));
  mesh.matrixAutoUpdate = false;
  mesh.name = part.label;
  return mesh;
}

const UP = new THREE.Vector3(0, 1, 0);

function plumeMesh(exhaust, kind) {
  const beam = kind === 'beam';
  const geometry = beam ? new THREE.CylinderGeometry(1, 1, 1, 8, 1, true) : new THREE.ConeGeometry(1, 1, 16, 1, true);
  // From the nozzle (y = 0) along +y, narrowing to its tip at y = 1.
  geometry.translate(0, 0.5, 0);
  const colour = beam ? 0xff2020 : kind === 'yaw' ? 0x7fa8ff : 0xffa040;
  const material = new THREE.MeshBasicMaterial({
    color: colour,
    transparent: true,
    opacity: beam ? 0.85 : kind === 'yaw' ? 0.45 : 0.8,
    blending: THREE.AdditiveBlending,
    depthWrite: false,
    side: THREE.DoubleSide,
  });
  const mesh = new THREE.Mesh(geometry, material);
  const dir = new THREE.Vector3(...exhaust.dir).normalize();
  const holder = new THREE.Group();
  holder.position.set(...exhaust.pos);
  holder.quaternion.setFromUnitVectors(UP, dir);
  holder.add(mesh);
  holder.visible = false;
  return { holder, mesh, exhaust, beam };
}

function dustPoints(count) {
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.Float32BufferAttribute(new Float32Array(count * 3), 3));
  const m = new THREE.PointsMaterial({ color: 0xc9bfa6, size: 0.5, transparent: true, opacity: 0.6, depthWrite: false });
  const p = new THREE.Points(g, m);
  p.frustumCulled = false;
  p.visible = false;
  return p;
}

function trajectoryLine(v) {
  const kept = thinnedPath(v.pos[0], v.pos[1], v.pos[2], TRAJECTORY_TOLERANCE);
  const n = kept.length;
  const positions = new Float32Array(n * 3);
  kept.forEach((k, j) => {
    positions[3 * j] = v.pos[0][k];
    positions[3 * j + 1] = v.pos[1][k];
    positions[3 * j + 2] = v.pos[2][k];
  });
  // Coloured per vertex, as the grids are, so that it shares their shader.
  const colour = new THREE.Color(0x40e0ff);
  const colours = new Float32Array(n * 3);
  for (let k = 0; k < n; k++) colour.toArray(colours, 3 * k);
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.Float32BufferAttribute(positions, 3));
  g.setAttribute('color', new THREE.Float32BufferAttribute(colours, 3));
  const line = new THREE.Line(g, new THREE.LineBasicMaterial({ vertexColors: true }));
  line.frustumCulled = false;
  return line;
}

const visuals = record.vessels.map((v, index) => {
  const info = v.info;
  const root = new THREE.Group();
  root.name = info.name;
  scene.add(root);
  const parts = new Map();
  let radius = info.size;
  if (info.model) {
    for (const part of info.model.parts) {
      const mesh = partMesh(part);
      root.add(mesh);
      if (part.animated && part.mesh === 0) parts.set(part.group, mesh);
    }
    radius = info.model.radius;
  } else {
    const box = new THREE.Mesh(
      new THREE.BoxGeometry(info.size, info.size, info.size),
      new THREE.MeshStandardMaterial({ color: 0xa0a0a8 }),
    );
    root.add(box);
  }
  const plumes = info.exhausts
    .filter((e) => e.thruster >= 0)
    .map((e) => {
      const p = plumeMesh(e, info.thrusters[e.thruster].kind);
      root.add(p.holder);
      return p;
    });
  const dust = dustPoints(Math.max(1, info.streams.length * DUST_PARTICLES));
  scene.add(dust);
  const trajectory = trajectoryLine(v);
  scene.add(trajectory);
  return { root, parts, plumes, dust, trajectory, radius, info, state: record.newState(index), poses: new Map(), dustOn: true };
});
performance.mark('vtal:scene');

// ---- state at a time
// Each frame reuses the objects below: nothing is allocated per frame but
// the strings of instruments that change.
const identity = new THREE.Matrix4();
const scratch = new THREE.Vector3();

function placeVessel(i, t) {
  const vis = visuals[i];
  const s = record.stateAt(i, t, vis.state);
  vis.root.position.fromArray(s.position);
  vis.root.quaternion.fromArray(s.quaternion);
  vis.root.updateMatrixWorld(true);
  // Parts move only when their recorded pose changes.
  for (const [group, mesh] of vis.parts) {
    const m = record.poseAt(i, group, t);
    if (vis.poses.get(group) === m && vis.poses.has(group)) continue;
    vis.poses.set(group, m);
    if (m) mesh.matrix.set(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], 0, 0, 0, 1);
    else mesh.matrix.copy(identity);
    mesh.matrixWorldNeedsUpdate = true;
  }
  for (const p of vis.plumes) {
    const level = s.thrust[p.exhaust.thruster] || 0;
    p.holder.visible = level > PLUME_MIN_LEVEL;
    const length = p.exhaust.length * (p.beam ? 1 : level);
    const width = p.exhaust.width * (p.beam ? 0.3 : 1);
    p.mesh.scale.set(width, Math.max(length, 1e-3), width);
  }
  placeDust(vis, s, t);
  vis.root.updateMatrixWorld(true);
  return s;
}

// Dust runs out along the ground below each engine whose stream exists,
// thicker with the engine's level, while the vessel is low. The particles
// are rewritten only while some dust shows, and once when it goes.
function placeDust(vis, s, t) {
  const streams = vis.info.streams;
  let shown = false;
  let strongest = 0;
  for (const stream of streams) {
    const level = s.thrust[stream.thruster] || 0;
    if (t + 1e-9 >= stream.createdAt && s.altitude < DUST_ALTITUDE && level > PLUME_MIN_LEVEL) {
      shown = true;
      strongest = Math.max(strongest, level);
    }
  }
  vis.dust.visible = shown;
  if (!shown && !vis.dustOn) return;
  vis.dustOn = shown;
  const attr = vis.dust.geometry.getAttribute('position');
  streams.forEach((stream, j) => {
    const level = s.thrust[stream.thruster] || 0;
    const on = t + 1e-9 >= stream.createdAt && s.altitude < DUST_ALTITUDE && level > PLUME_MIN_LEVEL;
    scratch.set(stream.pos[0], 0, stream.pos[2]);
    vis.root.localToWorld(scratch);
    for (let k = 0; k < DUST_PARTICLES; k++) {
      const idx = j * DUST_PARTICLES + k;
      if (!on) {
        attr.setXYZ(idx, 0, -1000, 0);
        continue;
      }
      const phase = (t / DUST_LIFETIME + k / DUST_PARTICLES) % 1;
      const angle = (k * 2.399963 + j) % (2 * Math.PI); // golden-angle spread
      const r = 0.3 + phase * DUST_SPEED * DUST_LIFETIME * Math.sqrt(level);
      attr.setXYZ(idx, scratch.x + r * Math.cos(angle), 0.1 + 0.6 * phase, scratch.z + r * Math.sin(angle));
    }
  });
  attr.needsUpdate = true;
  vis.dust.material.opacity = 0.25 + 0.5 * Math.sqrt(strongest);
}

// ---- instruments, head-up display, annotations
const elements = new Map();
const el = (id) => {
  if (!elements.has(id)) elements.set(id, document.getElementById(id));
  return elements.get(id);
};
const fixed = (x, digits) => (Math.abs(x) < 0.5 * 10 ** -digits ? 0 : x).toFixed(digits);

// Writes an element's text only when it changes, which spares the page a
// layout of the panel every frame.
const shownText = new WeakMap();
function setText(element, text) {
  if (shownText.get(element) === text) return;
  shownText.set(element, text);
  element.textContent = text;
}

function meanLevel(s, list) {
  let sum = 0;
  for (const e of list) sum += s.thrust[e];
  return list.length ? sum / list.length : 0;
}

function showInstruments(i, s, t) {
  const info = visuals[i].info;
  setText(el('i-vessel'), info.name);
  setText(el('i-time'), fixed(t, 2));
  setText(el('i-altitude'), fixed(s.altitude, 2));
  setText(el('i-vs'), fixed(s.verticalSpeed, 2));
  setText(el('i-hs'), fixed(s.horizontalSpeed, 2));
  setText(el('i-heading'), fixed(s.heading, 1));
  setText(el('i-pitch'), fixed(s.pitch, 1));
  setText(el('i-bank'), fixed(s.bank, 1));
  let engines = '';
  for (const e of info.engines) engines += (engines ? ' / ' : '') + fixed(100 * s.thrust[e], 1);
  setText(el('i-engines'), engines);
  setText(el('i-yaw'), `${fixed(100 * meanLevel(s, info.yawLeft), 1)} / ${fixed(100 * meanLevel(s, info.yawRight), 1)}`);
  setText(el('i-nav'), record.navmodeText(s.navmodes));
  setText(el('i-prop'), fixed(s.propellant, 2));
  setText(el('i-contact'), s.contact ? 'on the ground' : 'flying');
}

// The legend's runs stay in their spans from frame to frame: a span is
// changed only where its run differs from the one it shows.
let hudShown = null;
const hudSpans = [];
function showHud(t) {
  const frame = record.hudFrameAt(t);
  if (frame === hudShown) return;
  hudShown = frame;
  const runs = record.hudRuns(frame);
  const hud = el('hud');
  while (hudSpans.length < runs.length) {
    const span = document.createElement('span');
    span.className = 'hud-run';
    hudSpans.push(span);
  }
  runs.forEach((run, k) => {
    const span = hudSpans[k];
    if (span.run === run) return;
    if (!span.run || span.run.x !== run.x) {
      span.style.left = `${(100 * run.x) / data.hud.width}%`;
      span.dataset.x = String(run.x);
    }
    if (!span.run || span.run.y !== run.y) {
      span.style.top = `${(100 * run.y) / data.hud.height}%`;
      span.dataset.y = String(run.y);
    }
    if (!span.run || span.run.colour !== run.colour) {
      span.style.color = run.colour;
      span.dataset.colour = run.colour;
    }
    setText(span, run.text);
    span.run = run;
    if (span.parentNode !== hud) hud.appendChild(span);
  });
  for (let k = runs.length; k < hudSpans.length && hudSpans[k].parentNode; k++) {
    hudSpans[k].remove();
    hudSpans[k].run = null;
  }
}

let notesShown = '';
function showAnnotations(t) {
  const alive = record.annotationsAt(t);
  const key = alive.map((a) => `${a.from}:${a.text}`).join('|');
  if (key === notesShown) return;
  notesShown = key;
  const box = el('notes');
  box.replaceChildren();
  for (const a of alive) {
    const div = document.createElement('div');
    div.className = 'note';
    div.textContent = a.text;
    div.style.left = `${100 * a.box[0]}%`;
    div.style.top = `${100 * a.box[1]}%`;
    div.style.width = `${100 * (a.box[2] - a.box[0])}%`;
    div.style.color = a.colour;
    box.appendChild(div);
  }
}

// ---- cameras
const controls = new OrbitControls(camera, canvas);
controls.enabled = false;
let cameraMode = 'chase';
let selected = data.focus;
const lastTarget = new THREE.Vector3();
const forward = new THREE.Vector3();
const right = new THREE.Vector3();

function placeCamera(s) {
  const vis = visuals[selected];
  const target = vis.root.position;
  if (cameraMode === 'chase') {
    // Behind the vessel's heading, above and a little to its side.
    const h = (s.heading * Math.PI) / 180;
    forward.set(Math.sin(h), 0, -Math.cos(h));
    right.set(Math.cos(h), 0, Math.sin(h));
    const d = CHASE_DISTANCE * vis.radius;
    camera.position.copy(target).addScaledVector(forward, -0.75 * d).addScaledVector(right, 0.55 * d);
    camera.position.y = Math.max(target.y + 0.45 * d, 0.3);
    camera.lookAt(target);
  } else if (cameraMode === 'ground') {
    camera.position.copy(OBSERVER);
    camera.lookAt(target);
  } else {
    // The orbit camera follows the vessel and turns about it with the mouse.
    camera.position.add(scratch.copy(target).sub(lastTarget));
    controls.target.copy(target);
    controls.update();
  }
  lastTarget.copy(target);
}

function setCameraMode(mode) {
  if (mode === 'orbit' && cameraMode !== 'orbit') {
    controls.target.copy(visuals[selected].root.position);
    lastTarget.copy(controls.target);
  }
  cameraMode = mode;
  controls.enabled = mode === 'orbit';
  for (const b of document.querySelectorAll('[data-camera]')) b.classList.toggle('on', b.dataset.camera === mode);
  render();
}

// ---- time
let time = 0;
let playing = false;
let speed = 1;
// What the last frame cost in ms: the page's own work, and three.js issuing
// the draw (the rasteriser finishes it later, elsewhere).
const cost = { own: 0, draw: 0 };
let framesDrawn = 0;

function render() {
  const started = performance.now();
  let focusState = null;
  for (let i = 0; i < visuals.length; i++) {
    const s = placeVessel(i, time);
    if (i === selected) focusState = s;
  }
  showInstruments(selected, focusState, time);
  showHud(time);
  showAnnotations(time);
  placeCamera(focusState);
  const slider = el('slider');
  const at = String(time);
  if (slider.value !== at) slider.value = at;
  setText(el('clock'), `${fixed(time, 2)} / ${fixed(record.endTime, 2)} s`);
  const drawing = performance.now();
  renderer.render(scene, camera);
  cost.own = drawing - started;
  cost.draw = performance.now() - drawing;
  framesDrawn++;
}

function setTime(t) {
  time = Math.min(Math.max(t, 0), record.endTime);
  render();
}

function resize() {
  const w = window.innerWidth;
  const h = window.innerHeight;
  renderer.setSize(w, h, false);
  camera.aspect = w / h;
  camera.updateProjectionMatrix();
  render();
}

let lastFrame = null;
function tick(now) {
  if (playing && lastFrame !== null) {
    const t = time + ((now - lastFrame) / 1000) * speed;
    if (t >= record.endTime) {
      playing = false;
      el('play').textContent = 'Play';
    }
    setTime(t);
  } else if (cameraMode === 'orbit') {
    render();
  }
  lastFrame = now;
  requestAnimationFrame(tick);
}

// ---- controls
function setupControls() {
  const slider = el('slider');
  slider.max = String(record.endTime);
  slider.addEventListener('input', () => setTime(Number(slider.value)));
  el('play').addEventListener('click', () => {
    if (!playing && time >= record.endTime) time = 0;
    playing = !playing;
    el('play').textContent = playing ? 'Pause' : 'Play';
  });
  for (const s of SPEEDS) {
    const b = el(`speed-${s}`);
    b.addEventListener('click', () => {
      speed = s;
      for (const o of SPEEDS) el(`speed-${o}`).classList.toggle('on', o === s);
    });
  }
  const touchdown = el('touchdown');
  const td = record.touchdownTime();
  touchdown.disabled = td === null;
  touchdown.addEventListener('click', () => {
    if (record.touchdownTime() !== null) setTime(record.touchdownTime());
  });
  for (const b of document.querySelectorAll('[data-camera]')) b.addEventListener('click', () => setCameraMode(b.dataset.camera));
  el('trajectory').addEventListener('change', (e) => {
    for (const v of visuals) v.trajectory.visible = e.target.checked;
    render();
  });
  const pick = el('vessel');
  visuals.forEach((v, i) => {
    const o = document.createElement('option');
    o.value = String(i);
    o.textContent = v.info.name;
    pick.appendChild(o);
  });
  pick.value = String(selected);
  pick.hidden = visuals.length < 2;
  pick.addEventListener('change', () => {
    selected = Number(pick.value);
    render();
  });
  el('title').textContent = `${data.scenario} (${data.body.name})`;
}

setupControls();
window.addEventListener('resize', resize);
resize();
performance.mark('vtal:submitted');
requestAnimationFrame(tick);

// For scripted checks of the page: the time, the scene objects and where
// they show on the screen.
const corner = new THREE.Vector3();
function screenBox(object) {
  const box = new THREE.Box3().setFromObject(object);
  const r = canvas.getBoundingClientRect();
  let [x0, y0, x1, y1] = [Infinity, Infinity, -Infinity, -Infinity];
  for (let k = 0; k < 8; k++) {
    corner.set(k & 1 ? box.max.x : box.min.x, k & 2 ? box.max.y : box.min.y, k & 4 ? box.max.z : box.min.z);
    corner.project(camera);
    const x = ((corner.x + 1) / 2) * r.width;
    const y = ((1 - corner.y) / 2) * r.height;
    [x0, y0, x1, y1] = [Math.min(x0, x), Math.min(y0, y), Math.max(x1, x), Math.max(y1, y)];
  }
  return [x0, y0, x1, y1];
}

window.vtalViewer = {
  record,
  setTime,
  render,
  time: () => time,
  frameCost: () => ({ ...cost }),
  framesDrawn: () => framesDrawn,
  canvas,
  camera,
  vesselObject: (i) => visuals[i].root,
  partObject: (i, group) => visuals[i].parts.get(group),
  partScreenBoxes: (i) =>
    [...visuals[i].parts].map(([group, mesh]) => ({ group, label: mesh.name, box: screenBox(mesh) })),
  vesselScreenBox: (i) => screenBox(visuals[i].root),
  plumesShown: (i) => visuals[i].plumes.filter((p) => p.holder.visible).length,
  dustShown: (i) => visuals[i].dust.visible,
  setVesselsVisible(shown) {
    for (const v of visuals) {
      v.root.visible = shown;
      v.dust.visible = shown && v.dust.visible;
    }
    renderer.render(scene, camera);
  },
  ready: true,
};

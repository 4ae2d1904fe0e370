// The 3-D view of the pages: the ground of the body, every vessel with its
// animated parts, engine plumes, the lidar beam, landing dust and its
// trajectory, and the cameras. Made only where the browser gives WebGL:
// createScene returns null otherwise, and the pages go on without a view.
import * as THREE from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { thinnedPath } from './polyline.js';

// What the page says where the view would be: why it is missing, what still
// works, and what a person can try to get it.
const NO_VIEW_WORKS = 'The instruments, the head-up legend and the controls below work without it.';
const NO_VIEW_TRIES = [
  "Turn on hardware (graphics) acceleration in the browser's settings (Chrome and Edge: Settings, System; "
    + 'Firefox: Settings, General, Performance), then restart the browser.',
  'Check that WebGL is not turned off (Firefox: webgl.disabled in about:config; Chrome: chrome://gpu shows its state).',
  'Update the graphics driver, or open this page in another browser (a recent Chrome, Edge, Firefox or Safari).',
];
export const NO_WEBGL_NOTICE = {
  why: 'The 3-D view needs WebGL, which this browser does not provide.',
  works: NO_VIEW_WORKS,
  tries: NO_VIEW_TRIES,
};
const rendererFailedNotice = (error) => ({
  why: `The 3-D view could not start WebGL in this browser${error && error.message ? ` (${error.message})` : ''}.`,
  works: NO_VIEW_WORKS,
  tries: NO_VIEW_TRIES,
});

const DUST_ALTITUDE = 5; // m: the dust shows below this height
const DUST_PARTICLES = 48; // per stream
const DUST_LIFETIME = 1.0; // s
const DUST_SPEED = 6.0; // m/s outwards along the ground
const CHASE_DISTANCE = 2.5; // model radii from the vessel
const CAMERA_CLEARANCE = 0.3; // m: every camera stays at least this far above the ground
const BURIED_PULL_BACK = 4; // m of chase distance per m a vessel lies below the ground
const OBSERVER = new THREE.Vector3(18, 1.8, 14); // m from the landing point
const GROUND_SIZE = 20000; // m
const PLUME_MIN_LEVEL = 1e-3;
const TRAJECTORY_TOLERANCE = 0.001; // m: the drawn line is within this of every sample
const TRAJECTORY_GROWN_STEP = 0.05; // m: a live trajectory takes a point once the vessel is this far from the last
const TRAJECTORY_GROWN_POINTS = 65536; // a live trajectory keeps every other point once it has this many
const MAX_PIXEL_RATIO = 2; // sharper than this no eye tells apart, at a cost of the square in pixels
const UP = new THREE.Vector3(0, 1, 0);

// Whether the browser makes a WebGL 2 context (three.js needs one). Asked on
// a canvas of its own, which is let go at once: three.js's own failure
// would also print an error to the console.
export function webglAvailable() {
  try {
    const probe = document.createElement('canvas');
    const gl = probe.getContext('webgl2');
    if (!gl) return false;
    const lose = gl.getExtension('WEBGL_lose_context');
    if (lose) lose.loseContext();
    return true;
  } catch {
    return false;
  }
}

// The view on `canvas` ({ view }), or without WebGL the notice to show
// where it would be ({ view: null, notice }).
export function createScene(canvas) {
  if (!webglAvailable()) return { view: null, notice: NO_WEBGL_NOTICE };
  let renderer;
  try {
    renderer = new THREE.WebGLRenderer({ canvas, antialias: true, preserveDrawingBuffer: true });
  } catch (error) {
    return { view: null, notice: rendererFailedNotice(error) };
  }
  return { view: new Scene(renderer, canvas), notice: null };
}

function partMesh(part, material) {
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.Float32BufferAttribute(part.positions, 3));
  g.setAttribute('normal', new THREE.Float32BufferAttribute(part.normals, 3));
  g.setIndex(part.indices);
  const mesh = new THREE.Mesh(g, material);
  mesh.matrixAutoUpdate = false;
  mesh.name = part.label;
  return mesh;
}

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

// Whether a stream raises dust in state s at time t.
function dustRises(stream, s, t) {
  return t + 1e-9 >= stream.createdAt && s.altitude < DUST_ALTITUDE && (s.thrust[stream.thruster] || 0) > PLUME_MIN_LEVEL;
}

// A line coloured per vertex, as the grids are, so that it shares their shader.
function lineOf(positions, count) {
  const colour = new THREE.Color(0x40e0ff);
  const colours = new Float32Array(positions.length);
  for (let k = 0; k < positions.length / 3; k++) colour.toArray(colours, 3 * k);
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.Float32BufferAttribute(positions, 3));
  g.setAttribute('color', new THREE.Float32BufferAttribute(colours, 3));
  g.setDrawRange(0, count);
  const line = new THREE.Line(g, new THREE.LineBasicMaterial({ vertexColors: true }));
  line.frustumCulled = false;
  return line;
}

// The whole recorded path, thinned: pos is the three position channels.
function recordedLine(pos) {
  const kept = thinnedPath(pos[0], pos[1], pos[2], TRAJECTORY_TOLERANCE);
  const positions = new Float32Array(kept.length * 3);
  kept.forEach((k, j) => {
    positions[3 * j] = pos[0][k];
    positions[3 * j + 1] = pos[1][k];
    positions[3 * j + 2] = pos[2][k];
  });
  return lineOf(positions, kept.length);
}

class Scene {
  constructor(renderer, canvas) {
    this.renderer = renderer;
    this.canvas = canvas;
    renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, MAX_PIXEL_RATIO));
    this.scene = new THREE.Scene();
    this.scene.background = new THREE.Color(0x05060a);
    this.camera = new THREE.PerspectiveCamera(50, 1, 0.1, 50000);
    this.sky = new THREE.HemisphereLight(0xd8dce8, 0x3a3832, 1.1);
    this.scene.add(this.sky);
    this.sun = new THREE.DirectionalLight(0xffffff, 2.2);
    this.sun.position.set(-300, 400, 200);
    this.scene.add(this.sun);
    this.partMaterials = new Map();
    this.visuals = [];
    this.controls = new OrbitControls(this.camera, canvas);
    this.controls.enabled = false;
    this.cameraMode = 'chase';
    this.trajectoriesShown = true;
    // Reused every frame: nothing is allocated per frame.
    this.identity = new THREE.Matrix4();
    this.scratch = new THREE.Vector3();
    this.lastTarget = new THREE.Vector3();
    this.aim = new THREE.Vector3();
    this.forward = new THREE.Vector3();
    this.right = new THREE.Vector3();
    this.corner = new THREE.Vector3();
    this.buildGround();
  }

  // The ground is flat and matte, lit by the sky and the sun: one shade all
  // over, which is worked out here once (the diffuse light of both on a
  // surface facing up, as three.js's shaders sum it) instead of for every pixel.
  litGroundColour(albedo) {
    const { sky, sun } = this;
    const toSun = sun.position.clone().sub(sun.target.position).normalize();
    const skyWeight = 0.5 * UP.dot(sky.position.clone().normalize()) + 0.5;
    const irradiance = sky.groundColor.clone().lerp(sky.color, skyWeight).multiplyScalar(sky.intensity)
      .add(sun.color.clone().multiplyScalar(sun.intensity * Math.max(0, UP.dot(toSun))));
    return new THREE.Color(albedo).multiply(irradiance).multiplyScalar(1 / Math.PI);
  }

  buildGround() {
    const ground = new THREE.Mesh(
      new THREE.PlaneGeometry(GROUND_SIZE, GROUND_SIZE),
      // Pushed back in depth so that the grid lines on it never fight it.
      new THREE.MeshBasicMaterial({
        color: this.litGroundColour(0x77746c),
        polygonOffset: true,
        polygonOffsetFactor: 1,
        polygonOffsetUnits: 1,
      }),
    );
    ground.rotation.x = -Math.PI / 2;
    this.scene.add(ground);
    const fine = new THREE.GridHelper(200, 100, 0x45433e, 0x55534d);
    fine.position.y = 0.01;
    this.scene.add(fine);
    const coarse = new THREE.GridHelper(4000, 40, 0x3a3934, 0x3a3934);
    coarse.position.y = 0.02;
    this.scene.add(coarse);
    // The landing point: a ring and a cross. Seen from above only, so that
    // it shares the ground's shader.
    const mark = new THREE.MeshBasicMaterial({ color: 0xff5030 });
    const ring = new THREE.Mesh(new THREE.RingGeometry(3.8, 4.0, 64), mark);
    ring.rotation.x = -Math.PI / 2;
    ring.position.y = 0.03;
    this.scene.add(ring);
    for (const angle of [0, Math.PI / 2]) {
      const bar = new THREE.Mesh(new THREE.PlaneGeometry(0.08, 1.6), mark);
      bar.rotation.set(-Math.PI / 2, 0, angle);
      bar.position.y = 0.03;
      this.scene.add(bar);
    }
  }

  // One material for each colour of part, shared by all vessels.
  partMaterial(colour) {
    if (!this.partMaterials.has(colour)) {
      this.partMaterials.set(colour, new THREE.MeshStandardMaterial({
        color: new THREE.Color(colour),
        roughness: 0.55,
        metalness: 0.15,
        side: THREE.DoubleSide,
      }));
    }
    return this.partMaterials.get(colour);
  }

  // A vessel as its fixed description gives it; `path` is the recorded
  // position channels (drawn whole) or null (a line that grows as it flies).
  addVessel(info, path) {
    const root = new THREE.Group();
    root.name = info.name;
    this.scene.add(root);
    const parts = new Map();
    let radius = info.size;
    if (info.model) {
      for (const part of info.model.parts) {
        const mesh = partMesh(part, this.partMaterial(part.colour));
        root.add(mesh);
        if (part.animated && part.mesh === 0) parts.set(part.group, mesh);
      }
      radius = info.model.radius;
    } else {
      root.add(new THREE.Mesh(
        new THREE.BoxGeometry(info.size, info.size, info.size),
        new THREE.MeshStandardMaterial({ color: 0xa0a0a8 }),
      ));
    }
    const plumes = info.exhausts
      .filter((e) => e.thruster >= 0)
      .map((e) => {
        const p = plumeMesh(e, info.thrusters[e.thruster].kind);
        root.add(p.holder);
        return p;
      });
    const trajectory = path ? recordedLine(path) : lineOf(new Float32Array(3 * TRAJECTORY_GROWN_POINTS), 0);
    trajectory.visible = this.trajectoriesShown;
    this.scene.add(trajectory);
    const vis = { root, parts, plumes, dust: null, streams: [], trajectory, grown: 0, radius, poses: new Map(), dustOn: true };
    this.setStreams(vis, info.streams);
    this.visuals.push(vis);
    return this.visuals.length - 1;
  }

  // The dust streams of a vessel, as many as its module has made.
  setStreams(vis, streams) {
    if (vis.dust && vis.streams.length === streams.length) {
      vis.streams = streams;
      return;
    }
    if (vis.dust) {
      this.scene.remove(vis.dust);
      vis.dust.geometry.dispose();
      vis.dust.material.dispose();
    }
    vis.streams = streams;
    vis.dust = dustPoints(Math.max(1, streams.length * DUST_PARTICLES));
    vis.dustOn = true;
    this.scene.add(vis.dust);
  }

  updateStreams(i, streams) {
    this.setStreams(this.visuals[i], streams);
  }

  // Places vessel i in state s at time t; source.poseAt(i, group, t) gives a
  // part's pose (the 12 numbers of its matrix's top rows, the same array
  // while it holds) or null. Parts move only when their pose changes.
  placeVessel(i, s, t, source) {
    const vis = this.visuals[i];
    vis.root.position.fromArray(s.position);
    vis.root.quaternion.fromArray(s.quaternion);
    vis.root.updateMatrixWorld(true);
    for (const [group, mesh] of vis.parts) {
      const m = source.poseAt(i, group, t);
      if (vis.poses.get(group) === m && vis.poses.has(group)) continue;
      vis.poses.set(group, m);
      if (m) mesh.matrix.set(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], 0, 0, 0, 1);
      else mesh.matrix.copy(this.identity);
      mesh.matrixWorldNeedsUpdate = true;
    }
    for (const p of vis.plumes) {
      const level = s.thrust[p.exhaust.thruster] || 0;
      p.holder.visible = level > PLUME_MIN_LEVEL;
      const length = p.exhaust.length * (p.beam ? 1 : level);
      const width = p.exhaust.width * (p.beam ? 0.3 : 1);
      p.mesh.scale.set(width, Math.max(length, 1e-3), width);
    }
    this.placeDust(vis, s, t);
    vis.root.updateMatrixWorld(true);
  }

  // Dust runs out along the ground below each engine whose stream exists,
  // thicker with the engine's level, while the vessel is low. The particles
  // are rewritten only while some dust shows, and once when it goes.
  placeDust(vis, s, t) {
    const streams = vis.streams;
    let shown = false;
    let strongest = 0;
    for (const stream of streams) {
      if (!dustRises(stream, s, t)) continue;
      shown = true;
      strongest = Math.max(strongest, s.thrust[stream.thruster] || 0);
    }
    vis.dust.visible = shown;
    if (!shown && !vis.dustOn) return;
    vis.dustOn = shown;
    const attr = vis.dust.geometry.getAttribute('position');
    const scratch = this.scratch;
    streams.forEach((stream, j) => {
      const level = s.thrust[stream.thruster] || 0;
      const lit = dustRises(stream, s, t);
      scratch.set(stream.pos[0], 0, stream.pos[2]);
      vis.root.localToWorld(scratch);
      for (let k = 0; k < DUST_PARTICLES; k++) {
        const idx = j * DUST_PARTICLES + k;
        if (!lit) {
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

  // A live vessel's line takes its position once it has moved far enough.
  growTrajectory(i, position) {
    const vis = this.visuals[i];
    const attr = vis.trajectory.geometry.getAttribute('position');
    const a = attr.array;
    const n = vis.grown;
    if (n > 0) {
      const k = 3 * (n - 1);
      const d = Math.hypot(a[k] - position[0], a[k + 1] - position[1], a[k + 2] - position[2]);
      if (d < TRAJECTORY_GROWN_STEP) return;
    }
    if (n === TRAJECTORY_GROWN_POINTS) {
      // Full: every other point goes, the line keeps its shape at half the detail.
      for (let j = 0; j < n / 2; j++) a.copyWithin(3 * j, 6 * j, 6 * j + 3);
      vis.grown = n / 2;
    }
    a.set(position, 3 * vis.grown);
    vis.grown++;
    vis.trajectory.geometry.setDrawRange(0, vis.grown);
    attr.needsUpdate = true;
  }

  setTrajectoriesShown(shown) {
    this.trajectoriesShown = shown;
    for (const v of this.visuals) v.trajectory.visible = shown;
  }

  // Where the cameras look for a vessel: the vessel, or where it went into
  // the ground after a crash, so that no camera follows it below the surface.
  aimAt(vis) {
    this.aim.copy(vis.root.position);
    this.aim.y = Math.max(this.aim.y, 0);
    return this.aim;
  }

  // The camera on vessel `selected`, whose state is s.
  placeCamera(selected, s) {
    const { camera, controls } = this;
    const vis = this.visuals[selected];
    const target = this.aimAt(vis);
    if (this.cameraMode === 'chase') {
      // Behind the vessel's heading, above and a little to its side.
      const h = (s.heading * Math.PI) / 180;
      this.forward.set(Math.sin(h), 0, -Math.cos(h));
      this.right.set(Math.cos(h), 0, Math.sin(h));
      // Farther back the deeper a crashed vessel lies, to show where it went in.
      const buried = Math.max(0, -vis.root.position.y);
      const d = CHASE_DISTANCE * vis.radius + BURIED_PULL_BACK * buried;
      camera.position.copy(target).addScaledVector(this.forward, -0.75 * d).addScaledVector(this.right, 0.55 * d);
      camera.position.y = Math.max(target.y + 0.45 * d, CAMERA_CLEARANCE);
      camera.lookAt(target);
    } else if (this.cameraMode === 'ground') {
      camera.position.copy(OBSERVER);
      camera.lookAt(target);
    } else {
      // The orbit camera follows the vessel and turns about it with the mouse.
      camera.position.add(this.scratch.copy(target).sub(this.lastTarget));
      controls.target.copy(target);
      controls.update();
      if (camera.position.y < CAMERA_CLEARANCE) {
        camera.position.y = CAMERA_CLEARANCE;
        camera.lookAt(target);
      }
    }
    this.lastTarget.copy(target);
  }

  setCameraMode(mode, selected) {
    if (mode === 'orbit' && this.cameraMode !== 'orbit') {
      this.controls.target.copy(this.aimAt(this.visuals[selected]));
      this.lastTarget.copy(this.controls.target);
    }
    this.cameraMode = mode;
    this.controls.enabled = mode === 'orbit';
  }

  draw() {
    this.renderer.render(this.scene, this.camera);
  }

  resize(w, h) {
    this.renderer.setSize(w, h, false);
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
  }

  // Where an object shows on the screen, in CSS pixels: [x0, y0, x1, y1].
  screenBox(object) {
    const box = new THREE.Box3().setFromObject(object);
    const r = this.canvas.getBoundingClientRect();
    const corner = this.corner;
    let [x0, y0, x1, y1] = [Infinity, Infinity, -Infinity, -Infinity];
    for (let k = 0; k < 8; k++) {
      corner.set(k & 1 ? box.max.x : box.min.x, k & 2 ? box.max.y : box.min.y, k & 4 ? box.max.z : box.min.z);
      corner.project(this.camera);
      const x = ((corner.x + 1) / 2) * r.width;
      const y = ((1 - corner.y) / 2) * r.height;
      [x0, y0, x1, y1] = [Math.min(x0, x), Math.min(y0, y), Math.max(x1, x), Math.max(y1, y)];
    }
    return [x0, y0, x1, y1];
  }

  // For scripted checks of the pages.
  checks() {
    const visuals = this.visuals;
    return {
      canvas: this.canvas,
      camera: this.camera,
      vesselObject: (i) => visuals[i].root,
      partObject: (i, group) => visuals[i].parts.get(group),
      partMatrix: (i, group) => (visuals[i].parts.has(group) ? visuals[i].parts.get(group).matrix.toArray() : null),
      partScreenBoxes: (i) =>
        [...visuals[i].parts].map(([group, mesh]) => ({ group, label: mesh.name, box: this.screenBox(mesh) })),
      vesselScreenBox: (i) => this.screenBox(visuals[i].root),
      plumesShown: (i) => visuals[i].plumes.filter((p) => p.holder.visible).length,
      dustShown: (i) => visuals[i].dust.visible,
      trajectoryPoints: (i) => visuals[i].trajectory.geometry.drawRange.count,
      setVesselsVisible: (shown) => {
        for (const v of visuals) {
          v.root.visible = shown;
          v.dust.visible = shown && v.dust.visible;
        }
        this.draw();
      },
    };
  }
}

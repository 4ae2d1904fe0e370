// The recorded run as the flight host wrote it into the page: channels of
// whole steps (first value, then differences), decoded once into arrays, and
// the state of every vessel at any time by interpolation between samples.

export function decodeChannel(channel) {
  const out = new Float64Array(channel.d.length);
  let q = 0;
  for (let i = 0; i < channel.d.length; i++) {
    q += channel.d[i];
    out[i] = q * channel.step;
  }
  return out;
}

// Index k of the last sample at or before t (0 before the first).
export function sampleIndex(times, t) {
  let lo = 0;
  let hi = times.length - 1;
  if (t <= times[0]) return 0;
  if (t >= times[hi]) return hi;
  while (hi - lo > 1) {
    const mid = (lo + hi) >> 1;
    if (times[mid] <= t) lo = mid;
    else hi = mid;
  }
  return lo;
}

function lerp(a, b, f) {
  return a + (b - a) * f;
}

// Degrees on a circle: the shorter way round.
function lerpAngle(a, b, f) {
  let d = b - a;
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  let x = a + d * f;
  if (x < 0) x += 360;
  if (x >= 360) x -= 360;
  return x;
}

export class Record {
  constructor(data) {
    this.data = data;
    this.times = decodeChannel(data.time);
    this.endTime = this.times[this.times.length - 1];
    this.vessels = data.vessels.map((v) => this.decodeVessel(v));
    this.hudTimes = data.hud.frames.map((f) => f.t);
  }

  decodeVessel(v) {
    const c = v.channels;
    return {
      info: v,
      pos: c.pos.map(decodeChannel),
      quat: c.quat.map(decodeChannel),
      anim: c.anim.map(decodeChannel),
      thrust: c.thrust.map(decodeChannel),
      navmodes: decodeChannel(c.navmodes),
      contact: decodeChannel(c.contact),
      propellant: decodeChannel(c.propellant),
      altitude: decodeChannel(c.altitude),
      verticalSpeed: decodeChannel(c.verticalSpeed),
      horizontalSpeed: decodeChannel(c.horizontalSpeed),
      pitch: decodeChannel(c.pitch),
      bank: decodeChannel(c.bank),
      heading: decodeChannel(c.heading),
      poseTimes: v.poses.map((p) => p.t),
      poses: v.poses.map((p) => ({ t: p.t, sets: p.sets.map((set) => this.decodePose(set)) })),
    };
  }

  // A pose as the 12 numbers of its matrix's top three rows, row by row.
  decodePose(set) {
    const step = this.data.poseStep;
    if (set.m) return { groups: set.g, m: set.m.map((x) => x * step) };
    const [x, y, z, w] = set.q.map((c) => c * step);
    const n = Math.hypot(x, y, z, w) || 1;
    const [qx, qy, qz, qw] = [x / n, y / n, z / n, w / n];
    const [px, py, pz] = set.p.map((c) => c * step);
    return {
      groups: set.g,
      m: [
        1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy - qz * qw), 2 * (qx * qz + qy * qw), px,
        2 * (qx * qy + qz * qw), 1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz - qx * qw), py,
        2 * (qx * qz - qy * qw), 2 * (qy * qz + qx * qw), 1 - 2 * (qx * qx + qy * qy), pz,
      ],
    };
  }

  // Sample k and the fraction of the way to sample k+1 at time t.
  locate(t) {
    const k = sampleIndex(this.times, t);
    if (k >= this.times.length - 1) return { k, f: 0 };
    const span = this.times[k + 1] - this.times[k];
    return { k, f: span > 0 ? Math.min(Math.max((t - this.times[k]) / span, 0), 1) : 0 };
  }

  // A vessel's state at time t; continuous values interpolated, modes held.
  stateAt(index, t) {
    const v = this.vessels[index];
    const { k, f } = this.locate(t);
    const n = Math.min(k + 1, this.times.length - 1);
    const at = (arr) => lerp(arr[k], arr[n], f);
    let q = v.quat.map((c) => at(c));
    const norm = Math.hypot(q[0], q[1], q[2], q[3]) || 1;
    q = q.map((x) => x / norm);
    return {
      sample: k,
      position: v.pos.map((c) => at(c)),
      quaternion: q,
      animations: v.anim.map((c) => at(c)),
      thrust: v.thrust.map((c) => Math.max(0, at(c))),
      navmodes: v.navmodes[k],
      contact: v.contact[k] > 0.5,
      propellant: at(v.propellant),
      altitude: at(v.altitude),
      verticalSpeed: at(v.verticalSpeed),
      horizontalSpeed: at(v.horizontalSpeed),
      pitch: at(v.pitch),
      bank: at(v.bank),
      heading: lerpAngle(v.heading[k], v.heading[n], f),
    };
  }

  // The pose entries in force at time t: the last of each group up to t.
  posesAt(index, t) {
    const v = this.vessels[index];
    const poses = v.poses;
    const last = sampleIndex(v.poseTimes, t);
    const byGroup = new Map();
    for (let i = 0; i <= last && i < poses.length; i++) {
      if (poses[i].t > t + 1e-9 && i > 0) break;
      for (const set of poses[i].sets) for (const g of set.groups) byGroup.set(g, set.m);
    }
    return byGroup;
  }

  // The head-up display frame painted last at time t, or -1 before the first.
  hudFrameAt(t) {
    if (!this.hudTimes.length) return -1;
    const k = sampleIndex(this.hudTimes, t);
    return this.hudTimes[k] > t + 1e-9 ? -1 : k;
  }

  hudRuns(frame) {
    if (frame < 0) return [];
    return this.data.hud.frames[frame].runs.map((r) => this.data.hud.runs[r]);
  }

  annotationsAt(t) {
    return this.data.annotations.filter((a) => t + 1e-9 >= a.from && (a.to === null || t < a.to));
  }

  navmodeText(modes) {
    const names = [];
    for (let m = 1; m < this.data.navmodeNames.length; m++) if (modes & (1 << m)) names.push(this.data.navmodeNames[m]);
    return names.length ? names.join('+') : '-';
  }

  // The focus vessel's touchdown, or null.
  touchdownTime() {
    return this.data.vessels[this.data.focus].touchdown;
  }
}

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

// The record keeps its times to the microsecond: a time given exactly (a
// touchdown from the report, say) is at the sample its rounding names.
const TIME_QUANTUM = 1e-6; // s

// Index k of the last sample at or before t (0 before the first).
export function sampleIndex(times, t) {
  const at = t + TIME_QUANTUM / 2;
  let lo = 0;
  let hi = times.length - 1;
  if (at < times[0]) return 0;
  if (at >= times[hi]) return hi;
  while (hi - lo > 1) {
    const mid = (lo + hi) >> 1;
    if (times[mid] <= at) lo = mid;
    else hi = mid;
  }
  return lo;
}

export function lerp(a, b, f) {
  return a + (b - a) * f;
}

// Degrees on a circle: the shorter way round.
export function lerpAngle(a, b, f) {
  let d = b - a;
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  let x = a + d * f;
  if (x < 0) x += 360;
  if (x >= 360) x -= 360;
  return x;
}

// A pose set of the flight host ({g, q, p} or {g, m} in whole steps of
// `step`) as the 12 numbers of its matrix's top three rows, row by row.
export function poseMatrix(set, step) {
  if (set.m) return set.m.map((x) => x * step);
  const [x, y, z, w] = set.q.map((c) => c * step);
  const n = Math.hypot(x, y, z, w) || 1;
  const [qx, qy, qz, qw] = [x / n, y / n, z / n, w / n];
  const [px, py, pz] = set.p.map((c) => c * step);
  return [
    1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy - qz * qw), 2 * (qx * qz + qy * qw), px,
    2 * (qx * qy + qz * qw), 1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz - qx * qw), py,
    2 * (qx * qz - qy * qw), 2 * (qy * qz + qx * qw), 1 - 2 * (qx * qx + qy * qy), pz,
  ];
}

// The navigation modes set in `modes` (bit 1 << m), by their names.
export function navmodeText(names, modes) {
  const on = [];
  for (let m = 1; m < names.length; m++) if (modes & (1 << m)) on.push(names[m]);
  return on.length ? on.join('+') : '-';
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
      poses: this.poseTimelines(v.poses),
    };
  }

  // The pose entries by group: for each group the times and matrices of its
  // entries in the record's order, and which of them the first entry (in
  // force from the start) gave it last.
  poseTimelines(entries) {
    const byGroup = new Map();
    entries.forEach((entry, i) => {
      for (const set of entry.sets) {
        const m = this.decodePose(set).m;
        for (const g of set.g) {
          if (!byGroup.has(g)) byGroup.set(g, { times: [], m: [], initial: -1 });
          const line = byGroup.get(g);
          if (i === 0) line.initial = line.times.length;
          line.times.push(entry.t);
          line.m.push(m);
        }
      }
    });
    return byGroup;
  }

  // A pose as the 12 numbers of its matrix's top three rows, row by row.
  decodePose(set) {
    return { groups: set.g, m: poseMatrix(set, this.data.poseStep) };
  }

  // Sample k and the fraction of the way to sample k+1 at time t.
  locate(t) {
    const k = sampleIndex(this.times, t);
    if (k >= this.times.length - 1) return { k, f: 0 };
    const span = this.times[k + 1] - this.times[k];
    return { k, f: span > 0 ? Math.min(Math.max((t - this.times[k]) / span, 0), 1) : 0 };
  }

  // A state to fill by stateAt for vessel `index`.
  newState(index) {
    const v = this.vessels[index];
    return {
      sample: 0,
      position: new Float64Array(3),
      quaternion: new Float64Array(4),
      animations: new Float64Array(v.anim.length),
      thrust: new Float64Array(v.thrust.length),
      navmodes: 0,
      contact: false,
      propellant: 0,
      altitude: 0,
      verticalSpeed: 0,
      horizontalSpeed: 0,
      pitch: 0,
      bank: 0,
      heading: 0,
    };
  }

  // A vessel's state at time t; continuous values interpolated, modes held.
  // Fills `out` (from newState) when given, which a page drawing every frame
  // does so as not to allocate.
  stateAt(index, t, out = this.newState(index)) {
    const v = this.vessels[index];
    const { k, f } = this.locate(t);
    const n = Math.min(k + 1, this.times.length - 1);
    const at = (arr) => lerp(arr[k], arr[n], f);
    for (let c = 0; c < 3; c++) out.position[c] = at(v.pos[c]);
    let norm = 0;
    for (let c = 0; c < 4; c++) {
      out.quaternion[c] = at(v.quat[c]);
      norm += out.quaternion[c] * out.quaternion[c];
    }
    norm = Math.sqrt(norm) || 1;
    for (let c = 0; c < 4; c++) out.quaternion[c] /= norm;
    for (let c = 0; c < v.anim.length; c++) out.animations[c] = at(v.anim[c]);
    for (let c = 0; c < v.thrust.length; c++) out.thrust[c] = Math.max(0, at(v.thrust[c]));
    out.sample = k;
    out.navmodes = v.navmodes[k];
    out.contact = v.contact[k] > 0.5;
    out.propellant = at(v.propellant);
    out.altitude = at(v.altitude);
    out.verticalSpeed = at(v.verticalSpeed);
    out.horizontalSpeed = at(v.horizontalSpeed);
    out.pitch = at(v.pitch);
    out.bank = at(v.bank);
    out.heading = lerpAngle(v.heading[k], v.heading[n], f);
    return out;
  }

  // The pose of a group in force at time t (the 12 numbers of decodePose),
  // or null where the record gives it none: its last entry up to t, and the
  // first entry's from the start. The same array while the pose holds.
  poseAt(index, group, t) {
    const line = this.vessels[index].poses.get(group);
    if (!line) return null;
    let lo = 0;
    let hi = line.times.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (line.times[mid] <= t) lo = mid + 1;
      else hi = mid;
    }
    if (lo > 0) return line.m[lo - 1];
    return line.initial >= 0 ? line.m[line.initial] : null;
  }

  // Every group's pose in force at time t.
  posesAt(index, t) {
    const byGroup = new Map();
    for (const group of this.vessels[index].poses.keys()) {
      const m = this.poseAt(index, group, t);
      if (m) byGroup.set(group, m);
    }
    return byGroup;
  }

  // The head-up display frame painted last at time t, or -1 before the first.
  hudFrameAt(t) {
    if (!this.hudTimes.length) return -1;
    const k = sampleIndex(this.hudTimes, t);
    return this.hudTimes[k] > t + TIME_QUANTUM / 2 ? -1 : k;
  }

  hudRuns(frame) {
    if (frame < 0) return [];
    return this.data.hud.frames[frame].runs.map((r) => this.data.hud.runs[r]);
  }

  annotationsAt(t) {
    return this.data.annotations.filter((a) => t + 1e-9 >= a.from && (a.to === null || t < a.to));
  }

  navmodeText(modes) {
    return navmodeText(this.data.navmodeNames, modes);
  }

  // The focus vessel's touchdown, or null.
  touchdownTime() {
    return this.data.vessels[this.data.focus].touchdown;
  }
}

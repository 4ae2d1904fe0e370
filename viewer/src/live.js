// A live session's states as the page draws them: the scene's fixed parts
// from the hello message, then the newest few states with the times they
// arrived. The page draws at its own frame rate a moment that lags the
// newest state by about one state interval, between the two states around
// it: positions, levels and instruments interpolated, attitudes by
// normalised linear interpolation the short way, animation states, modes
// and poses as the newer state has them. Nothing here touches the page.
import { lerp, lerpAngle, navmodeText, poseMatrix, sampleIndex } from './record.js';

const KEPT_STATES = 4; // enough to ride out a state that comes early or late
const FIRST_INTERVAL = 100; // ms: assumed until two states have arrived
const SHORTEST_INTERVAL = 5; // ms
const LONGEST_INTERVAL = 1000; // ms: a longer wait is a stall, not the rate
const INTERVAL_SMOOTHING = 0.2; // weight of each new arrival interval
const WELL_BELOW = 0.9; // the reached warp is shown when below this share of the asked one

export class LiveSource {
  constructor(hello) {
    this.data = hello;
    this.vessels = hello.vessels.map((info) => ({ info }));
    this.entries = []; // {state, arrival, time, poses}, oldest first
    this.received = 0; // states pushed so far
    this.shownTime = -Infinity; // the last display time given
    this.times = [];
    this.located = { t: NaN, received: -1, a: null, b: null, f: 0 }; // the last locate's, reused
    this.interval = FIRST_INTERVAL;
    this.hud = { width: hello.hud.width, height: hello.hud.height, runs: hello.hud.runs, version: 0 };
    this.annotations = hello.annotations;
  }

  // A state message received at `now` (ms).
  push(state, now) {
    const last = this.entries[this.entries.length - 1];
    if (last) {
      const gap = now - last.arrival;
      if (gap <= LONGEST_INTERVAL) {
        const clamped = Math.max(gap, SHORTEST_INTERVAL);
        // The first gap measured replaces the guess; later ones are smoothed.
        if (this.received === 1) this.interval = clamped;
        else this.interval += INTERVAL_SMOOTHING * (clamped - this.interval);
      }
    }
    const poses = state.vessels.map((v, i) => this.decodePoses(v.poses, last && last.poses[i]));
    this.entries.push({ state, arrival: now, time: state.time, poses });
    if (this.entries.length > KEPT_STATES) this.entries.shift();
    this.times.length = this.entries.length;
    this.entries.forEach((e, k) => { this.times[k] = e.time; });
    this.received++;
  }

  // A vessel's poses by group; a pose equal to the one before keeps its
  // array, so that the page can tell an unchanged part by identity.
  decodePoses(sets, before) {
    const byGroup = new Map();
    for (const set of sets) {
      const m = poseMatrix(set, this.data.poseStep);
      for (const g of set.g) {
        const old = before && before.get(g);
        byGroup.set(g, old && sameNumbers(old, m) ? old : m);
      }
    }
    return byGroup;
  }

  hasState() {
    return this.entries.length > 0;
  }

  newest() {
    return this.entries[this.entries.length - 1].state;
  }

  // The time to draw at `now`: the arrival moment one interval ago, carried
  // over to the states' time between the two that arrived around it. It
  // never goes back while the states go on (a late state stretches the
  // interval, which would step it back a little).
  displayTime(now) {
    const e = this.entries;
    if (!e.length) return 0;
    let t = this.arrivalTime(now - this.interval);
    if (t < this.shownTime && this.shownTime <= e[e.length - 1].time) t = this.shownTime;
    this.shownTime = t;
    return t;
  }

  arrivalTime(at) {
    const e = this.entries;
    if (at <= e[0].arrival) return e[0].time;
    for (let k = e.length - 1; k > 0; k--) {
      if (at < e[k - 1].arrival) continue;
      const span = e[k].arrival - e[k - 1].arrival;
      const f = span > 0 ? Math.min((at - e[k - 1].arrival) / span, 1) : 1;
      return lerp(e[k - 1].time, e[k].time, f);
    }
    return e[e.length - 1].time;
  }

  // The two kept states around time t and the fraction of the way between
  // (one object, found once per time and state received).
  locate(t) {
    const at = this.located;
    if (at.t === t && at.received === this.received) return at;
    const times = this.times;
    const k = sampleIndex(times, t);
    const n = times[k] === t ? k : Math.min(k + 1, times.length - 1); // at a state's time: that state
    const span = times[n] - times[k];
    at.t = t;
    at.received = this.received;
    at.a = this.entries[k];
    at.b = this.entries[n];
    at.f = span > 0 ? Math.min(Math.max((t - times[k]) / span, 0), 1) : 0;
    return at;
  }

  newState(index) {
    const info = this.vessels[index].info;
    return {
      position: new Float64Array(3),
      quaternion: new Float64Array(4),
      animations: new Float64Array(0),
      thrust: new Float64Array(info.thrusters.length),
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

  // Vessel `index` at time t, filled into `out` (from newState).
  stateAt(index, t, out = this.newState(index)) {
    const { a, b, f } = this.locate(t);
    const va = a.state.vessels[index] || b.state.vessels[index];
    const vb = b.state.vessels[index] || va;
    for (let c = 0; c < 3; c++) out.position[c] = lerp(va.pos[c], vb.pos[c], f);
    nlerp(va.quat, vb.quat, f, out.quaternion);
    if (out.animations.length !== vb.anim.length) out.animations = new Float64Array(vb.anim.length);
    out.animations.set(vb.anim);
    if (out.thrust.length !== vb.thrust.length) out.thrust = new Float64Array(vb.thrust.length);
    for (let c = 0; c < vb.thrust.length; c++) out.thrust[c] = Math.max(0, lerp(va.thrust[c] || 0, vb.thrust[c], f));
    out.navmodes = vb.navmodes;
    out.contact = vb.contact;
    out.propellant = lerp(va.propellant, vb.propellant, f);
    out.altitude = lerp(va.altitude, vb.altitude, f);
    out.verticalSpeed = lerp(va.verticalSpeed, vb.verticalSpeed, f);
    out.horizontalSpeed = lerp(va.horizontalSpeed, vb.horizontalSpeed, f);
    out.pitch = lerp(va.pitch, vb.pitch, f);
    out.bank = lerp(va.bank, vb.bank, f);
    out.heading = lerpAngle(va.heading, vb.heading, f);
    return out;
  }

  // A group's pose in the newer of the two states around t, or null.
  poseAt(index, group, t) {
    const poses = this.locate(t).b.poses[index];
    return (poses && poses.get(group)) || null;
  }

  // The dust streams a vessel's module has made by now.
  streams(index) {
    const v = this.entries.length ? this.newest().vessels[index] : null;
    return v && v.streams ? v.streams : this.vessels[index].info.streams;
  }

  setHud(message) {
    this.hud = { width: message.width, height: message.height, runs: message.runs, version: this.hud.version + 1 };
  }

  setAnnotations(message) {
    this.annotations = message.annotations;
  }

  navmodeText(modes) {
    return navmodeText(this.data.navmodeNames, modes);
  }
}

function sameNumbers(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// Normalised linear interpolation of quaternions [x, y, z, w], the short way.
export function nlerp(qa, qb, f, out) {
  let dot = 0;
  for (let c = 0; c < 4; c++) dot += qa[c] * qb[c];
  const sign = dot < 0 ? -1 : 1;
  let norm = 0;
  for (let c = 0; c < 4; c++) {
    out[c] = (1 - f) * qa[c] + f * sign * qb[c];
    norm += out[c] * out[c];
  }
  norm = Math.sqrt(norm) || 1;
  for (let c = 0; c < 4; c++) out[c] /= norm;
  return out;
}

// A time acceleration as the overlay shows it: 10 → "10", 0.1 → "0.1", 6.28 → "6.3".
export function warpNumber(x) {
  if (x >= 10) return String(Math.round(x));
  return String(Math.round(x * 10) / 10);
}

// The overlay's text for a state: "Paused", "10×", or "10× (reached 6.3×)"
// when the host falls well short of what was asked.
export function statusText(state) {
  if (state.paused) return 'Paused';
  const asked = `${warpNumber(state.warp)}×`;
  if (state.reachedWarp < WELL_BELOW * state.warp) return `${asked} (reached ${warpNumber(state.reachedWarp)}×)`;
  return asked;
}

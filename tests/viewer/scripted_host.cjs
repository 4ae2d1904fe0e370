// A stand-in for the flight host's live session in the page tests: it
// serves the built page with {"live":true} in its data slot at "/", and a
// WebSocket at "/ws" (on 127.0.0.1 only) that keeps what the page sends and
// sends the page what a test gives it. Its hello and states are made from a
// recorded flight, so the page draws a real vessel description.
'use strict';
const http = require('node:http');
const fs = require('node:fs');
const { execFileSync } = require('node:child_process');
const { WebSocketServer } = require('ws');

const DATA_SLOT = '__VTAL_FLIGHT_RECORD__';
const WAIT_LIMIT_MS = 30000; // a safety net only: waits end on the event awaited

class ScriptedHost {
  constructor(page) {
    this.page = page;
    this.received = [];
    this.sockets = new Set();
    this.waiters = [];
    this.onConnect = () => {};
  }

  static async start(templatePath, token = 'test-token') {
    const page = fs.readFileSync(templatePath, 'utf8').replace(DATA_SLOT, '{"live":true}');
    const host = new ScriptedHost(page);
    host.server = http.createServer((req, res) => {
      if (req.url.startsWith('/?') || req.url === '/') {
        res.writeHead(200, { 'content-type': 'text/html; charset=utf-8' });
        res.end(page);
      } else {
        res.writeHead(404);
        res.end();
      }
    });
    host.wss = new WebSocketServer({ server: host.server, path: '/ws' });
    host.wss.on('connection', (socket, req) => {
      host.sockets.add(socket);
      host.lastQuery = req.url;
      socket.on('message', (data) => {
        host.received.push(JSON.parse(String(data)));
        host.wake();
      });
      socket.on('close', () => {
        host.sockets.delete(socket);
        host.wake();
      });
      host.onConnect(socket);
      host.wake();
    });
    await new Promise((done) => host.server.listen(0, '127.0.0.1', done));
    host.url = `http://127.0.0.1:${host.server.address().port}/?token=${token}`;
    return host;
  }

  send(message) {
    const text = typeof message === 'string' ? message : JSON.stringify(message);
    for (const s of this.sockets) s.send(text);
  }

  // Resolves once `condition()` holds, checked whenever the page sends,
  // connects or goes.
  waitFor(condition, what) {
    if (condition()) return Promise.resolve();
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`the host waited in vain for ${what}`)), WAIT_LIMIT_MS);
      this.waiters.push({ condition, resolve, timer });
    });
  }

  wake() {
    this.waiters = this.waiters.filter((w) => {
      if (!w.condition()) return true;
      clearTimeout(w.timer);
      w.resolve();
      return false;
    });
  }

  keys() {
    return this.received.filter((m) => m.type === 'key');
  }

  dropConnections() {
    for (const s of this.sockets) s.terminate();
  }

  async stop() {
    this.dropConnections();
    await new Promise((done) => this.wss.close(done));
    const closed = new Promise((done) => this.server.close(done));
    this.server.closeAllConnections(); // the browser's kept-alive ones too
    await closed;
  }
}

// ---- a recorded flight as hello and states

function decode(channel) {
  let q = 0;
  return channel.d.map((d) => {
    q += d;
    return q * channel.step;
  });
}

// The record of a flight of the default descent to `until` s with `keys`.
function recordedFlight(sim, pagePath, until, keys) {
  const args = ['--quiet', '--until', String(until), '--view', pagePath];
  if (keys) args.push('--keys', keys);
  execFileSync(sim, args);
  const html = fs.readFileSync(pagePath, 'utf8');
  const m = html.match(/<script id="vtal-record" type="application\/json">([\s\S]*?)<\/script>/);
  return new Flight(JSON.parse(m[1]));
}

const DESCRIPTION = ['name', 'className', 'size', 'touchdownPoints', 'model', 'thrusters', 'engines', 'yawLeft',
  'yawRight', 'exhausts', 'streams'];

class Flight {
  constructor(record) {
    this.record = record;
    this.times = decode(record.time);
    this.channels = record.vessels.map((v) => {
      const c = v.channels;
      const out = {};
      for (const [k, ch] of Object.entries(c)) out[k] = Array.isArray(ch) ? ch.map(decode) : decode(ch);
      return out;
    });
  }

  hello() {
    const r = this.record;
    return {
      type: 'hello', format: 'vtal-live 1', scenario: r.scenario, body: r.body, dt: r.dt, focus: r.focus,
      origin: r.origin, poseStep: r.poseStep, navmodeNames: r.navmodeNames,
      hud: { width: r.hud.width, height: r.hud.height, runs: this.hudRuns(0) },
      annotations: [],
      vessels: r.vessels.map((v) => Object.fromEntries(DESCRIPTION.map((k) => [k, v[k]]))),
    };
  }

  hudRuns(k) {
    const frames = this.record.hud.frames.filter((f) => f.t <= this.times[k] + 1e-9);
    const frame = frames[frames.length - 1];
    return frame ? frame.runs.map((i) => this.record.hud.runs[i]) : [];
  }

  // Sample k as a state message; `status` and per-vessel `extra` over it.
  state(k, status = {}, extra = {}) {
    const vessels = this.channels.map((c, i) => ({
      pos: c.pos.map((x) => x[k]),
      quat: c.quat.map((x) => x[k]),
      anim: c.anim.map((x) => x[k]),
      thrust: c.thrust.map((x) => x[k]),
      navmodes: c.navmodes[k],
      contact: c.contact[k] > 0.5,
      propellant: c.propellant[k],
      altitude: c.altitude[k],
      verticalSpeed: c.verticalSpeed[k],
      horizontalSpeed: c.horizontalSpeed[k],
      pitch: c.pitch[k],
      bank: c.bank[k],
      heading: c.heading[k],
      poses: [],
      streams: this.record.vessels[i].streams,
      ...extra,
    }));
    return { type: 'state', time: this.times[k], focus: this.record.focus, warp: 1, reachedWarp: 1, paused: false,
      vessels, ...status };
  }
}

module.exports = { ScriptedHost, recordedFlight, decode };

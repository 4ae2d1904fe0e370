// The live session's page: the flight host's states over the session's
// WebSocket drawn with the replay's scene and instruments, and the person's
// keys, keypad and commands sent back (sim/live/Protocol.h).
import { LiveSource, statusText } from './live.js';
import { KeyTracker } from './keys.js';
import { createScene } from './scene.js';
import { el, fixed, setText, showInstruments, showHud, showAnnotations, showNoViewNotice } from './panel.js';
import { setupViewControls, fillVesselChoice } from './replay.js';

const TOAST_MS = 6000;
const SENT_KEPT = 200; // messages kept for scripted checks

export function startLive() {
  document.body.classList.add('live');
  const canvas = el('view');
  const { view, notice } = createScene(canvas);
  if (!view) showNoViewNotice(notice);

  let socket = null;
  let source = null;
  let states = [];
  let selected = 0;
  let focus = -1;
  let ended = false;
  let framesDrawn = 0;
  const sent = [];

  function send(message) {
    if (ended || !socket || socket.readyState !== WebSocket.OPEN) return;
    socket.send(JSON.stringify(message));
    sent.push(message);
    if (sent.length > SENT_KEPT) sent.shift();
  }
  const keys = new KeyTracker(send);

  // ---- messages from the host
  function onHello(hello) {
    if (source) return; // the scene is built once; a page reconnects by loading anew
    source = new LiveSource(hello);
    states = source.vessels.map((v, i) => {
      if (view) view.addVessel(v.info, null);
      return source.newState(i);
    });
    selected = hello.focus;
    el('title').textContent = `live: ${hello.scenario} (${hello.body.name})`;
    const pick = el('vessel');
    fillVesselChoice(pick, source.vessels.map((v) => v.info.name), selected);
    pick.addEventListener('change', () => { selected = Number(pick.value); });
    el('focus-next').hidden = source.vessels.length < 2;
    window.vtalViewer.ready = true;
  }

  function onState(state) {
    if (!source) return;
    source.push(state, performance.now());
    state.vessels.forEach((v, i) => {
      if (i >= states.length) return;
      if (view) {
        view.updateStreams(i, source.streams(i));
        view.growTrajectory(i, v.pos);
      }
    });
    if (state.focus !== focus) {
      // The person flies the focus vessel: the camera goes with it.
      focus = state.focus;
      selected = focus;
      el('vessel').value = String(focus);
    }
    setText(el('overlay'), statusText(state));
    setText(el('pause'), state.paused ? 'Resume' : 'Pause');
  }

  function onSaved(message) {
    const toast = el('toast');
    toast.textContent = message.ok ? `Saved ${message.path}` : `Not saved: ${message.message || message.path}`;
    toast.classList.toggle('bad', !message.ok);
    toast.hidden = false;
    clearTimeout(onSaved.timer);
    onSaved.timer = setTimeout(() => { toast.hidden = true; }, TOAST_MS);
  }

  function showBanner(text, reconnect) {
    setText(el('banner-text'), text);
    el('reconnect').hidden = !reconnect;
    el('banner').hidden = false;
  }

  function onEnded() {
    keys.stop();
    ended = true;
    for (const b of document.querySelectorAll('.live-only button')) b.disabled = true;
    showBanner('Session ended', false);
  }

  const handlers = {
    hello: onHello,
    state: onState,
    hud: (m) => source && source.setHud(m),
    annotations: (m) => source && source.setAnnotations(m),
    saved: onSaved,
    ended: onEnded,
  };

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
    socket = new WebSocket(`${scheme}://${location.host}/ws${location.search}`);
    socket.addEventListener('message', (event) => {
      let message;
      try {
        message = JSON.parse(event.data);
      } catch {
        return; // not ours to show
      }
      const handle = handlers[message && message.type];
      if (handle) handle(message);
    });
    socket.addEventListener('close', () => {
      keys.stop();
      if (!ended) showBanner('Disconnected', true);
    });
  }

  // ---- keys, keypad, commands
  function setupKeys() {
    window.addEventListener('keydown', (e) => { if (keys.keydown(e)) e.preventDefault(); });
    window.addEventListener('keyup', (e) => { if (keys.keyup(e)) e.preventDefault(); });
    // A page that loses the keyboard holds nothing.
    window.addEventListener('blur', () => keys.releaseAll());
    window.addEventListener('pagehide', () => keys.releaseAll());
    document.addEventListener('visibilitychange', () => { if (document.visibilityState === 'hidden') keys.releaseAll(); });
  }

  function setupKeypad() {
    const latched = { shift: false, ctrl: false };
    for (const name of ['shift', 'ctrl']) {
      const b = el(`pad-${name}`);
      b.addEventListener('click', () => {
        latched[name] = !latched[name];
        b.classList.toggle('on', latched[name]);
      });
    }
    for (const b of document.querySelectorAll('#keypad [data-code]')) {
      const code = b.dataset.code;
      b.addEventListener('pointerdown', (e) => {
        e.preventDefault();
        keys.press(code, latched.shift, latched.ctrl);
      });
      for (const type of ['pointerup', 'pointerleave', 'pointercancel']) b.addEventListener(type, () => keys.release(code));
    }
    el('keypad-toggle').addEventListener('click', () => {
      const pad = el('keypad');
      pad.hidden = !pad.hidden;
      el('keypad-toggle').classList.toggle('on', !pad.hidden);
    });
  }

  function setupCommands() {
    for (const b of document.querySelectorAll('[data-command]'))
      b.addEventListener('click', () => send({ type: 'command', name: b.dataset.command }));
    el('reconnect').addEventListener('click', () => location.reload());
  }

  // ---- drawing
  const hudRuns = () => source.hud.runs;
  function render(now) {
    if (!source || !source.hasState()) return;
    const t = source.displayTime(now);
    for (let i = 0; i < states.length; i++) {
      source.stateAt(i, t, states[i]);
      if (view) view.placeVessel(i, states[i], t, source);
    }
    const shown = Math.min(Math.max(focus, 0), states.length - 1);
    showInstruments(source.vessels[shown].info, states[shown], t, source);
    showHud(source.hud.version, hudRuns, source.hud.width, source.hud.height);
    showAnnotations(source.annotations);
    setText(el('clock'), `${fixed(t, 2)} s`);
    if (view) {
      view.placeCamera(Math.min(selected, states.length - 1), states[Math.min(selected, states.length - 1)]);
      view.draw();
    }
    framesDrawn++;
  }

  function tick(now) {
    render(now);
    requestAnimationFrame(tick);
  }

  function resize() {
    if (view) view.resize(window.innerWidth, window.innerHeight);
    render(performance.now());
  }

  window.vtalViewer = {
    mode: 'live',
    ready: false,
    hasView: view !== null,
    source: () => source,
    framesDrawn: () => framesDrawn,
    keysHeld: () => keys.held(),
    sent: () => sent.slice(),
    ...(view ? view.checks() : {}),
  };
  setText(el('overlay'), 'Connecting…');
  setupKeys();
  setupKeypad();
  setupCommands();
  setupViewControls(view, () => selected, () => render(performance.now()));
  window.addEventListener('resize', resize);
  resize();
  connect();
  requestAnimationFrame(tick);
}

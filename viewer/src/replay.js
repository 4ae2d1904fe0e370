// The replay of a recorded run: the record's states at a time the person
// moves with play, speeds, the slider and the touchdown button.
import { Record } from './record.js';
import { createScene } from './scene.js';
import { el, fixed, setText, showInstruments, showHud, showAnnotations, showNoViewNotice } from './panel.js';

const SPEEDS = [1, 10, 100];

export function startReplay(data) {
  const record = new Record(data);
  performance.mark('vtal:record');

  const canvas = el('view');
  const { view, notice } = createScene(canvas);
  if (!view) showNoViewNotice(notice);
  const states = record.vessels.map((v, i) => {
    if (view) view.addVessel(v.info, v.pos);
    return record.newState(i);
  });
  performance.mark('vtal:scene');

  let selected = data.focus;
  let time = 0;
  let playing = false;
  let speed = 1;
  // What the last frame cost in ms: the page's own work, and three.js
  // issuing the draw (the rasteriser finishes it later, elsewhere).
  const cost = { own: 0, draw: 0 };
  let framesDrawn = 0;
  const hudRuns = (frame) => record.hudRuns(frame);

  function render() {
    const started = performance.now();
    for (let i = 0; i < states.length; i++) {
      record.stateAt(i, time, states[i]);
      if (view) view.placeVessel(i, states[i], time, record);
    }
    showInstruments(record.vessels[selected].info, states[selected], time, record);
    showHud(record.hudFrameAt(time), hudRuns, data.hud.width, data.hud.height);
    showAnnotations(record.annotationsAt(time));
    const slider = el('slider');
    const at = String(time);
    if (slider.value !== at) slider.value = at;
    setText(el('clock'), `${fixed(time, 2)} / ${fixed(record.endTime, 2)} s`);
    const drawing = performance.now();
    if (view) {
      view.placeCamera(selected, states[selected]);
      view.draw();
    }
    cost.own = drawing - started;
    cost.draw = performance.now() - drawing;
    framesDrawn++;
  }

  function setTime(t) {
    time = Math.min(Math.max(t, 0), record.endTime);
    render();
  }

  function resize() {
    if (view) view.resize(window.innerWidth, window.innerHeight);
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
    } else if (view && view.cameraMode === 'orbit') {
      render();
    }
    lastFrame = now;
    requestAnimationFrame(tick);
  }

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
      el(`speed-${s}`).addEventListener('click', () => {
        speed = s;
        for (const o of SPEEDS) el(`speed-${o}`).classList.toggle('on', o === s);
      });
    }
    const touchdown = el('touchdown');
    touchdown.disabled = record.touchdownTime() === null;
    touchdown.addEventListener('click', () => {
      if (record.touchdownTime() !== null) setTime(record.touchdownTime());
    });
    setupViewControls(view, () => selected, render);
    const pick = el('vessel');
    fillVesselChoice(pick, record.vessels.map((v) => v.info.name), selected);
    pick.addEventListener('change', () => {
      selected = Number(pick.value);
      render();
    });
    el('title').textContent = `${data.scenario} (${data.body.name})`;
    showThinned(data.thinned, record.vessels.length);
  }

  setupControls();
  window.addEventListener('resize', resize);
  resize();
  performance.mark('vtal:submitted');
  requestAnimationFrame(tick);

  // For scripted checks of the page: the time, the scene objects and where
  // they show on the screen.
  window.vtalViewer = {
    mode: 'replay',
    record,
    setTime,
    render,
    time: () => time,
    frameCost: () => ({ ...cost }),
    framesDrawn: () => framesDrawn,
    hasView: view !== null,
    ...(view ? view.checks() : {}),
    ready: true,
  };
}

// What a page kept within its size bound left out (the flight host's
// warning says the same when it writes the page).
function showThinned(thinned, shown) {
  if (!thinned) return;
  const parts = [];
  if (shown < thinned.vessels) parts.push(`${shown} of ${thinned.vessels} vessels: the focus and those nearest to it`);
  if (thinned.sampleInterval > 1 / 30 + 1e-6) parts.push(`one sample every ${fixed(thinned.sampleInterval, 3)} s`);
  const note = el('thinned');
  note.textContent = `Shown: ${parts.join('; ')} (the report has every vessel).`;
  note.hidden = parts.length === 0;
}

// Cameras and the trajectory switch, as both pages have them.
export function setupViewControls(view, selected, render) {
  const buttons = document.querySelectorAll('[data-camera]');
  for (const b of buttons) {
    b.disabled = !view;
    b.addEventListener('click', () => {
      view.setCameraMode(b.dataset.camera, selected());
      for (const o of buttons) o.classList.toggle('on', o === b);
      render();
    });
  }
  const trajectory = el('trajectory');
  trajectory.disabled = !view;
  trajectory.addEventListener('change', (e) => {
    view.setTrajectoriesShown(e.target.checked);
    render();
  });
}

export function fillVesselChoice(pick, names, selected) {
  names.forEach((name, i) => {
    const o = document.createElement('option');
    o.value = String(i);
    o.textContent = name;
    pick.appendChild(o);
  });
  pick.value = String(selected);
  pick.hidden = names.length < 2;
}

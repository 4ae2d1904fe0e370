// What the pages show over the view, with or without it: the instruments of
// one vessel, the head-up display's legend as the module painted it, and
// the annotations. Text is written only where it changes, which spares the
// page a layout of the panel every frame.

const elements = new Map();
export const el = (id) => {
  if (!elements.has(id)) elements.set(id, document.getElementById(id));
  return elements.get(id);
};

export const fixed = (x, digits) => (Math.abs(x) < 0.5 * 10 ** -digits ? 0 : x).toFixed(digits);

const shownText = new WeakMap();
export function setText(element, text) {
  if (shownText.get(element) === text) return;
  shownText.set(element, text);
  element.textContent = text;
}

function meanLevel(s, list) {
  let sum = 0;
  for (const e of list) sum += s.thrust[e];
  return list.length ? sum / list.length : 0;
}

// The instruments of the vessel described by `info` in state s at time t;
// source.navmodeText names the modes set.
export function showInstruments(info, s, t, source) {
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
  setText(el('i-nav'), source.navmodeText(s.navmodes));
  setText(el('i-prop'), fixed(s.propellant, 2));
  setText(el('i-contact'), s.contact ? 'on the ground' : 'flying');
}

// The legend's runs stay in their spans from frame to frame: a span is
// changed only where its run differs from the one it shows. `key` names
// the legend shown (the same key: nothing to do); runsOf(key) gives its runs
// on a canvas of width × height.
let hudShown = null;
const hudSpans = [];
export function showHud(key, runsOf, width, height) {
  if (key === hudShown) return;
  hudShown = key;
  const list = runsOf(key);
  const hud = el('hud');
  while (hudSpans.length < list.length) {
    const span = document.createElement('span');
    span.className = 'hud-run';
    hudSpans.push(span);
  }
  list.forEach((run, k) => {
    const span = hudSpans[k];
    if (span.run === run) return;
    if (!span.run || span.run.x !== run.x) {
      span.style.left = `${(100 * run.x) / width}%`;
      span.dataset.x = String(run.x);
    }
    if (!span.run || span.run.y !== run.y) {
      span.style.top = `${(100 * run.y) / height}%`;
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
  for (let k = list.length; k < hudSpans.length && hudSpans[k].parentNode; k++) {
    hudSpans[k].remove();
    hudSpans[k].run = null;
  }
}

// The annotations alive now: text in a box given in fractions of the window.
let notesShown = '';
export function showAnnotations(alive) {
  let key = '';
  for (const a of alive) key += `${a.from}:${a.colour}:${a.box}:${a.text}|`;
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

// Where the view would be, without WebGL: why it is missing, what works and
// what to try ({ why, works, tries }).
export function showNoViewNotice({ why, works, tries }) {
  const notice = el('notice');
  const line = (tag, text, className) => {
    const e = document.createElement(tag);
    e.textContent = text;
    if (className) e.className = className;
    return e;
  };
  const list = document.createElement('ul');
  for (const t of tries) list.appendChild(line('li', t));
  notice.replaceChildren(line('p', why, 'why'), line('p', works), line('p', 'To see the view:'), list);
  notice.hidden = false;
  el('view').hidden = true;
}

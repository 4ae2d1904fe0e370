// The keys a live page sends to the flight host: each press and release
// once (the browser's auto-repeat is no new press), with the Shift and Ctrl
// held with it; the modifier keys themselves are not sent. The page keeps
// the keys it has sent down, so that it can let all of them go when it
// loses the keyboard (blur, hidden, leaving): the host then holds nothing.
// Ctrl+P and Ctrl+S are the session's pause and save commands. Nothing here
// touches the page: messages go to `send`.

const MODIFIER = /^(Shift|Control|Alt|Meta|OS)(Left|Right)$/;
// Ctrl+key for a session command.
export const COMMAND_KEYS = new Map([['KeyP', 'pause'], ['KeyS', 'save']]);
// Left to the browser: reload, close, full screen, developer tools.
const BROWSER_KEYS = new Set(['F5', 'F11', 'F12']);
const BROWSER_CTRL_KEYS = new Set(['KeyR', 'KeyW', 'KeyT', 'KeyN', 'KeyQ']);

export function isModifier(code) {
  return MODIFIER.test(code);
}

export class KeyTracker {
  constructor(send) {
    this.send = send;
    this.down = new Map(); // code -> the {shift, ctrl} sent with its press
    this.stopped = false;
  }

  // A keydown event; returns whether the page took it, which then keeps the
  // browser's own shortcut (print, save, find, scrolling) from acting on it.
  keydown(e) {
    if (this.stopped || isModifier(e.code) || e.altKey || e.metaKey) return false;
    if (BROWSER_KEYS.has(e.code) || (e.ctrlKey && BROWSER_CTRL_KEYS.has(e.code))) return false;
    if (e.ctrlKey && COMMAND_KEYS.has(e.code)) {
      if (!e.repeat) this.send({ type: 'command', name: COMMAND_KEYS.get(e.code) });
      return true;
    }
    if (!e.repeat) this.press(e.code, e.shiftKey, e.ctrlKey);
    return true;
  }

  keyup(e) {
    if (!this.down.has(e.code)) return false;
    this.release(e.code);
    return true;
  }

  // A key down with the modifiers given (the keypad's, or a key event's);
  // a key already down is not pressed again.
  press(code, shift, ctrl) {
    if (this.stopped || this.down.has(code)) return;
    this.down.set(code, { shift, ctrl });
    this.send({ type: 'key', code, down: true, shift, ctrl });
  }

  // Up, with the modifiers it went down with.
  release(code) {
    const held = this.down.get(code);
    if (!held) return;
    this.down.delete(code);
    if (!this.stopped) this.send({ type: 'key', code, down: false, shift: held.shift, ctrl: held.ctrl });
  }

  releaseAll() {
    for (const code of [...this.down.keys()]) this.release(code);
  }

  // The session is over: nothing more is sent.
  stop() {
    this.stopped = true;
    this.down.clear();
  }

  held() {
    return [...this.down.keys()];
  }
}

#include "sim/world/Keyboard.h"

#include <algorithm>
#include <cmath>

#include "sim/vessel/Actuation.h"

namespace vtal::sim {
namespace {

// Ctrl + keypad +/- moves the main (or retro) permanent level at this rate.
constexpr double kMainLevelRatePerSecond = 0.2;
// Keypad attitude keys: a full override, a tenth with Ctrl.
constexpr double kAttitudeKeyOverride = 1.0;
constexpr double kFineAttitudeKeyOverride = 0.1;
constexpr double kKeyTimeTolerance = 1e-9;  // s
constexpr char kKeyDown = static_cast<char>(0x80);

struct HostNavKey {
    int code;
    int mode;
};
const HostNavKey kHostNavKeys[] = {{OAPI_KEY_L, NAVMODE_HLEVEL},         {OAPI_KEY_NUMPAD5, NAVMODE_KILLROT},
                                   {OAPI_KEY_LBRACKET, NAVMODE_PROGRADE}, {OAPI_KEY_RBRACKET, NAVMODE_RETROGRADE},
                                   {OAPI_KEY_SEMICOLON, NAVMODE_NORMAL},  {OAPI_KEY_APOSTROPHE, NAVMODE_ANTINORMAL},
                                   {OAPI_KEY_A, kHoldAltitudeMode}};

struct HostAttitudeKey {
    int code;
    int group;
};
const HostAttitudeKey kHostAttitudeKeys[] = {
    {OAPI_KEY_NUMPAD2, THGROUP_ATT_PITCHUP}, {OAPI_KEY_NUMPAD8, THGROUP_ATT_PITCHDOWN},
    {OAPI_KEY_NUMPAD1, THGROUP_ATT_YAWLEFT}, {OAPI_KEY_NUMPAD3, THGROUP_ATT_YAWRIGHT},
    {OAPI_KEY_NUMPAD4, THGROUP_ATT_BANKLEFT}, {OAPI_KEY_NUMPAD6, THGROUP_ATT_BANKRIGHT}};

bool IsDown(const char *kstate, int code) { return (static_cast<unsigned char>(kstate[code]) & 0x80) != 0; }
bool ShiftDown(const char *k) { return IsDown(k, OAPI_KEY_LSHIFT) || IsDown(k, OAPI_KEY_RSHIFT); }
bool CtrlDown(const char *k) { return IsDown(k, OAPI_KEY_LCONTROL); }

// Ctrl + keypad +: raising the main level lowers the retro level first.
void StepMainRetro(Vessel &v, double change) {
    ThrusterGroup *main = v.Group(THGROUP_MAIN), *retro = v.Group(THGROUP_RETRO);
    const double mainLevel = GroupPermanentLevel(main), retroLevel = GroupPermanentLevel(retro);
    const int raise = change > 0.0 ? THGROUP_MAIN : THGROUP_RETRO;
    const int lower = change > 0.0 ? THGROUP_RETRO : THGROUP_MAIN;
    const double raised = change > 0.0 ? mainLevel : retroLevel;
    const double lowered = change > 0.0 ? retroLevel : mainLevel;
    const double amount = std::fabs(change);
    if (lowered > 0.0) {
        SetGroupLevel(v, lower, lowered - amount);
        SetGroupLevel(v, raise, 0.0);
    } else {
        SetGroupLevel(v, raise, std::min(1.0, raised + amount));
    }
}

}  // namespace

bool Keyboard::Push(const KeyTransition &k) {
    if (k.scanCode < 0 || k.scanCode >= kScanCodes || pending_.size() >= kMaxPendingKeys) return false;
    pending_.push_back(k);
    return true;
}

void Keyboard::ReleaseAll() {
    // Every key still down after the queued events, released with no modifier:
    // the modifiers' own counts are released as keys of their own.
    int held[kScanCodes];
    std::copy(std::begin(heldCount_), std::end(heldCount_), held);
    for (const KeyTransition &k : pending_) {
        const int change = k.down ? 1 : -1;
        held[k.scanCode] += change;
        if (k.shift) held[OAPI_KEY_LSHIFT] += change;
        if (k.ctrl) held[OAPI_KEY_LCONTROL] += change;
    }
    for (int code = 0; code < kScanCodes; ++code)
        for (int n = held[code]; n > 0; --n) pending_.push_back({code, false, false, false});
}

bool Keyboard::Held(int scanCode) const {
    return scanCode >= 0 && scanCode < kScanCodes && IsDown(keyState_, scanCode);
}

// The held-key counts after the events of this pass; a press and its
// release in the same pass still count as held in it.
void Keyboard::UpdateKeyState() {
    for (const KeyTransition &k : passing_) {
        const int change = k.down ? 1 : -1;
        heldCount_[k.scanCode] += change;
        if (k.shift) heldCount_[OAPI_KEY_LSHIFT] += change;
        if (k.ctrl) heldCount_[OAPI_KEY_LCONTROL] += change;
    }
    for (int code = 0; code < kScanCodes; ++code) keyState_[code] = heldCount_[code] > 0 ? kKeyDown : 0;
    for (const KeyTransition &k : passing_) {
        if (!k.down) continue;
        keyState_[k.scanCode] = kKeyDown;
        if (k.shift) keyState_[OAPI_KEY_LSHIFT] = kKeyDown;
        if (k.ctrl) keyState_[OAPI_KEY_LCONTROL] = kKeyDown;
    }
}

// The direct-key callback once with the held keys (non-zero: the host's
// held-key actions are skipped), then every key-down and key-up to the
// buffered-key callback (non-zero: the host's handling of that event is
// skipped).
void Keyboard::Process(Vessel &v, double dt) {
    passing_.swap(pending_);
    pending_.clear();
    UpdateKeyState();
    const int consumedDirect = v.object ? v.object->clbkConsumeDirectKey(keyState_) : 0;
    if (!consumedDirect) HostDirectKeys(v, dt);
    for (const KeyTransition &k : passing_) {
        const int consumed =
            v.object ? v.object->clbkConsumeBufferedKey(static_cast<DWORD>(k.scanCode), k.down, keyState_) : 0;
        // The host's own bindings have no modifier: Shift or Ctrl held, they do not fire.
        if (consumed || !k.down || k.shift || k.ctrl) continue;
        if (!HostBufferedKey(v, k.scanCode) && sessionKeys_) sessionKeys_(k.scanCode);
    }
    passing_.clear();
}

bool Keyboard::HostBufferedKey(Vessel &v, int scanCode) const {
    for (const HostNavKey &k : kHostNavKeys)
        if (k.code == scanCode) {
            ToggleNavmode(v, k.mode);
            return true;
        }
    return false;
}

// Held keys of the host: main and retro on keypad + and -, the permanent
// main level with Ctrl, keypad * to cut, and the keypad attitude keys.
// Overrides set here act in the next step.
void Keyboard::HostDirectKeys(Vessel &v, double dt) const {
    const bool ctrl = CtrlDown(keyState_), shift = ShiftDown(keyState_);
    if (shift) return;
    if (IsDown(keyState_, OAPI_KEY_ADD)) {
        if (ctrl) {
            StepMainRetro(v, kMainLevelRatePerSecond * dt);
        } else {
            AddOverride(v, THGROUP_MAIN, 1.0);
            AddOverride(v, THGROUP_RETRO, -1.0);
        }
    }
    if (IsDown(keyState_, OAPI_KEY_SUBTRACT)) {
        if (ctrl) {
            StepMainRetro(v, -kMainLevelRatePerSecond * dt);
        } else {
            AddOverride(v, THGROUP_RETRO, 1.0);
            AddOverride(v, THGROUP_MAIN, -1.0);
        }
    }
    if (IsDown(keyState_, OAPI_KEY_MULTIPLY) && !ctrl) {
        SetGroupLevel(v, THGROUP_MAIN, 0.0);
        SetGroupLevel(v, THGROUP_RETRO, 0.0);
    }
    for (const HostAttitudeKey &k : kHostAttitudeKeys)
        if (IsDown(keyState_, k.code)) AddOverride(v, k.group, ctrl ? kFineAttitudeKeyOverride : kAttitudeKeyOverride);
}

ScriptedKeys::ScriptedKeys(const std::vector<KeyEvent> &events, double dt) : events_(events) {
    for (const KeyEvent &e : events) {
        transitions_.push_back({e.start, {e.scanCode, true, e.shift, e.ctrl}});
        transitions_.push_back({e.hold ? e.end : e.start + dt, {e.scanCode, false, e.shift, e.ctrl}});
    }
    std::stable_sort(transitions_.begin(), transitions_.end(),
                     [](const Timed &a, const Timed &b) { return a.time < b.time; });
}

void ScriptedKeys::Feed(double time, Keyboard &keyboard) {
    const double t = time + kKeyTimeTolerance;
    fedUntil_ = t;
    while (next_ < transitions_.size() && transitions_[next_].time <= t) keyboard.Push(transitions_[next_++].key);
}

std::vector<KeyEvent> ScriptedKeys::NotPressed() const {
    std::vector<KeyEvent> out;
    for (const KeyEvent &e : events_)
        if (e.start > fedUntil_) out.push_back(e);
    return out;
}

}  // namespace vtal::sim

// The host's keyboard: the key events that arrived since the last frame,
// the state of every key, and the host's own key bindings. Once a frame the
// focus vessel's module gets the direct-key callback with the state of all
// keys, then every buffered key-down and key-up; what the module does not
// consume, the host handles itself.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "sim/files/KeyScript.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

constexpr int kScanCodes = 256;
// Events queued between two passes at most (a paused live session queues
// what its page sends); beyond it they are dropped.
constexpr std::size_t kMaxPendingKeys = 1024;

// One key-down or key-up, with the modifiers held with it.
struct KeyTransition {
    int scanCode = 0;
    bool down = false;
    bool shift = false;
    bool ctrl = false;
};

class Keyboard {
public:
    // Queues an event for the next keyboard pass; false (and nothing
    // queued) for a scan code outside 0..255 or a full queue.
    bool Push(const KeyTransition &k);
    // The host's session keys (such as its time acceleration): offered each
    // key-down without modifiers that neither the module nor the host's own
    // bindings have taken.
    void SetSessionKeys(std::function<void(int scanCode)> keys) { sessionKeys_ = std::move(keys); }
    // Releases every key this keyboard holds, as key-ups in the next pass.
    void ReleaseAll();
    // The keyboard pass of a frame for the focus vessel; dt (s) paces the
    // host's held-key actions.
    void Process(Vessel &focus, double dt);
    // Whether a key is down after the last pass.
    bool Held(int scanCode) const;
    std::size_t Pending() const { return pending_.size(); }

private:
    void UpdateKeyState();
    bool HostBufferedKey(Vessel &v, int scanCode) const;
    void HostDirectKeys(Vessel &v, double dt) const;

    std::vector<KeyTransition> pending_;  // since the last pass, in order
    std::vector<KeyTransition> passing_;  // the events of the pass being made
    std::function<void(int)> sessionKeys_;
    int heldCount_[kScanCodes] = {};
    char keyState_[kScanCodes] = {};
};

// A key script as timed key-downs and key-ups: a press is down for one
// frame, a hold from its start to its end.
class ScriptedKeys {
public:
    ScriptedKeys(const std::vector<KeyEvent> &events, double dt);
    bool Empty() const { return transitions_.empty(); }
    // Queues every event due by `time` (s).
    void Feed(double time, Keyboard &keyboard);
    // The events whose key never went down: due after the last Feed.
    std::vector<KeyEvent> NotPressed() const;
    // Whether every key of the script has gone down and come up again.
    bool Finished() const { return next_ >= transitions_.size(); }

private:
    struct Timed {
        double time;
        KeyTransition key;
    };
    std::vector<KeyEvent> events_;
    std::vector<Timed> transitions_;
    std::size_t next_ = 0;
    double fedUntil_ = -1.0;  // s; negative: never fed
};

}  // namespace vtal::sim

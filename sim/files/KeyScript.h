// Scripted keyboard input: comma-separated "T:KEY" presses (down at T, up a
// frame later) and "T1-T2:KEY" holds (down at T1, up at T2; times in s of
// simulation time), "shift+KEY" and "ctrl+KEY" with a modifier held. KEY is
// a letter, one of [ ] ; ' or num0..num9, num+, num-, num*.
#pragma once

#include <string>
#include <vector>

namespace vtal::sim {

struct KeyEvent {
    double start = 0.0;  // s
    double end = 0.0;    // s; equal to start for a press
    int scanCode = 0;
    bool shift = false;
    bool ctrl = false;
    bool hold = false;
    std::string item;    // the script's item, as written ("75:K"), for messages
};

// Scan code of a key name, or -1.
int ScanCodeOf(const std::string &name);
// Parses a script; throws InputError naming the bad item.
std::vector<KeyEvent> ParseKeyScript(const std::string &script);

}  // namespace vtal::sim

// The browser's names of keys (KeyboardEvent.code, which names a key by its
// place on the keyboard whatever the layout) as the host's DirectInput scan
// codes, the OAPI_KEY_... of the host's headers.
#pragma once

#include <string_view>
#include <vector>

namespace vtal::sim::live {

struct KeyboardCodeMapping {
    std::string_view code;  // e.g. "KeyM", "Numpad8", "BracketLeft"
    int scanCode;           // e.g. OAPI_KEY_M
};

// The scan code of a browser key code, or -1 for a code not in the table
// (case matters, as in the browser: "KeyM", never "keym").
int ScanCodeOfKeyboardCode(std::string_view code);

// Every key the table knows: the main keyboard, F1..F12, the arrow and
// editing block, the numeric keypad.
const std::vector<KeyboardCodeMapping> &KeyboardCodeTable();

}  // namespace vtal::sim::live

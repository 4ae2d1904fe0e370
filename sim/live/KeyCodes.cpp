#include "sim/live/KeyCodes.h"

#include <algorithm>

#include "host/OrbiterAPI.h"

namespace vtal::sim::live {
namespace {

// The keys are the host's DirectInput scan codes (OAPI_KEY_..., as dinput.h's
// DIK_...); the extended keys (right Ctrl and Alt, the arrow and editing
// block, keypad Enter and /) carry 0x80 over their base key's code.

std::vector<KeyboardCodeMapping> BuildTable() {
    std::vector<KeyboardCodeMapping> table = {
        {"KeyA", OAPI_KEY_A},
        {"KeyB", OAPI_KEY_B},
        {"KeyC", OAPI_KEY_C},
        {"KeyD", OAPI_KEY_D},
        {"KeyE", OAPI_KEY_E},
        {"KeyF", OAPI_KEY_F},
        {"KeyG", OAPI_KEY_G},
        {"KeyH", OAPI_KEY_H},
        {"KeyI", OAPI_KEY_I},
        {"KeyJ", OAPI_KEY_J},
        {"KeyK", OAPI_KEY_K},
        {"KeyL", OAPI_KEY_L},
        {"KeyM", OAPI_KEY_M},
        {"KeyN", OAPI_KEY_N},
        {"KeyO", OAPI_KEY_O},
        {"KeyP", OAPI_KEY_P},
        {"KeyQ", OAPI_KEY_Q},
        {"KeyR", OAPI_KEY_R},
        {"KeyS", OAPI_KEY_S},
        {"KeyT", OAPI_KEY_T},
        {"KeyU", OAPI_KEY_U},
        {"KeyV", OAPI_KEY_V},
        {"KeyW", OAPI_KEY_W},
        {"KeyX", OAPI_KEY_X},
        {"KeyY", OAPI_KEY_Y},
        {"KeyZ", OAPI_KEY_Z},
        {"Digit0", OAPI_KEY_0},
        {"Minus", OAPI_KEY_MINUS},
        {"Equal", OAPI_KEY_EQUALS},
        {"BracketLeft", OAPI_KEY_LBRACKET},
        {"BracketRight", OAPI_KEY_RBRACKET},
        {"Semicolon", OAPI_KEY_SEMICOLON},
        {"Quote", OAPI_KEY_APOSTROPHE},
        {"Backquote", OAPI_KEY_GRAVE},
        {"Backslash", OAPI_KEY_BACKSLASH},
        {"Comma", OAPI_KEY_COMMA},
        {"Period", OAPI_KEY_PERIOD},
        {"Slash", OAPI_KEY_SLASH},
        {"Space", OAPI_KEY_SPACE},
        {"Enter", OAPI_KEY_RETURN},
        {"Tab", OAPI_KEY_TAB},
        {"Backspace", OAPI_KEY_BACK},
        {"Escape", OAPI_KEY_ESCAPE},
        {"ShiftLeft", OAPI_KEY_LSHIFT},
        {"ShiftRight", OAPI_KEY_RSHIFT},
        {"ControlLeft", OAPI_KEY_LCONTROL},
        {"ControlRight", OAPI_KEY_RCONTROL},
        {"AltLeft", OAPI_KEY_LALT},
        {"AltRight", OAPI_KEY_RALT},
        {"F11", OAPI_KEY_F11},
        {"F12", OAPI_KEY_F12},
        {"ArrowUp", OAPI_KEY_UP},
        {"ArrowDown", OAPI_KEY_DOWN},
        {"ArrowLeft", OAPI_KEY_LEFT},
        {"ArrowRight", OAPI_KEY_RIGHT},
        {"Home", OAPI_KEY_HOME},
        {"End", OAPI_KEY_END},
        {"PageUp", OAPI_KEY_PRIOR},
        {"PageDown", OAPI_KEY_NEXT},
        {"Insert", OAPI_KEY_INSERT},
        {"Delete", OAPI_KEY_DELETE},
        {"Numpad0", OAPI_KEY_NUMPAD0},
        {"Numpad1", OAPI_KEY_NUMPAD1},
        {"Numpad2", OAPI_KEY_NUMPAD2},
        {"Numpad3", OAPI_KEY_NUMPAD3},
        {"Numpad4", OAPI_KEY_NUMPAD4},
        {"Numpad5", OAPI_KEY_NUMPAD5},
        {"Numpad6", OAPI_KEY_NUMPAD6},
        {"Numpad7", OAPI_KEY_NUMPAD7},
        {"Numpad8", OAPI_KEY_NUMPAD8},
        {"Numpad9", OAPI_KEY_NUMPAD9},
        {"NumpadAdd", OAPI_KEY_ADD},
        {"NumpadSubtract", OAPI_KEY_SUBTRACT},
        {"NumpadMultiply", OAPI_KEY_MULTIPLY},
        {"NumpadDivide", OAPI_KEY_DIVIDE},
        {"NumpadDecimal", OAPI_KEY_DECIMAL},
        {"NumpadEnter", OAPI_KEY_NUMPADENTER},
    };
    // The runs of consecutive codes: Digit1..Digit9 and F1..F10.
    static const std::string_view kDigits[] = {"Digit1", "Digit2", "Digit3", "Digit4", "Digit5",
                                               "Digit6", "Digit7", "Digit8", "Digit9"};
    for (int i = 0; i < 9; ++i) table.push_back({kDigits[i], OAPI_KEY_1 + i});
    static const std::string_view kFunctionKeys[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10"};
    for (int i = 0; i < 10; ++i) table.push_back({kFunctionKeys[i], OAPI_KEY_F1 + i});
    return table;
}

}  // namespace

const std::vector<KeyboardCodeMapping> &KeyboardCodeTable() {
    static const std::vector<KeyboardCodeMapping> table = BuildTable();
    return table;
}

int ScanCodeOfKeyboardCode(std::string_view code) {
    const std::vector<KeyboardCodeMapping> &table = KeyboardCodeTable();
    const auto found = std::find_if(table.begin(), table.end(),
                                    [code](const KeyboardCodeMapping &m) { return m.code == code; });
    return found == table.end() ? -1 : found->scanCode;
}

}  // namespace vtal::sim::live

#include "sim/live/KeyCodes.h"

#include <algorithm>

#include "host/OrbiterAPI.h"

namespace vtal::sim::live {
namespace {

// DirectInput scan codes of keys the host's headers name no constant for
// (DIK_... of dinput.h). The extended keys (right Ctrl and Alt, the arrow and
// editing block, keypad Enter and /) carry 0x80 over their base key's code.
constexpr int kScanDigit1 = 0x02;  // Digit1..Digit9 follow in order, then Digit0
constexpr int kScanDigit0 = 0x0B;
constexpr int kScanMinus = 0x0C;
constexpr int kScanEquals = 0x0D;
constexpr int kScanBackspace = 0x0E;
constexpr int kScanTab = 0x0F;
constexpr int kScanQ = 0x10;
constexpr int kScanW = 0x11;
constexpr int kScanE = 0x12;
constexpr int kScanR = 0x13;
constexpr int kScanT = 0x14;
constexpr int kScanY = 0x15;
constexpr int kScanU = 0x16;
constexpr int kScanI = 0x17;
constexpr int kScanO = 0x18;
constexpr int kScanP = 0x19;
constexpr int kScanF1 = 0x3B;  // F1..F10 follow in order
constexpr int kScanF11 = 0x57;
constexpr int kScanF12 = 0x58;
constexpr int kScanNumpadEnter = 0x9C;
constexpr int kScanRightControl = 0x9D;
constexpr int kScanNumpadDivide = 0xB5;
constexpr int kScanRightAlt = 0xB8;
constexpr int kScanHome = 0xC7;
constexpr int kScanArrowUp = 0xC8;
constexpr int kScanPageUp = 0xC9;
constexpr int kScanArrowLeft = 0xCB;
constexpr int kScanArrowRight = 0xCD;
constexpr int kScanEnd = 0xCF;
constexpr int kScanArrowDown = 0xD0;
constexpr int kScanPageDown = 0xD1;
constexpr int kScanInsert = 0xD2;
constexpr int kScanDelete = 0xD3;

std::vector<KeyboardCodeMapping> BuildTable() {
    std::vector<KeyboardCodeMapping> table = {
        {"KeyA", OAPI_KEY_A},
        {"KeyB", OAPI_KEY_B},
        {"KeyC", OAPI_KEY_C},
        {"KeyD", OAPI_KEY_D},
        {"KeyE", kScanE},
        {"KeyF", OAPI_KEY_F},
        {"KeyG", OAPI_KEY_G},
        {"KeyH", OAPI_KEY_H},
        {"KeyI", kScanI},
        {"KeyJ", OAPI_KEY_J},
        {"KeyK", OAPI_KEY_K},
        {"KeyL", OAPI_KEY_L},
        {"KeyM", OAPI_KEY_M},
        {"KeyN", OAPI_KEY_N},
        {"KeyO", kScanO},
        {"KeyP", kScanP},
        {"KeyQ", kScanQ},
        {"KeyR", kScanR},
        {"KeyS", OAPI_KEY_S},
        {"KeyT", kScanT},
        {"KeyU", kScanU},
        {"KeyV", OAPI_KEY_V},
        {"KeyW", kScanW},
        {"KeyX", OAPI_KEY_X},
        {"KeyY", kScanY},
        {"KeyZ", OAPI_KEY_Z},
        {"Digit0", kScanDigit0},
        {"Minus", kScanMinus},
        {"Equal", kScanEquals},
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
        {"Tab", kScanTab},
        {"Backspace", kScanBackspace},
        {"Escape", OAPI_KEY_ESCAPE},
        {"ShiftLeft", OAPI_KEY_LSHIFT},
        {"ShiftRight", OAPI_KEY_RSHIFT},
        {"ControlLeft", OAPI_KEY_LCONTROL},
        {"ControlRight", kScanRightControl},
        {"AltLeft", OAPI_KEY_LALT},
        {"AltRight", kScanRightAlt},
        {"F11", kScanF11},
        {"F12", kScanF12},
        {"ArrowUp", kScanArrowUp},
        {"ArrowDown", kScanArrowDown},
        {"ArrowLeft", kScanArrowLeft},
        {"ArrowRight", kScanArrowRight},
        {"Home", kScanHome},
        {"End", kScanEnd},
        {"PageUp", kScanPageUp},
        {"PageDown", kScanPageDown},
        {"Insert", kScanInsert},
        {"Delete", kScanDelete},
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
        {"NumpadDivide", kScanNumpadDivide},
        {"NumpadDecimal", OAPI_KEY_DECIMAL},
        {"NumpadEnter", kScanNumpadEnter},
    };
    // The runs of consecutive codes: Digit1..Digit9 and F1..F10.
    static const std::string_view kDigits[] = {"Digit1", "Digit2", "Digit3", "Digit4", "Digit5",
                                               "Digit6", "Digit7", "Digit8", "Digit9"};
    for (int i = 0; i < 9; ++i) table.push_back({kDigits[i], kScanDigit1 + i});
    static const std::string_view kFunctionKeys[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10"};
    for (int i = 0; i < 10; ++i) table.push_back({kFunctionKeys[i], kScanF1 + i});
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

// The browser's key codes as the host's scan codes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/OrbiterAPI.h"
#include "sim/live/KeyCodes.h"

namespace vtal::sim::live {
namespace {

struct Expected {
    const char *code;
    int scanCode;
};

// Every key the lander's module and the host's keyboard act on.
const Expected kKeysInUse[] = {
    {"KeyM", OAPI_KEY_M},
    {"KeyK", OAPI_KEY_K},
    {"KeyG", OAPI_KEY_G},
    {"KeyC", OAPI_KEY_C},
    {"KeyD", OAPI_KEY_D},
    {"KeyL", OAPI_KEY_L},
    {"KeyV", OAPI_KEY_V},
    {"KeyB", OAPI_KEY_B},
    {"KeyN", OAPI_KEY_N},
    {"KeyT", OAPI_KEY_T},
    {"KeyR", OAPI_KEY_R},
    {"KeyA", OAPI_KEY_A},
    {"KeyP", OAPI_KEY_P},
    {"KeyS", OAPI_KEY_S},
    {"F3", OAPI_KEY_F3},
    {"BracketLeft", OAPI_KEY_LBRACKET},
    {"BracketRight", OAPI_KEY_RBRACKET},
    {"Semicolon", OAPI_KEY_SEMICOLON},
    {"Quote", OAPI_KEY_APOSTROPHE},
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
    {"ShiftLeft", OAPI_KEY_LSHIFT},
    {"ControlLeft", OAPI_KEY_LCONTROL},
};

// The keys whose scan codes are easiest to get wrong, as DirectInput's own
// values (dinput.h's DIK_...): the extended keys (0x80 over their base key)
// and the ends of the runs with gaps.
const Expected kEasilyConfused[] = {
    {"Digit1", 0x02},      {"Digit0", 0x0B},   {"F10", 0x44},           {"F11", 0x57},
    {"NumpadEnter", 0x9C}, {"Enter", 0x1C},    {"ControlRight", 0x9D},  {"AltRight", 0xB8},
    {"NumpadDivide", 0xB5}, {"Slash", 0x35},   {"ArrowUp", 0xC8},       {"Delete", 0xD3},
};

TEST(KeyCodes, KeysTheLanderAndTheHostUseMapToTheirScanCodes) {
    for (const Expected &k : kKeysInUse) EXPECT_EQ(ScanCodeOfKeyboardCode(k.code), k.scanCode) << k.code;
}

TEST(KeyCodes, ExtendedAndRunEndKeysMapToTheirScanCodes) {
    for (const Expected &k : kEasilyConfused) EXPECT_EQ(ScanCodeOfKeyboardCode(k.code), k.scanCode) << k.code;
}

TEST(KeyCodes, TheTableCoversTheWholeMainKeyboardAndKeypadWithDistinctCodes) {
    std::set<std::string> expected;
    for (char c = 'A'; c <= 'Z'; ++c) expected.insert(std::string("Key") + c);
    for (char c = '0'; c <= '9'; ++c) expected.insert(std::string("Digit") + c);
    for (char c = '0'; c <= '9'; ++c) expected.insert(std::string("Numpad") + c);
    for (int f = 1; f <= 12; ++f) expected.insert("F" + std::to_string(f));
    for (const char *name :
         {"Minus", "Equal", "BracketLeft", "BracketRight", "Semicolon", "Quote", "Backquote", "Backslash", "Comma",
          "Period", "Slash", "Space", "Enter", "Tab", "Backspace", "Escape", "ShiftLeft", "ShiftRight", "ControlLeft",
          "ControlRight", "AltLeft", "AltRight", "ArrowUp", "ArrowDown", "ArrowLeft", "ArrowRight", "Home", "End",
          "PageUp", "PageDown", "Insert", "Delete", "NumpadAdd", "NumpadSubtract", "NumpadMultiply", "NumpadDivide",
          "NumpadDecimal", "NumpadEnter"})
        expected.insert(name);

    std::set<std::string> names;
    std::set<int> scanCodes;
    for (const KeyboardCodeMapping &m : KeyboardCodeTable()) {
        EXPECT_TRUE(names.insert(std::string(m.code)).second) << "twice in the table: " << m.code;
        EXPECT_TRUE(scanCodes.insert(m.scanCode).second) << m.code << " shares scan code " << m.scanCode;
        // The host's key-state array has 256 entries.
        EXPECT_GT(m.scanCode, 0) << m.code;
        EXPECT_LT(m.scanCode, 256) << m.code;
        EXPECT_EQ(ScanCodeOfKeyboardCode(m.code), m.scanCode) << m.code;
    }
    EXPECT_EQ(names, expected);
}

TEST(KeyCodes, UnknownAndHostileCodesAreNotKeys) {
    const std::string longCode(100000, 'K');
    for (const std::string &code :
         {std::string(), std::string("KeyAA"), std::string("keym"), std::string("KEYM"), std::string("Key"),
          std::string("KeyM "), std::string(" KeyM"), std::string("KeyM\0", 5), std::string("F13"), std::string("F0"),
          std::string("Digit10"), std::string("Numpad10"), std::string("IntlBackslash"), std::string("MetaLeft"),
          std::string("Key\xC3\x9C"), std::string("\xFF\xFE"), longCode, longCode + "KeyM"})
        EXPECT_EQ(ScanCodeOfKeyboardCode(code), -1) << code.substr(0, 40);
}

}  // namespace
}  // namespace vtal::sim::live

// Keyboard commands of the lander. Key presses switch the manual override,
// deploy the solar panels and the instrument deck on the ground, switch the
// camera spin and the lidar, and pass the navigation-mode keys to the host
// only while the lander is flown by hand. Keys held down drive the arm joints
// and, while the automatic descent flies, keep the keypad attitude keys from
// reaching the host. Keys are DirectInput scan codes.
#include <cstddef>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

const DWORD kKeyManualOverride = OAPI_KEY_M;
const DWORD kKeySolarPanels = OAPI_KEY_K;
const DWORD kKeyDeck = OAPI_KEY_G;
const DWORD kKeyCamera = OAPI_KEY_C;
const DWORD kKeyLidar = OAPI_KEY_D;

// Navigation-mode keys and the mode each one toggles.
struct NavmodeKey {
    DWORD key;
    int mode;
};
const NavmodeKey kNavmodeKeys[] = {
    {OAPI_KEY_NUMPAD5, NAVMODE_KILLROT},     {OAPI_KEY_L, NAVMODE_HLEVEL},
    {OAPI_KEY_LBRACKET, NAVMODE_PROGRADE},   {OAPI_KEY_RBRACKET, NAVMODE_RETROGRADE},
    {OAPI_KEY_SEMICOLON, NAVMODE_NORMAL},    {OAPI_KEY_APOSTROPHE, NAVMODE_ANTINORMAL},
};

// Keypad attitude keys the automatic descent keeps from the host, in the
// order they are cleared.
const int kHeldBackKeypadKeys[] = {
    OAPI_KEY_NUMPAD4, OAPI_KEY_NUMPAD6, OAPI_KEY_NUMPAD2, OAPI_KEY_NUMPAD8, OAPI_KEY_NUMPAD1,
    OAPI_KEY_NUMPAD3, OAPI_KEY_ADD,     OAPI_KEY_SUBTRACT, OAPI_KEY_MULTIPLY,
};

const int kKeyArmRotate = OAPI_KEY_V;
const int kKeyArmSlide = OAPI_KEY_B;
const int kKeyArmElbow = OAPI_KEY_N;

bool KeyHeld(const char *kstate, int key) { return kstate != nullptr && KEYDOWN(kstate, key); }

bool ShiftHeld(const char *kstate) { return kstate != nullptr && KEYMOD_SHIFT(kstate); }

// On/off switches swap 0 and 1; any other value (e.g. from a scenario) stays.
void FlipSwitch(int &value) {
    if (value == 0)
        value = 1;
    else if (value == 1)
        value = 0;
}

const NavmodeKey *FindNavmodeKey(DWORD key) {
    for (const NavmodeKey &k : kNavmodeKeys)
        if (k.key == key) return &k;
    return nullptr;
}

}  // namespace

int Lander::clbkConsumeBufferedKey(DWORD key, bool down, char *kstate) {
    if (!down || ShiftHeld(kstate)) return 0;
    vtal::ModuleState &shared = vtal::moduleState;

    switch (key) {
        case kKeyManualOverride:
            FlipSwitch(shared.manualOverride);
            return 1;
        case kKeySolarPanels:
            // Only a stowed panel pair on the ground deploys; nothing retracts it.
            if (solarStatus == MECH_RETRACTED && GroundContact()) ToggleSolarPanels();
            return 1;
        case kKeyDeck:
            if (deckStatus == MECH_RETRACTED && GroundContact()) ToggleDeck();
            return 1;
        case kKeyCamera:
            if (deckStatus == MECH_DEPLOYED) FlipSwitch(shared.cameraSpin);
            return 1;
        case kKeyLidar:
            if (deckStatus == MECH_DEPLOYED) FlipSwitch(shared.lidarOn);
            return 1;
        default:
            break;
    }

    const NavmodeKey *nav = FindNavmodeKey(key);
    if (nav == nullptr) return 0;
    // Consumed either way: the host never toggles these modes itself, and
    // while the automatic descent flies they cannot be toggled at all.
    if (shared.manualOverride != 0)
        ToggleNavmode(nav->mode);
    else if (kstate != nullptr)
        RESETKEY(kstate, nav->key);
    return 1;
}

int Lander::clbkConsumeDirectKey(char *kstate) {
    vtal::ModuleState &shared = vtal::moduleState;
    // The command holds for one step; the animator consumes it, so a joint
    // moves only while its key is held.
    const bool shift = ShiftHeld(kstate);
    const int command = shift ? ARM_DECREASE : ARM_INCREASE;
    if (KeyHeld(kstate, kKeyArmRotate)) shared.armRotCmd = command;
    if (KeyHeld(kstate, kKeyArmSlide)) shared.armSlideCmd = command;
    if (KeyHeld(kstate, kKeyArmElbow)) shared.armElbowCmd = command;

    // Keypad attitude keys pass with Shift held, or when flown by hand.
    if (shift || shared.manualOverride != 0) return 0;
    for (int key : kHeldBackKeypadKeys)
        if (KeyHeld(kstate, key)) RESETKEY(kstate, key);
    return 0;
}

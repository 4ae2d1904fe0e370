// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <array>
#include <memory>
#include <string>

#include "support/LanderFixture.h"

namespace vtal::testing {
namespace {

using KeyState = std::array<char, 256>;
const char kHeld = static_cast<char>(0x80);

class KeyboardTest : public LanderTest {
protected:
    KeyboardTest() : lander(MakeLander()) { keys.fill(0); }

    int Press(DWORD key, bool down = true) { return lander->clbkConsumeBufferedKey(key, down, keys.data()); }
    void SetGround(bool contact) { rec.vessel(lander->GetHandle()).groundContact = contact; }

    std::unique_ptr<Lander> lander;
    KeyState keys;
};

// What the command keys read and change.
struct Situation {
    bool ground;
    int solar, deck, manualOverride, cameraSpin, lidarOn;
    bool operator==(const Situation &o) const {
        return solar == o.solar && deck == o.deck && manualOverride == o.manualOverride &&
               cameraSpin == o.cameraSpin && lidarOn == o.lidarOn;
    }
};
std::ostream &operator<<(std::ostream &os, const Situation &s) {
    return os << "solar " << s.solar << " deck " << s.deck << " override " << s.manualOverride << " camera "
              << s.cameraSpin << " lidar " << s.lidarOn;
}

// Every switch and deploy key, with its condition held and not held. Each
// press is consumed whether or not anything changed.
TEST_F(KeyboardTest, CommandKeysActOnlyWhenTheirConditionHolds) {
    struct Case {
        DWORD key;
        Situation before, after;
    };
    const Case cases[] = {
        {OAPI_KEY_M, {false, 0, 0, 0, 0, 0}, {false, 0, 0, 1, 0, 0}},
        {OAPI_KEY_M, {false, 0, 0, 1, 0, 0}, {false, 0, 0, 0, 0, 0}},
        {OAPI_KEY_M, {false, 0, 0, 2, 0, 0}, {false, 0, 0, 2, 0, 0}},
        {OAPI_KEY_K, {true, 0, 0, 0, 0, 0}, {true, 3, 0, 0, 0, 0}},
        {OAPI_KEY_K, {false, 0, 0, 0, 0, 0}, {false, 0, 0, 0, 0, 0}},
        {OAPI_KEY_K, {true, 1, 0, 0, 0, 0}, {true, 1, 0, 0, 0, 0}},
        {OAPI_KEY_K, {true, 2, 0, 0, 0, 0}, {true, 2, 0, 0, 0, 0}},
        {OAPI_KEY_G, {true, 0, 0, 0, 0, 0}, {true, 0, 3, 0, 0, 0}},
        {OAPI_KEY_G, {false, 0, 0, 0, 0, 0}, {false, 0, 0, 0, 0, 0}},
        {OAPI_KEY_G, {true, 0, 3, 0, 0, 0}, {true, 0, 3, 0, 0, 0}},
        {OAPI_KEY_C, {false, 0, 1, 0, 0, 0}, {false, 0, 1, 0, 1, 0}},
        {OAPI_KEY_C, {false, 0, 1, 0, 1, 0}, {false, 0, 1, 0, 0, 0}},
        {OAPI_KEY_C, {false, 0, 3, 0, 0, 0}, {false, 0, 3, 0, 0, 0}},
        {OAPI_KEY_C, {false, 0, 1, 0, 2, 0}, {false, 0, 1, 0, 2, 0}},
        {OAPI_KEY_D, {false, 0, 1, 0, 0, 0}, {false, 0, 1, 0, 0, 1}},
        {OAPI_KEY_D, {false, 0, 1, 0, 0, 1}, {false, 0, 1, 0, 0, 0}},
        {OAPI_KEY_D, {false, 0, 3, 0, 0, 0}, {false, 0, 3, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << c.key << ": " << c.before);
        SetGround(c.before.ground);
        lander->solarStatus = c.before.solar;
        lander->deckStatus = c.before.deck;
        moduleState.manualOverride = c.before.manualOverride;
        moduleState.cameraSpin = c.before.cameraSpin;
        moduleState.lidarOn = c.before.lidarOn;
        EXPECT_EQ(Press(c.key), 1);
        EXPECT_EQ((Situation{c.before.ground, lander->solarStatus, lander->deckStatus, moduleState.manualOverride,
                             moduleState.cameraSpin, moduleState.lidarOn}),
                  c.after);
    }
    EXPECT_EQ(rec.count("ToggleNavmode"), 0u);
}

TEST_F(KeyboardTest, ReleaseShiftAndUnknownKeysAreLeftToTheHost) {
    SetGround(true);
    EXPECT_EQ(Press(OAPI_KEY_M, false), 0);
    EXPECT_EQ(Press(OAPI_KEY_K, false), 0);
    for (int shift : {OAPI_KEY_LSHIFT, OAPI_KEY_RSHIFT}) {
        keys.fill(0);
        keys[shift] = kHeld;
        EXPECT_EQ(Press(OAPI_KEY_M), 0);
        EXPECT_EQ(Press(OAPI_KEY_K), 0);
    }
    keys.fill(0);
    keys[OAPI_KEY_LSHIFT] = 0x01;  // a byte without the held bit is not shift
    EXPECT_EQ(Press(OAPI_KEY_A), 0);
    EXPECT_EQ(Press(OAPI_KEY_NUMPAD8), 0);
    EXPECT_EQ(moduleState.manualOverride, 0);
    EXPECT_EQ(lander->solarStatus, MECH_RETRACTED);
    EXPECT_EQ(Press(OAPI_KEY_M), 1);
    EXPECT_EQ(moduleState.manualOverride, 1);
}

TEST_F(KeyboardTest, NavmodeKeysToggleOnlyUnderManualOverrideAndAreAlwaysConsumed) {
    const std::pair<DWORD, int> navKeys[] = {
        {OAPI_KEY_NUMPAD5, 1}, {OAPI_KEY_L, 2}, {OAPI_KEY_LBRACKET, 3},
        {OAPI_KEY_RBRACKET, 4}, {OAPI_KEY_SEMICOLON, 5}, {OAPI_KEY_APOSTROPHE, 6},
    };
    for (const auto &[key, mode] : navKeys) {
        SCOPED_TRACE(key);
        moduleState.manualOverride = 0;
        keys[key] = kHeld;
        rec.clear();
        EXPECT_EQ(Press(key), 1);
        EXPECT_EQ(keys[key], 0);
        EXPECT_EQ(rec.count("ToggleNavmode"), 0u);

        moduleState.manualOverride = 2;
        keys[key] = kHeld;
        EXPECT_EQ(Press(key), 1);
        EXPECT_EQ(keys[key], kHeld);
        const auto toggles = rec.callsNamed("ToggleNavmode");
        ASSERT_EQ(toggles.size(), 1u);
        EXPECT_EQ(toggles[0].integer(0), mode);
    }
}

TEST_F(KeyboardTest, HeldArmKeysSetTheirCommandEveryFrameAndShiftReverses) {
    struct Case {
        int key;
        int ModuleState::*command;
    };
    const Case arm[] = {{OAPI_KEY_V, &ModuleState::armRotCmd},
                        {OAPI_KEY_B, &ModuleState::armSlideCmd},
                        {OAPI_KEY_N, &ModuleState::armElbowCmd}};
    for (const Case &c : arm)
        for (int shift : {0, OAPI_KEY_LSHIFT, OAPI_KEY_RSHIFT}) {
            SCOPED_TRACE(::testing::Message() << c.key << " shift " << shift);
            keys.fill(0);
            keys[c.key] = kHeld;
            if (shift) keys[shift] = kHeld;
            for (int frame = 0; frame < 3; ++frame) {
                moduleState.*c.command = ARM_NONE;
                EXPECT_EQ(lander->clbkConsumeDirectKey(keys.data()), 0);
                EXPECT_EQ(moduleState.*c.command, shift ? ARM_DECREASE : ARM_INCREASE);
                EXPECT_EQ(keys[c.key], kHeld);
            }
            for (const Case &other : arm)
                if (other.key != c.key) {
                    EXPECT_EQ(moduleState.*other.command, ARM_NONE);
                }
            moduleState.*c.command = ARM_NONE;
        }
}

TEST_F(KeyboardTest, HeldArmKeyMovesTheJointUntilReleased) {
    keys[OAPI_KEY_V] = kHeld;
    for (int frame = 0; frame < 3; ++frame) {
        lander->clbkConsumeDirectKey(keys.data());
        lander->clbkPostStep(0.0, 1.0, 0.0);
    }
    EXPECT_NEAR(lander->armRotPos, 1.0, 1e-12);
    keys[OAPI_KEY_V] = 0;
    keys[OAPI_KEY_N] = kHeld;
    keys[OAPI_KEY_LSHIFT] = kHeld;
    lander->armElbowPos = 0.5;
    lander->clbkConsumeDirectKey(keys.data());
    lander->clbkPostStep(0.0, 1.0, 0.0);
    EXPECT_NEAR(lander->armElbowPos, 0.4, 1e-12);
    EXPECT_NEAR(lander->armRotPos, 1.0, 1e-12);
}

TEST_F(KeyboardTest, KeypadAttitudeKeysAreHeldBackOnlyWhileTheDescentFlies) {
    const int keypad[] = {OAPI_KEY_NUMPAD4, OAPI_KEY_NUMPAD6, OAPI_KEY_NUMPAD2, OAPI_KEY_NUMPAD8, OAPI_KEY_NUMPAD1,
                          OAPI_KEY_NUMPAD3, OAPI_KEY_ADD,     OAPI_KEY_SUBTRACT, OAPI_KEY_MULTIPLY};
    const int passed[] = {OAPI_KEY_NUMPAD5, OAPI_KEY_NUMPAD7, OAPI_KEY_NUMPAD9, OAPI_KEY_V, OAPI_KEY_L};
    auto holdAll = [&] {
        keys.fill(0);
        for (int k : keypad) keys[k] = kHeld;
        for (int k : passed) keys[k] = kHeld;
        keys[OAPI_KEY_NUMPAD0] = 0x01;  // pressed earlier, not held now: left as it is
    };
    struct Case {
        int manualOverride;
        int shift;
        bool cleared;
    };
    for (const Case &c : {Case{0, 0, true}, Case{1, 0, false}, Case{0, OAPI_KEY_RSHIFT, false}}) {
        SCOPED_TRACE(::testing::Message() << "override " << c.manualOverride << " shift " << c.shift);
        moduleState.manualOverride = c.manualOverride;
        holdAll();
        if (c.shift) keys[c.shift] = kHeld;
        EXPECT_EQ(lander->clbkConsumeDirectKey(keys.data()), 0);
        for (int k : keypad) EXPECT_EQ(keys[k], c.cleared ? 0 : kHeld) << k;
        for (int k : passed) EXPECT_EQ(keys[k], kHeld) << k;
        EXPECT_EQ(keys[OAPI_KEY_NUMPAD0], 0x01);
    }
}

}  // namespace
}  // namespace vtal::testing

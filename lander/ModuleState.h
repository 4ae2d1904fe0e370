// Everything that exists once per loaded module rather than once per lander.
// All of it starts at zero when the module is loaded and is never reset:
// every lander in the simulation reads and writes the same copy, so a key
// pressed on one lander reaches all of them and the one-time events of the
// descent happen once per loading of the module.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstddef>

#include "host/Orbitersdk.h"

namespace vtal {

struct ModuleState {
    int manualOverride = 0;    // 0: the automatic descent flies; anything else: manual
    int cameraSpin = 0;        // 1: the camera turns
    int lidarOn = 0;           // 1: the lidar beam blinks
    int lidarBlink = 0;        // blink phase, flipped every step while the lidar is on
    int armRotCmd = 0;         // ArmCommand for the next step, per joint
    int armSlideCmd = 0;
    int armElbowCmd = 0;
    int dustCreated = 0;       // the landing dust streams exist
    int legsPreset = 0;        // the legs have been forced out on the first step
    int descentPresetDone = 0; // the one-time engine preset of the descent was made
    int crashShown = 0;        // the crash notice has been shown
    double crashTime = 0.0;    // simulation time (s) at which it was shown
    void (*moduleExitHook)(HINSTANCE) = nullptr;  // exit function found at load
    int moduleVersionCache = 0;                   // GetModuleVersion, once computed
};

extern ModuleState moduleState;

}  // namespace vtal

namespace vtal {

// The mesh-group transforms of the lander's animations. The host keeps every
// transform by reference for as long as the vessel lives, and all landers
// share the same ones, so they are built in place in static storage the
// first time a lander defines its animations (one flag bit per object) and
// are never rebuilt or destroyed while the module is loaded. They are kept
// apart from moduleState, which the tests zero between cases.

struct AnimationTransforms {
    static constexpr std::size_t kCount = 73;  // components over all eight animations
    static constexpr std::size_t kSlotSize =
        std::max({sizeof(MGROUP_ROTATE), sizeof(MGROUP_TRANSLATE), sizeof(MGROUP_SCALE)});
    static constexpr std::size_t kSlotAlign =
        std::max({alignof(MGROUP_ROTATE), alignof(MGROUP_TRANSLATE), alignof(MGROUP_SCALE)});

    // Raw room for one transform of any kind.
    struct Slot {
        alignas(kSlotAlign) unsigned char bytes[kSlotSize];
    };

    Slot slots[kCount];                  // the n-th component's transform, once built
    MGROUP_TRANSFORM *objects[kCount];   // the object built in slots[n]
    std::bitset<kCount> built;           // bit n: slots[n] holds its object
};

extern AnimationTransforms animationTransforms;

}  // namespace vtal

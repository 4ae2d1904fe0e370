// A lander created as the host creates it, against the recording backend,
// with the module-wide state zeroed as after a fresh load of the module.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "lander/Lander.h"
#include "lander/ModuleState.h"
#include "recording/RecordingBackend.h"

namespace vtal::testing {

class LanderTest : public ::testing::Test {
protected:
    LanderTest() : installed_(rec) { ResetModuleState(); }

    // Zeroes the module-wide values as a fresh load of the module would. The
    // animation transform objects are built once per process and stay.
    static void ResetModuleState() { moduleState = ModuleState{}; }

    // Constructs a lander and runs its class capabilities, then clears the log.
    std::unique_ptr<Lander> MakeLander(int n = 1, int flightModel = 1) {
        auto lander = std::make_unique<Lander>(recording::FakeVesselHandle(n), flightModel);
        lander->clbkSetClassCaps(nullptr);
        rec.clear();
        return lander;
    }

    recording::RecordingBackend rec;

private:
    recording::ScopedBackend installed_;
};

}  // namespace vtal::testing

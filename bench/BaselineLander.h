// The yardstick for the module's frame cost: a vessel that makes exactly the
// host calls a lander makes in one frame of its terminal descent (drifting,
// nearly level, off its target heading), in the same order and on the same
// handles, with none of the decisions or arithmetic in between. What the
// lander's frame costs beyond this is the module's own logic.
#pragma once

#include "host/Orbitersdk.h"

namespace vtal::bench {

// The handles the frame's commands go to, as the lander created them.
struct FrameHandles {
    THRUSTER_HANDLE engines[3] = {};
    THRUSTER_HANDLE lidarBeam = nullptr;
    PROPELLANT_HANDLE lidarTank = nullptr;
};

class BaselineLander final : public VESSEL2 {
public:
    BaselineLander(OBJHANDLE hVessel, const FrameHandles &handles)
        : VESSEL2(hVessel, 1), handles_(handles) {}

    void clbkPreStep(double simt, double simdt, double mjd) override;
    void clbkPostStep(double simt, double simdt, double mjd) override;

private:
    FrameHandles handles_;
};

}  // namespace vtal::bench

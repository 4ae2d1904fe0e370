// A lander created as the host creates it, against whatever backend is
// installed, and flown for one frame so that the first frame's one-time leg
// deployment is behind it: every later frame is an ordinary frame.
#pragma once

#include <memory>

#include "bench/BaselineLander.h"
#include "lander/Lander.h"

namespace vtal::bench {

// The module-wide state is zeroed first, as after a fresh load of the module.
std::unique_ptr<Lander> MakeFlyingLander(OBJHANDLE hVessel);

// A baseline vessel whose commands go to the same handles as `lander`'s.
std::unique_ptr<BaselineLander> MakeBaselineFor(const Lander &lander);

// One frame as the host runs it: the pre-step, then the post-step.
inline void RunFrame(VESSEL2 &vessel, double simt, double simdt) {
    const double kMjd = 51544.5;
    vessel.clbkPreStep(simt, simdt, kMjd);
    vessel.clbkPostStep(simt + simdt, simdt, kMjd);
}

}  // namespace vtal::bench

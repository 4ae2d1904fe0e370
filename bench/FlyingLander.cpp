#include "bench/FlyingLander.h"

#include "lander/ModuleState.h"

namespace vtal::bench {

namespace {
const double kFirstFrameTime = 0.0;  // s
const double kFrameLength = 0.02;    // s
}  // namespace

std::unique_ptr<Lander> MakeFlyingLander(OBJHANDLE hVessel) {
    moduleState = ModuleState{};
    auto lander = std::make_unique<Lander>(hVessel, 1);
    lander->clbkSetClassCaps(nullptr);
    RunFrame(*lander, kFirstFrameTime, kFrameLength);
    return lander;
}

std::unique_ptr<BaselineLander> MakeBaselineFor(const Lander &lander) {
    FrameHandles handles;
    for (int i = 0; i < 3; ++i) handles.engines[i] = lander.thEngine[i];
    handles.lidarBeam = lander.thLidar;
    handles.lidarTank = lander.phLidar;
    return std::make_unique<BaselineLander>(lander.GetHandle(), handles);
}

}  // namespace vtal::bench

// The lander's exact host calls, checked against the baseline: change it only with the behaviour, never to simplify.
// The frame-cost benchmark compares like with like only if the baseline
// makes the very host calls the lander makes in the benchmarked frame, and
// only if that frame really is one of the terminal descent. Both are checked
// here against the recording backend, which logs every call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/FixedBackend.h"
#include "bench/FlyingLander.h"
#include "lander/ModuleState.h"
#include "recording/RecordingBackend.h"

namespace {

using namespace vtal::bench;
using vtal::recording::Call;
using vtal::recording::RecordingBackend;

const double kFrameTime = 60.0;    // s
const double kFrameLength = 0.02;  // s

void Script(RecordingBackend &rec, OBJHANDLE h, const FlightState &s) {
    vtal::recording::VesselScript &v = rec.vessel(h);
    v.altitude = s.altitude;
    v.airspeed = s.airspeed;
    v.mass = s.mass;
    v.pitch = s.pitch;
    v.bank = s.bank;
    v.heading = s.heading;
    v.angularVel = s.angularVel;
    v.shipAirspeed = s.shipAirspeed;
    v.horizonAirspeed = s.horizonAirspeed;
    v.weight = s.weight;
    for (int g = 0; g < 16; ++g) v.groupLevel[g] = s.groupLevel[g];
    v.groundContact = s.groundContact;
    rec.simTime = s.simTime;
}

// The call without its floating-point arguments: what the baseline must
// reproduce (name, vessel, group and mode numbers, handles), not the values
// that the lander computes.
struct CallShape {
    std::string name;
    OBJHANDLE vessel;
    std::vector<vtal::recording::Arg> args;
    bool operator==(const CallShape &o) const {
        return name == o.name && vessel == o.vessel && args == o.args;
    }
};

std::vector<CallShape> Shapes(const std::vector<Call> &calls) {
    std::vector<CallShape> out;
    for (const Call &c : calls) {
        CallShape s{c.name, c.vessel, {}};
        for (const auto &a : c.args)
            if (!std::holds_alternative<double>(a)) s.args.push_back(a);
        out.push_back(s);
    }
    return out;
}

std::string Describe(const std::vector<CallShape> &shapes) {
    std::string out;
    for (const CallShape &s : shapes) out += s.name + "\n";
    return out;
}

class FrameCallsTest : public ::testing::Test {
protected:
    FrameCallsTest() : installed_(rec) { Script(rec, handle, TerminalBandState()); }
    ~FrameCallsTest() override { vtal::moduleState = vtal::ModuleState{}; }

    // The calls of one ordinary frame of `vessel`.
    std::vector<Call> RecordFrame(VESSEL2 &vessel) {
        rec.clear();
        RunFrame(vessel, kFrameTime, kFrameLength);
        return rec.calls;
    }

    const OBJHANDLE handle = vtal::recording::FakeVesselHandle(7);
    RecordingBackend rec;

private:
    vtal::recording::ScopedBackend installed_;
};

TEST_F(FrameCallsTest, BaselineMakesTheLandersHostCallsInOrder) {
    auto lander = MakeFlyingLander(handle);
    auto baseline = MakeBaselineFor(*lander);
    const auto landerShapes = Shapes(RecordFrame(*lander));
    const auto baselineShapes = Shapes(RecordFrame(*baseline));
    ASSERT_FALSE(landerShapes.empty());
    EXPECT_TRUE(landerShapes == baselineShapes) << "lander:\n"
                                                << Describe(landerShapes) << "baseline:\n"
                                                << Describe(baselineShapes);
}

// The benchmarked frame exercises the terminal controllers: the engines
// are throttled apart against the drift, and the yaw thrusters, not the
// kill-rotation mode, turn the lander.
TEST_F(FrameCallsTest, BenchmarkedFrameRunsTheTerminalControllers) {
    auto lander = MakeFlyingLander(handle);
    RecordFrame(*lander);

    const auto engineLevels = rec.callsNamed("SetThrusterLevel");
    std::vector<double> levels;
    for (const Call &c : engineLevels)
        for (int i = 0; i < 3; ++i)
            if (c.ptr(0) == lander->thEngine[i]) levels.push_back(c.num(1));
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_NE(levels[0], levels[1]);
    EXPECT_NE(levels[1], levels[2]);
    for (double level : levels) {
        EXPECT_GT(level, 0.0);
        EXPECT_LT(level, 1.0);
    }

    double yawLeft = -1.0, yawRight = -1.0;
    for (const Call &c : rec.callsNamed("SetThrusterGroupLevel")) {
        if (c.integer(0) == THGROUP_ATT_YAWLEFT) yawLeft = c.num(1);
        if (c.integer(0) == THGROUP_ATT_YAWRIGHT) yawRight = c.num(1);
    }
    EXPECT_EQ(yawLeft + yawRight, 1.0) << "one yaw group at full thrust, the other off";
    EXPECT_EQ(rec.count("ActivateNavmode"), 0u);
    EXPECT_EQ(rec.count("SetAnimation"), 0u) << "nothing moves in flight once the legs are out";
}

// The fixed backend must present the flight the recording backend was
// scripted with, or the benchmark would time another path through the module.
TEST_F(FrameCallsTest, FixedBackendFliesTheSameFrame) {
    auto lander = MakeFlyingLander(handle);
    const std::size_t recorded = RecordFrame(*lander).size();

    FixedBackend fixed(TerminalBandState());
    vtal::host::InstallBackend(&fixed);
    auto fixedLander = MakeFlyingLander(handle);
    fixed.resetCalls();
    RunFrame(*fixedLander, kFrameTime, kFrameLength);
    const std::uint64_t served = fixed.calls();
    vtal::host::InstallBackend(&rec);

    EXPECT_EQ(served, recorded);
}

}  // namespace

// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <set>

#include "support/LanderFixture.h"
#include "unit/lander/LanderLog.h"

namespace vtal::testing {
namespace {

using ClassCapsTest = LanderTest;

const double kPi = std::acos(-1.0);

// A lander constructed as the host does it, with garbage in every member the
// class capabilities must set, so that a start value left out shows.
std::unique_ptr<Lander> ConstructWithStaleMembers(int n, int flightModel) {
    auto lander = std::make_unique<Lander>(recording::FakeVesselHandle(n), flightModel);
    lander->solarStatus = lander->legsStatus = lander->feetStatus = lander->deckStatus = 9;
    lander->solarPos = lander->cameraPos = lander->legsPos = lander->feetPos = lander->deckPos = 0.5;
    lander->armRotPos = lander->armSlidePos = lander->armElbowPos = 0.5;
    for (THRUSTER_HANDLE &th : lander->thGroupList) th = reinterpret_cast<THRUSTER_HANDLE>(0xBAD);
    return lander;
}

// Creation order of the animations, with the components each is followed by.
std::vector<ExpectedCall> AnimationCallNames() {
    std::vector<ExpectedCall> out;
    auto animation = [&out](int components) {
        out.push_back(ExpectedCall::Named("CreateAnimation"));
        for (int i = 0; i < components; ++i) out.push_back(ExpectedCall::Named("AddAnimationComponent"));
    };
    auto components = [&out](int n) {
        for (int i = 0; i < n; ++i) out.push_back(ExpectedCall::Named("AddAnimationComponent"));
    };
    animation(42);  // solar panels
    animation(5);   // legs, leg 1
    animation(1);   // feet, foot 1
    components(5 + 1 + 5 + 1);  // leg 2, foot 2, leg 3, foot 3
    animation(8);   // deck
    animation(1);   // camera
    animation(1);   // arm rotation
    animation(2);   // arm slide
    animation(1);   // arm elbow
    return out;
}

TEST_F(ClassCapsTest, WholeSequenceInOrderWithEveryArgument) {
    auto lander = ConstructWithStaleMembers(1, 1);
    lander->clbkSetClassCaps(nullptr);
    const Lander &L = *lander;

    const void *beamTex = TextureHandle(rec, "K_VTA/lidar");
    const void *yawTex = TextureHandle(rec, "exhaust_atrcs");
    const void *engineTex = TextureHandle(rec, "Exhaust2");

    std::vector<ExpectedCall> expected = AnimationCallNames();
    const double isp = 2500.0, ispRef = 0.0, pRef = 101400.0;
    auto thruster = [&](VECTOR3 pos, VECTOR3 dir, double maxThrust, const void *tank, const void *handle) {
        return ExpectedCall{"CreateThruster",
                            std::vector<ExpectedArg>{pos.x, pos.y, pos.z, dir.x, dir.y, dir.z, maxThrust, Ptr(tank),
                                                     isp, ispRef, pRef, Ptr(handle)}};
    };
    auto group = [](std::vector<THRUSTER_HANDLE> members, long long type) {
        std::vector<ExpectedArg> args{Int(static_cast<long long>(members.size())), Int(type)};
        for (THRUSTER_HANDLE th : members) args.push_back(Ptr(th));
        return ExpectedCall{"CreateThrusterGroup", args};
    };
    auto engineFlame = [&](THRUSTER_HANDLE engine, double x, double z) {
        return ExpectedCall{"AddExhaust(pos,dir)", std::vector<ExpectedArg>{Ptr(engine), 0.75, 0.075, x, -0.34, z,
                                                                             0.0, -1.0, 0.0, Ptr(engineTex)}};
    };
    auto yawFlame = [&](THRUSTER_HANDLE th) {
        return ExpectedCall{"AddExhaust", std::vector<ExpectedArg>{Ptr(th), 0.5, 0.05, Ptr(yawTex)}};
    };

    const std::vector<ExpectedCall> definition = {
        {"SetCW", {{2.0, 2.0, 0.9, 0.9}}},
        {"SetRotDrag", {{1.0, 1.0, 1.0}}},
        {"SetSurfaceFrictionCoeff", {{1.0, 1.0}}},
        {"GetFlightModel", std::vector<ExpectedArg>{}},
        {"SetPitchMomentScale", {{0.001}}},
        {"SetBankMomentScale", {{0.001}}},
        {"SetTrimScale", {{0.1}}},
        {"SetPMI", {{0.3, 0.3, 0.2}}},
        {"SetCrossSections", {{2.0, 2.0, 6.0}}},
        {"SetSize", {{2.0}}},
        {"SetEmptyMass", {{343.0}}},
        {"AddMesh", {{Text("K_VTA/vta_lander"), Ptr(nullptr)}}},
        {"SetMeshVisibilityMode", {{Int(0), Int(3)}}},
        {"SetCameraOffset", {{0.0, 1.0, -2.0}}},
        {"SetLiftCoeffFunc", {{Ptr(reinterpret_cast<const void *>(&LiftCoeff))}}},
        {"SetTouchdownPoints", {{0.0, -0.58, 1.0, -1.0, -0.58, -1.0, 1.0, -0.58, -1.0}}},
        // Re-entry glow, field by field: flags, size, rate, v0, spread, lifetime,
        // growth, slow-down, emissive, level PSQRT, level limits, atm PLOG, atm limits, no texture.
        {"AddReentryStream", {{kAnyArg, Int(0), 2.5, 40.0, 0.0, 0.001, 0.5, 4.0, 0.2, Int(0), Int(4), 0.0, 1.0,
                               Int(2), 2.0e6, 5.0e15, Ptr(nullptr)}}},
        {"CreatePropellantResource", {{67.0, 67.0, 1.0, Ptr(L.phMain)}}},
        {"CreatePropellantResource", {{1.0, 1.0, 1.0, Ptr(L.phLidar)}}},
        {"oapiRegisterExhaustTexture", {{Text("K_VTA/lidar"), kAnyArg}}},
        thruster(_V(-0.213, 0.619, 0.24), _V(0, -1, 0), 0.0, L.phLidar, L.thLidar),
        {"AddExhaust", {{Ptr(L.thLidar), 10.0, 0.01, Ptr(beamTex)}}},
        thruster(_V(-0.53, 0.262, 0.886), _V(-0.5, -0.866, 0), 4.5, L.phMain, L.thYaw[0]),
        thruster(_V(-0.282, 0.262, 1.012), _V(0.5, -0.866, 0), 4.5, L.phMain, L.thYaw[1]),
        thruster(_V(0.53, 0.262, -0.886), _V(0.5, -0.866, 0), 4.5, L.phMain, L.thYaw[2]),
        thruster(_V(0.282, 0.262, -1.012), _V(-0.5, -0.866, 0), 4.5, L.phMain, L.thYaw[3]),
        thruster(_V(0.0, -0.33, 0.645), _V(0, 1, 0), 1211.0, L.phMain, L.thEngine[0]),
        thruster(_V(-0.5586, -0.33, -0.3225), _V(0, 1, 0), 1211.0, L.phMain, L.thEngine[1]),
        thruster(_V(0.5586, -0.33, -0.3225), _V(0, 1, 0), 1211.0, L.phMain, L.thEngine[2]),
        group({L.thEngine[0]}, 3),                              // pitch up
        group({L.thEngine[1], L.thEngine[2]}, 4),               // pitch down
        group({L.thEngine[2]}, 7),                              // bank left
        group({L.thEngine[1]}, 8),                              // bank right
        group({L.thYaw[1], L.thYaw[3]}, 6),                     // yaw right
        group({L.thYaw[0], L.thYaw[2]}, 5),                     // yaw left
        group({L.thEngine[0], L.thEngine[1], L.thEngine[2]}, 0),  // main
        {"oapiRegisterExhaustTexture", {{Text("exhaust_atrcs"), kAnyArg}}},
        {"oapiRegisterExhaustTexture", {{Text("Exhaust2"), kAnyArg}}},
        engineFlame(L.thEngine[0], 0.205, 0.558),
        engineFlame(L.thEngine[0], 0.11, 0.613),
        engineFlame(L.thEngine[0], -0.205, 0.558),
        engineFlame(L.thEngine[0], -0.11, 0.613),
        engineFlame(L.thEngine[1], -0.38, -0.454),
        engineFlame(L.thEngine[1], -0.476, -0.399),
        engineFlame(L.thEngine[1], -0.585, -0.21),
        engineFlame(L.thEngine[1], -0.585, -0.099),
        engineFlame(L.thEngine[2], 0.38, -0.454),
        engineFlame(L.thEngine[2], 0.476, -0.399),
        engineFlame(L.thEngine[2], 0.585, -0.21),
        engineFlame(L.thEngine[2], 0.585, -0.099),
        yawFlame(L.thYaw[0]),
        yawFlame(L.thYaw[1]),
        yawFlame(L.thYaw[2]),
        yawFlame(L.thYaw[3]),
    };
    expected.insert(expected.end(), definition.begin(), definition.end());
    ExpectCalls(rec.calls, expected);

    // Vessel methods act on this lander; the oapi... functions on none.
    for (const Call &c : rec.calls)
        EXPECT_EQ(c.vessel, c.name.rfind("oapi", 0) == 0 ? nullptr : L.GetHandle()) << c.name;

    // Every handle the lander keeps is a distinct one that the host returned.
    std::set<const void *> handles{L.phMain, L.phLidar, L.thLidar};
    for (THRUSTER_HANDLE th : L.thYaw) handles.insert(th);
    for (THRUSTER_HANDLE th : L.thEngine) handles.insert(th);
    EXPECT_EQ(handles.size(), 10u);
    EXPECT_EQ(handles.count(nullptr), 0u);
}

TEST_F(ClassCapsTest, StartValuesAreSetBeforeTheAnimationsAreDefined) {
    moduleState.cameraSpin = 1;
    moduleState.armRotCmd = ARM_INCREASE;
    moduleState.dustCreated = 1;
    auto lander = ConstructWithStaleMembers(1, 1);
    lander->clbkSetClassCaps(nullptr);

    for (int status : {lander->solarStatus, lander->legsStatus, lander->feetStatus, lander->deckStatus})
        EXPECT_EQ(status, MECH_RETRACTED);
    for (double pos : {lander->solarPos, lander->cameraPos, lander->legsPos, lander->feetPos, lander->deckPos,
                       lander->armSlidePos, lander->armElbowPos})
        EXPECT_EQ(pos, 0.0);
    EXPECT_EQ(lander->armRotPos, 0.7);

    // The animations start from those values: solar, legs, feet, deck, camera,
    // arm rotation, slide, elbow.
    const std::vector<double> initial = {0.0, 0.0, 0.0, 0.0, 0.0, 0.7, 0.0, 0.0};
    std::vector<Call> created = rec.callsNamed("CreateAnimation");
    ASSERT_EQ(created.size(), initial.size());
    for (std::size_t i = 0; i < initial.size(); ++i) EXPECT_EQ(created[i].num(0), initial[i]) << "animation " << i;

    // Module-wide values belong to other parts of the lander.
    EXPECT_EQ(moduleState.cameraSpin, 1);
    EXPECT_EQ(moduleState.armRotCmd, ARM_INCREASE);
    EXPECT_EQ(moduleState.dustCreated, 1);
}

TEST_F(ClassCapsTest, MomentScalesOnlyWithTheFullFlightModel) {
    struct Case {
        int flightModel;
        std::size_t scaleCalls;
    };
    for (const Case &c : {Case{0, 0}, Case{1, 1}, Case{2, 1}}) {
        SCOPED_TRACE("flight model " + std::to_string(c.flightModel));
        rec.clear();
        auto lander = ConstructWithStaleMembers(1, 1);
        rec.vessel(lander->GetHandle()).flightModel = c.flightModel;  // what the host reports
        lander->clbkSetClassCaps(nullptr);
        ASSERT_EQ(rec.count("SetPitchMomentScale"), c.scaleCalls);
        ASSERT_EQ(rec.count("SetBankMomentScale"), c.scaleCalls);
        if (c.scaleCalls) {
            EXPECT_EQ(rec.callsNamed("SetPitchMomentScale")[0].num(0), 0.001);
            EXPECT_EQ(rec.callsNamed("SetBankMomentScale")[0].num(0), 0.001);
        }
        // Without the scales, the trim scale follows the flight-model query directly.
        std::vector<std::string> names = rec.names();
        auto query = std::find(names.begin(), names.end(), "GetFlightModel");
        ASSERT_NE(query, names.end());
        EXPECT_EQ(*(query + 1 + 2 * static_cast<long>(c.scaleCalls)), "SetTrimScale");
    }
}

TEST(LiftCoeffTest, ZeroAtEveryAngleIncludingTheEndsOfTheCurve) {
    const double deg = kPi / 180.0;
    for (double aoa : {-kPi, -60 * deg, -1 * deg, 0.0, 15 * deg, 20 * deg, 25 * deg, kPi, 1.5 * kPi, -1.5 * kPi,
                       std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(LiftCoeff(aoa), 0.0) << "aoa " << aoa;
    // Every half degree once round and beyond: no breakpoint lifts the curve.
    for (int half = -800; half <= 800; ++half) EXPECT_EQ(LiftCoeff(half * 0.5 * deg), 0.0) << half * 0.5;
    EXPECT_EQ(LiftCoeff(std::numeric_limits<double>::infinity()), 0.0);
}

}  // namespace
}  // namespace vtal::testing

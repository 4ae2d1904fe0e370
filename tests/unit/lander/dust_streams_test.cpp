// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include "support/LanderFixture.h"
#include "unit/lander/LanderLog.h"

namespace vtal::testing {
namespace {

using DustStreamsTest = LanderTest;

// One stream below each engine, sharing one record that carries the dust texture.
std::vector<ExpectedCall> ExpectedDust(const Lander &L, const void *dustTex) {
    auto stream = [&](THRUSTER_HANDLE engine, double x, double z) {
        // flags, size, rate, v0, spread, lifetime, growth, slow-down, diffuse,
        // level PSQRT, level limits, atm PLOG, atm limits, texture
        return ExpectedCall{"AddExhaustStream",
                            {Ptr(engine), x, -5.0, z, kAnyArg, Int(0), 0.5, 15.0, 10.0, 1.0, 1.0, 2.0, 0.0, Int(1),
                             Int(4), 0.0, 5.0, Int(2), 0.0, 1.0, Ptr(dustTex)}};
    };
    return {
        {"oapiRegisterExhaustTexture", {Text("K_VTA/vtal_dust"), Ptr(dustTex)}},
        stream(L.thEngine[0], 0.0, 0.645),
        stream(L.thEngine[1], -0.5586, -0.3225),
        stream(L.thEngine[2], 0.5586, -0.3225),
    };
}

TEST_F(DustStreamsTest, OneStreamBelowEachEngineWithTheDustTexture) {
    auto lander = MakeLander();
    lander->AddDustStreams();
    ExpectCalls(rec.calls, ExpectedDust(*lander, TextureHandle(rec, "K_VTA/vtal_dust")));
    for (const Call &c : rec.callsNamed("AddExhaustStream")) EXPECT_EQ(c.vessel, lander->GetHandle());
    EXPECT_EQ(moduleState.dustCreated, 0);  // the once-only guard belongs to the caller
}

TEST_F(DustStreamsTest, EveryCallAddsAFurtherSet) {
    auto lander = MakeLander();
    lander->AddDustStreams();
    lander->AddDustStreams();
    EXPECT_EQ(rec.count("oapiRegisterExhaustTexture"), 2u);
    EXPECT_EQ(rec.count("AddExhaustStream"), 6u);
}

}  // namespace
}  // namespace vtal::testing

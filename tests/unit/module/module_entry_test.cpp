// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include "support/LanderFixture.h"

DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel);
DLLCLBK void ovcExit(VESSEL *vessel);

namespace vtal::testing {
namespace {

using ModuleEntryTest = LanderTest;

TEST_F(ModuleEntryTest, FreshLanderHasStowedMechanismsAndArmTurretAtSevenTenths) {
    VESSEL *v = ovcInit(recording::FakeVesselHandle(3), 1);
    auto *lander = static_cast<Lander *>(v);
    EXPECT_EQ(lander->crashNote, nullptr);
    lander->clbkSetClassCaps(nullptr);
    EXPECT_EQ(lander->solarStatus, 0);
    EXPECT_EQ(lander->legsStatus, 0);
    EXPECT_EQ(lander->feetStatus, 0);
    EXPECT_EQ(lander->deckStatus, 0);
    for (double pos : {lander->solarPos, lander->cameraPos, lander->legsPos, lander->feetPos, lander->deckPos,
                       lander->armSlidePos, lander->armElbowPos})
        EXPECT_EQ(pos, 0.0);
    EXPECT_EQ(lander->armRotPos, 0.7);
    EXPECT_EQ(lander->crashNote, nullptr);
    ovcExit(v);
}

}  // namespace
}  // namespace vtal::testing

// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <cmath>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "support/LanderFixture.h"

namespace vtal::testing {
namespace {

// Distinct animation ids, so that a state handed to the wrong animation shows.
enum : UINT { kSolar = 11, kCamera, kLegs, kFeet, kDeck, kArmRot, kArmSlide, kArmElbow };

class MechanismAnimatorTest : public LanderTest {
protected:
    MechanismAnimatorTest() : lander(MakeLander()) {
        lander->animSolar = kSolar;
        lander->animCamera = kCamera;
        lander->animLegs = kLegs;
        lander->animFeet = kFeet;
        lander->animDeck = kDeck;
        lander->animArmRot = kArmRot;
        lander->animArmSlide = kArmSlide;
        lander->animArmElbow = kArmElbow;
    }

    // One post-step; returns the (animation, state) pairs handed to the host.
    std::vector<std::pair<UINT, double>> Step(double dt) {
        rec.clear();
        lander->clbkPostStep(100.0, dt, 51000.0);
        std::vector<std::pair<UINT, double>> set;
        for (const auto &c : rec.calls) {
            EXPECT_EQ(c.name, "SetAnimation");
            set.emplace_back(static_cast<UINT>(c.integer(0)), c.num(1));
        }
        return set;
    }

    std::unique_ptr<Lander> lander;
};

using Set = std::vector<std::pair<UINT, double>>;

TEST_F(MechanismAnimatorTest, LegsDeployOverFourStepsSettleInTheFifthThenFallSilent) {
    lander->legsStatus = MECH_DEPLOYING;
    const double expected[] = {0.25, 0.5, 0.75, 1.0};
    for (double pos : expected) {
        EXPECT_EQ(Step(0.25), (Set{{kLegs, pos}}));
        EXPECT_EQ(lander->legsStatus, MECH_DEPLOYING);
    }
    EXPECT_EQ(Step(0.25), (Set{{kLegs, 1.0}}));
    EXPECT_EQ(lander->legsStatus, MECH_DEPLOYED);
    EXPECT_TRUE(Step(0.25).empty());
}

TEST_F(MechanismAnimatorTest, FeetClampInOneStepAndSettleInTheNext) {
    lander->feetStatus = MECH_DEPLOYING;
    EXPECT_EQ(Step(0.2), (Set{{kFeet, 1.0}}));
    EXPECT_EQ(lander->feetStatus, MECH_DEPLOYING);
    EXPECT_EQ(Step(0.2), (Set{{kFeet, 1.0}}));
    EXPECT_EQ(lander->feetStatus, MECH_DEPLOYED);
}

// Each deployable at its own rate and animation, deploying and retracting.
TEST_F(MechanismAnimatorTest, EachDeployableMovesAtItsRateBothWays) {
    struct Case {
        int Lander::*status;
        double Lander::*pos;
        UINT anim;
        double rate;
    };
    const Case cases[] = {
        {&Lander::solarStatus, &Lander::solarPos, kSolar, 0.1},
        {&Lander::legsStatus, &Lander::legsPos, kLegs, 1.0},
        {&Lander::deckStatus, &Lander::deckPos, kDeck, 0.25},
        {&Lander::feetStatus, &Lander::feetPos, kFeet, 10.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.anim);
        (*lander).*c.status = MECH_DEPLOYING;
        (*lander).*c.pos = 0.0;
        EXPECT_EQ(Step(0.05), (Set{{c.anim, std::min(1.0, c.rate * 0.05)}}));
        (*lander).*c.status = MECH_RETRACTING;
        (*lander).*c.pos = 0.9;
        EXPECT_EQ(Step(0.05), (Set{{c.anim, std::max(0.0, 0.9 - c.rate * 0.05)}}));
        (*lander).*c.status = MECH_DEPLOYED;
    }
}

TEST_F(MechanismAnimatorTest, RetractingPanelsReachZeroThenSettleOneStepLater) {
    lander->solarStatus = MECH_RETRACTING;
    lander->solarPos = 0.15;
    EXPECT_EQ(Step(1.0).size(), 1u);
    EXPECT_NEAR(lander->solarPos, 0.05, 1e-12);
    EXPECT_EQ(Step(1.0), (Set{{kSolar, 0.0}}));
    EXPECT_EQ(lander->solarStatus, MECH_RETRACTING);
    EXPECT_EQ(Step(1.0), (Set{{kSolar, 0.0}}));
    EXPECT_EQ(lander->solarStatus, MECH_RETRACTED);
    EXPECT_TRUE(Step(1.0).empty());

    lander->deckStatus = MECH_RETRACTING;  // as read from a scenario, already stowed
    EXPECT_EQ(Step(1.0), (Set{{kDeck, 0.0}}));
    EXPECT_EQ(lander->deckStatus, MECH_RETRACTED);
}

TEST_F(MechanismAnimatorTest, StatusFiveDeploysAndMinusOneNeverMoves) {
    lander->deckStatus = 5;
    lander->feetStatus = -1;
    lander->feetPos = 0.5;
    EXPECT_EQ(Step(1.0), (Set{{kDeck, 0.25}}));
    EXPECT_EQ(lander->deckStatus, 5);
    EXPECT_EQ(lander->feetPos, 0.5);
}

TEST_F(MechanismAnimatorTest, EightQuantitiesAreSteppedInFixedOrder) {
    lander->solarStatus = lander->legsStatus = lander->deckStatus = lander->feetStatus = MECH_DEPLOYING;
    moduleState.cameraSpin = 1;
    moduleState.armRotCmd = moduleState.armSlideCmd = moduleState.armElbowCmd = ARM_INCREASE;
    std::vector<UINT> order;
    for (const auto &[anim, pos] : Step(0.01)) order.push_back(anim);
    EXPECT_EQ(order, (std::vector<UINT>{kSolar, kLegs, kDeck, kFeet, kCamera, kArmRot, kArmSlide, kArmElbow}));
}

TEST_F(MechanismAnimatorTest, CameraWrapsOnceAboveOneTurnButNotAtExactlyOne) {
    moduleState.cameraSpin = 1;
    lander->cameraPos = 0.99;
    ASSERT_EQ(Step(1.0).size(), 1u);
    EXPECT_NEAR(lander->cameraPos, 0.015, 1e-12);

    lander->cameraPos = 0.5;
    Step(20.0);
    EXPECT_EQ(lander->cameraPos, 1.0);  // exactly one turn stays until the next step
    Step(20.0);
    EXPECT_EQ(lander->cameraPos, 0.5);

    lander->cameraPos = 0.3;
    Step(40.0);
    EXPECT_NEAR(lander->cameraPos, 0.3, 1e-12);
}

TEST_F(MechanismAnimatorTest, CameraTurnsOnlyWhileSpinIsExactlyOneWhateverTheDeck) {
    moduleState.cameraSpin = 2;
    EXPECT_TRUE(Step(1.0).empty());
    moduleState.cameraSpin = 1;
    lander->deckStatus = MECH_RETRACTED;
    EXPECT_EQ(Step(2.0), (Set{{kCamera, 0.05}}));
}

TEST_F(MechanismAnimatorTest, ArmCommandsAreClampedAppliedOnceAndConsumed) {
    struct Case {
        int ModuleState::*command;
        double Lander::*pos;
        UINT anim;
    };
    const Case joints[] = {
        {&ModuleState::armRotCmd, &Lander::armRotPos, kArmRot},
        {&ModuleState::armSlideCmd, &Lander::armSlidePos, kArmSlide},
        {&ModuleState::armElbowCmd, &Lander::armElbowPos, kArmElbow},
    };
    struct Move {
        int command;
        double from, to;
    };
    const Move moves[] = {
        {ARM_INCREASE, 0.5, 0.55}, {ARM_DECREASE, 0.5, 0.45}, {ARM_INCREASE, 1.0, 1.0},
        {ARM_DECREASE, 0.0, 0.0},  {ARM_DECREASE, 1.5, 1.0},  {ARM_INCREASE, -0.5, 0.0},
    };
    for (const Case &j : joints)
        for (const Move &m : moves) {
            SCOPED_TRACE(::testing::Message() << j.anim << " cmd " << m.command << " from " << m.from);
            moduleState.*j.command = m.command;
            (*lander).*j.pos = m.from;
            const Set set = Step(0.5);
            ASSERT_EQ(set.size(), 1u);
            EXPECT_EQ(set[0].first, j.anim);
            EXPECT_NEAR(set[0].second, m.to, 1e-12);
            EXPECT_EQ(moduleState.*j.command, ARM_NONE);
            EXPECT_TRUE(Step(0.5).empty());  // the joint stops without a fresh command
        }
    moduleState.armSlideCmd = 3;  // not a command: left for whoever set it
    EXPECT_TRUE(Step(1.0).empty());
    EXPECT_EQ(moduleState.armSlideCmd, 3);
}

TEST_F(MechanismAnimatorTest, ToggleDeploysFromRestOrRetractingAndRetractsOtherwise) {
    const std::pair<int, int> cases[] = {{0, 3}, {2, 3}, {1, 2}, {3, 2}, {5, 2}, {-1, 2}};
    for (const auto &[from, to] : cases) {
        lander->solarStatus = from;
        lander->deckStatus = from;
        lander->ToggleSolarPanels();
        EXPECT_EQ(lander->solarStatus, to) << from;
        EXPECT_EQ(lander->deckStatus, from);
        lander->ToggleDeck();
        EXPECT_EQ(lander->deckStatus, to) << from;
    }
}

TEST_F(MechanismAnimatorTest, StepThatIsNotANumberOrNegativeMovesNothing) {
    lander->legsStatus = MECH_DEPLOYING;
    moduleState.cameraSpin = 1;
    moduleState.armRotCmd = ARM_INCREASE;
    EXPECT_TRUE(Step(std::numeric_limits<double>::quiet_NaN()).empty());
    EXPECT_TRUE(Step(-1.0).empty());
    EXPECT_EQ(lander->legsPos, 0.0);
    EXPECT_EQ(moduleState.armRotCmd, ARM_INCREASE);
    // A step of zero length (the host paused) still settles and consumes.
    lander->legsPos = 1.0;
    EXPECT_EQ(Step(0.0), (Set{{kLegs, 1.0}, {kCamera, 0.0}, {kArmRot, 0.7}}));
    EXPECT_EQ(lander->legsStatus, MECH_DEPLOYED);
    EXPECT_EQ(moduleState.armRotCmd, ARM_NONE);
    // An infinite step still ends every mechanism at a finite end of its travel.
    for (const auto &[anim, pos] : Step(std::numeric_limits<double>::infinity()))
        EXPECT_TRUE(std::isfinite(pos)) << anim;
}

}  // namespace
}  // namespace vtal::testing

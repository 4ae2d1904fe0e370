// The host's animation evaluator: components over their ranges, relative to
// the modelled state, children carried by their parents; then the lander's
// own animations at the geometric edge cases of its mechanisms.
#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/vessel/AnimationEvaluator.h"

namespace vtal::simtest {
namespace {

using sim::Transform;
using sim::Vessel;

constexpr double kTol = 1e-6;

// Animation ids in the order the lander creates them.
enum LanderAnimation { kSolar = 0, kLegs, kFeet, kDeck, kCamera, kArmRot, kArmSlide, kArmElbow };

Transform Rotation(const Vec3 &ref, const Vec3 &axis, double angleDeg) {
    return Eigen::Translation3d(ref) * Eigen::AngleAxisd(angleDeg * sim::kRadPerDeg, axis.normalized()) *
           Eigen::Translation3d(-ref);
}

bool Same(const Transform &a, const Transform &b, double tol = kTol) {
    return (a.matrix() - b.matrix()).cwiseAbs().maxCoeff() < tol;
}
bool Identity(const Transform &t) { return Same(t, Transform::Identity()); }

// ----- the evaluator on hand-made components
TEST(Evaluator, ComponentFractionCoversItsRangeOnly) {
    sim::AnimationComponent c;
    c.state0 = 0.2;
    c.state1 = 0.6;
    EXPECT_DOUBLE_EQ(sim::ComponentFraction(c, 0.1), 0.0);
    EXPECT_DOUBLE_EQ(sim::ComponentFraction(c, 0.4), 0.5);
    EXPECT_DOUBLE_EQ(sim::ComponentFraction(c, 0.9), 1.0);
    c.state1 = c.state0;  // an empty range jumps at its state
    EXPECT_DOUBLE_EQ(sim::ComponentFraction(c, 0.19), 0.0);
    EXPECT_DOUBLE_EQ(sim::ComponentFraction(c, 0.2), 1.0);
}

TEST(Evaluator, MotionIsRelativeToTheModelledStateAndChildrenRideOnParents) {
    UINT g1[] = {1}, g2[] = {2};
    MGROUP_ROTATE hinge(0, g1, 1, _V(1, 0, 0), _V(0, 1, 0), static_cast<float>(90 * sim::kRadPerDeg));
    MGROUP_TRANSLATE slide(0, g2, 1, _V(0, 0, 2));
    Vessel v;
    v.actuators.animations.resize(2);
    v.actuators.animations[0].initialState = 0.5;  // modelled half open
    auto parent = std::make_unique<sim::AnimationComponent>();
    parent->animation = 0;
    parent->transform = &hinge;
    auto child = std::make_unique<sim::AnimationComponent>();
    child->animation = 1;
    child->transform = &slide;
    child->parent = parent.get();
    v.actuators.components.push_back(std::move(parent));
    v.actuators.components.push_back(std::move(child));

    v.actuators.animations[0].state = 0.5;
    v.actuators.animations[1].state = 0.0;
    EXPECT_TRUE(Identity(sim::GroupTransform(v, 0, 1)));
    EXPECT_TRUE(Identity(sim::GroupTransform(v, 0, 2)));

    v.actuators.animations[0].state = 1.0;  // 45 deg further than modelled
    v.actuators.animations[1].state = 1.0;
    const Transform hingeMotion = Rotation(Vec3(1, 0, 0), Vec3(0, 1, 0), 45.0);
    EXPECT_TRUE(Same(sim::GroupTransform(v, 0, 1), hingeMotion));
    EXPECT_TRUE(Same(sim::GroupTransform(v, 0, 2), hingeMotion * Eigen::Translation3d(Vec3(0, 0, 2))));
}

TEST(Evaluator, ScalingIsRelativeToTheModelledFactor) {
    UINT g[] = {5};
    MGROUP_SCALE mast(0, g, 1, _V(0, 1, 0), _V(1, 3, 1));
    Vessel v;
    v.actuators.animations.resize(1);
    v.actuators.animations[0].initialState = 0.5;  // modelled at factor 2
    auto c = std::make_unique<sim::AnimationComponent>();
    c->transform = &mast;
    v.actuators.components.push_back(std::move(c));
    v.actuators.animations[0].state = 1.0;
    const Vec3 p = sim::GroupTransform(v, 0, 5) * Vec3(0, 3, 0);
    EXPECT_NEAR(p.y(), 1.0 + 2.0 * 1.5, 1e-12);
}

// ----- the lander's animations
class LanderAnimations : public ::testing::Test {
protected:
    LanderAnimations() : world(MakeWorld(ScenarioWith(LanderBlock(LandedLines())))), lander(*world->Focus()) {}
    void Set(LanderAnimation a, double state) { lander.actuators.animations.at(a).state = state; }
    Transform Group(UINT g) const { return sim::GroupTransform(lander, 0, g); }

    std::unique_ptr<sim::World> world;
    Vessel &lander;
};

TEST_F(LanderAnimations, NothingIsDisplacedAtTheInitialStates) {
    ASSERT_EQ(lander.actuators.animations.size(), 8u);
    EXPECT_DOUBLE_EQ(lander.actuators.animations[kArmRot].state, 0.7);
    const auto poses = sim::EvaluateGroupPoses(lander);
    EXPECT_GT(poses.size(), 80u);
    for (const auto &p : poses) EXPECT_TRUE(Identity(p.transform)) << "group " << p.group;
}

TEST_F(LanderAnimations, SolarPanelOneHingeAloneAtFivePercent) {
    Set(kSolar, 0.05);
    const Transform hinge = Rotation(Vec3(-0.789, 0, 0.356), Vec3(0, 1, 0), 90.0);
    EXPECT_TRUE(Same(Group(14), hinge));
    EXPECT_TRUE(Same(Group(51), hinge));
    EXPECT_TRUE(Same(Group(52), hinge));  // segment 1 rides along, unfolded
    EXPECT_TRUE(Same(Group(67), hinge));  // segment 20 likewise
    for (UINT g : {13u, 50u, 32u, 86u}) EXPECT_TRUE(Identity(Group(g))) << g;  // panel two untouched
}

TEST_F(LanderAnimations, LegOneOutWithItsFootAtOneThird) {
    Set(kLegs, 0.333);
    const Transform strut(Eigen::Translation3d(Vec3(0, -0.24941376, 0.144)));
    EXPECT_TRUE(Same(Group(99), strut));
    EXPECT_TRUE(Same(Group(10), strut));  // the foot is carried by its strut
    EXPECT_TRUE(Same(Group(55), strut));
    EXPECT_TRUE(Same(Group(48), Rotation(Vec3(-0.574, -0.176, 0.299), Vec3(0.7165, -0.3488, -0.6041), 14.4), 1e-5));
    for (UINT g : {100u, 98u, 11u, 12u, 39u, 41u}) EXPECT_TRUE(Identity(Group(g))) << g;
}

TEST_F(LanderAnimations, CameraPoseAtZeroAndOneIsTheSame) {
    Set(kDeck, 1.0);
    Set(kCamera, 0.0);
    std::vector<Transform> atZero;
    for (UINT g : {6u, 7u, 8u, 9u}) atZero.push_back(Group(g));
    Set(kCamera, 1.0);
    for (UINT g = 6; g <= 9; ++g) EXPECT_TRUE(Same(Group(g), atZero[g - 6], 1e-5)) << g;
    Set(kCamera, 0.25);
    EXPECT_FALSE(Same(Group(6), atZero[0], 1e-3));
}

TEST_F(LanderAnimations, ForearmFollowsTheSlideAndTheElbow) {
    const Vec3 elbowLine(0.7071, 0, -0.7071), elbowRef(0.367, 0.327, 0.274);
    const Transform shoulder = Rotation(Vec3(-0.42, 0.327, -0.723), elbowLine, -180.0);
    Set(kArmSlide, 1.0);
    Set(kArmElbow, 0.0);
    EXPECT_TRUE(Same(Group(23), shoulder * Rotation(elbowRef, elbowLine, 108.0), 1e-5));
    EXPECT_TRUE(Same(Group(21), shoulder, 1e-5));
    Set(kArmElbow, 1.0);
    EXPECT_TRUE(Same(Group(23), shoulder * Rotation(elbowRef, elbowLine, 18.0), 1e-5));
    // Turning the turret carries the whole arm.
    Set(kArmRot, 1.0);
    const Transform turret = Rotation(Vec3(-0.502, 0, -0.641), Vec3(0, 1, 0), 0.3 * 2.6179833 / sim::kRadPerDeg);
    EXPECT_TRUE(Same(Group(23), turret * shoulder * Rotation(elbowRef, elbowLine, 18.0), 1e-5));
}

}  // namespace
}  // namespace vtal::simtest

// An independent transcription of the lander's behaviour: change it only with the behaviour, never to make it simpler.
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/LanderFixture.h"
#include "unit/lander/LanderLog.h"

namespace vtal::testing {
namespace {

using AnimationsTest = LanderTest;

// Animations in creation order.
enum Anim { SOLAR, LEGS, FEET, DECK, CAMERA, ARM_ROT, ARM_SLIDE, ARM_ELBOW, ANIM_COUNT };

const double kPi = std::acos(-1.0);
float Deg(double degrees) { return static_cast<float>(degrees * kPi / 180.0); }

const int kNoParent = -1;

// One component as the lander's mesh needs it. For a rotation `a` is the
// reference point and `b` the axis; for a translation `a` is the shift; for a
// scaling `a` is the reference point and `b` the factors.
struct Component {
    Anim anim;
    double from, to;
    MGROUP_TRANSFORM::TYPE kind;
    std::vector<UINT> groups;
    VECTOR3 a, b;
    float angle;  // rad, rotations only
    int parent;   // row of the parent component, or kNoParent
};

Component Rot(Anim anim, double from, double to, std::vector<UINT> groups, VECTOR3 ref, VECTOR3 axis, float angle,
              int parent = kNoParent) {
    return {anim, from, to, MGROUP_TRANSFORM::ROTATE, std::move(groups), ref, axis, angle, parent};
}
Component Shift(Anim anim, double from, double to, std::vector<UINT> groups, VECTOR3 shift, int parent = kNoParent) {
    return {anim, from, to, MGROUP_TRANSFORM::TRANSLATE, std::move(groups), shift, _V(0, 0, 0), 0.0f, parent};
}

// Every component of the lander in the order the host must receive them.
std::vector<Component> ExpectedComponents() {
    std::vector<Component> rows;
    auto add = [&rows](Component c) {
        rows.push_back(std::move(c));
        return static_cast<int>(rows.size()) - 1;
    };

    // Solar panels: hinge, then a fan-folded chain of 20 segments.
    const UINT listA[20] = {52, 76, 58, 75, 59, 74, 60, 73, 61, 72, 62, 71, 63, 70, 64, 69, 65, 68, 66, 67};
    const UINT listB[20] = {32, 95, 77, 94, 78, 93, 79, 92, 80, 91, 81, 90, 82, 89, 83, 88, 84, 87, 85, 86};
    int parent = add(Rot(SOLAR, 0, 0.05, {14, 51}, _V(-0.789, 0, 0.356), _V(0, 1, 0), Deg(90)));
    for (int k = 1; k <= 20; ++k)
        parent = add(Rot(SOLAR, 0.1, 0.75, {listA[k - 1]}, _V(-0.7755, 0.275, -0.556),
                         k % 2 ? _V(0, 0, 1) : _V(0, 0.309, -0.951), Deg(k == 1 ? 90 : 180), parent));
    parent = add(Rot(SOLAR, 0.05, 0.1, {13, 50}, _V(0.789, 0, 0.356), _V(0, -1, 0), Deg(90)));
    for (int k = 1; k <= 20; ++k)
        parent = add(Rot(SOLAR, 0.35, 1, {listB[k - 1]}, _V(0.7755, 0.275, -0.556),
                         k % 2 ? _V(0, 0, -1) : _V(0, -0.309, 0.951), Deg(k == 1 ? 90 : 180), parent));

    // Legs, each followed by its foot.
    int strut = add(Shift(LEGS, 0, 0.333, {99}, _V(0, -0.24941376, 0.144)));
    int link = add(Rot(LEGS, 0, 0.333, {48}, _V(-0.574, -0.176, 0.299), _V(0.7165, -0.3488, -0.6041), Deg(14.4)));
    add(Shift(LEGS, 0, 0.333, {47}, _V(0.0756, -0.00888, 0.0948), link));
    link = add(Rot(LEGS, 0, 0.333, {37}, _V(0.574, -0.176, 0.299), _V(-0.7165, -0.3488, -0.6041), Deg(-14.4)));
    add(Shift(LEGS, 0, 0.333, {46}, _V(-0.0756, -0.00888, 0.0948), link));
    add(Rot(FEET, 0, 1, {10, 55}, _V(0, -0.25, 0.995), _V(1, 0, 0), Deg(18.99), strut));

    strut = add(Shift(LEGS, 0.333, 0.666, {100}, _V(0.12470688, -0.24941376, -0.072)));
    link = add(Rot(LEGS, 0.333, 0.666, {39}, _V(0.545, -0.176, 0.348), _V(-0.8863, -0.3329, -0.322), Deg(14.4)));
    add(Shift(LEGS, 0.333, 0.666, {43}, _V(0.0444, -0.00888, -0.11304), link));
    link = add(Rot(LEGS, 0.333, 0.666, {38}, _V(-0.028, -0.176, -0.646), _V(0.1639, 0.3328, -0.9287), Deg(14.4)));
    add(Shift(LEGS, 0.333, 0.666, {42}, _V(0.12, -0.00888, 0.018), link));
    add(Rot(FEET, 0, 1, {11, 56}, _V(0.862, -0.25, -0.4975), _V(0.5, 0, 0.866), Deg(-18.99), strut));

    strut = add(Shift(LEGS, 0.666, 1, {98}, _V(-0.12470688, -0.24941376, -0.072)));
    link = add(Rot(LEGS, 0.666, 1, {40}, _V(-0.545, -0.176, 0.348), _V(0.8863, -0.3329, -0.322), Deg(-14.4)));
    add(Shift(LEGS, 0.666, 1, {44}, _V(-0.0444, -0.00888, -0.11304), link));
    link = add(Rot(LEGS, 0.666, 1, {41}, _V(0.028, -0.176, -0.646), _V(-0.1639, 0.3328, -0.9287), Deg(-14.4)));
    add(Shift(LEGS, 0.666, 1, {45}, _V(-0.12, -0.00888, 0.018), link));
    add(Rot(FEET, 0, 1, {12, 57}, _V(-0.862, -0.25, -0.4975), _V(0.5, 0, -0.866), Deg(-18.99), strut));

    // Instrument deck.
    const VECTOR3 hinge = _V(0.49, 0.277, 0.289), hingeAxis = _V(0.7071, 0, 0.7071);
    parent = add(Rot(DECK, 0, 0.25, {36}, hinge, hingeAxis, Deg(22.5)));
    parent = add(Rot(DECK, 0, 0.25, {97}, hinge, hingeAxis, Deg(45), parent));
    parent = add(Rot(DECK, 0, 0.25, {96}, hinge, hingeAxis, Deg(45), parent));
    add(Rot(DECK, 0, 0.25, {35}, hinge, hingeAxis, Deg(45), parent));
    add(Rot(DECK, 0.1, 0.35, {2, 3}, _V(0.47, 0.309, 0.603), _V(-0.7071, 0, 0.7071), Deg(-90)));
    add(Rot(DECK, 0.35, 0.4, {19}, _V(-0.163, 0.609, 0), _V(0, 0, 1), Deg(-225)));
    add(Shift(DECK, 0.5, 1, {6, 7, 8, 9}, _V(0, 0.6125, 0)));
    add({DECK, 0.5, 1, MGROUP_TRANSFORM::SCALE, {20}, _V(-0.505, 0.293, -0.087), _V(1, 17.85625, 1), 0.0f,
         kNoParent});

    add(Rot(CAMERA, 0, 1, {6, 7, 8, 9}, _V(-0.505, 0.293, -0.087), _V(0, 1, 0), Deg(360)));

    // Arm: turret, shoulder, group-less elbow pivot, forearm.
    const VECTOR3 jointAxis = _V(0.7071, 0, -0.7071);
    parent = add(Rot(ARM_ROT, 0, 1, {27}, _V(-0.502, 0, -0.641), _V(0, 1, 0), 2.6179833f));
    parent = add(Rot(ARM_SLIDE, 0, 1, {21, 22, 30}, _V(-0.42, 0.327, -0.723), jointAxis, Deg(-180), parent));
    parent = add(Rot(ARM_SLIDE, 0, 1, {}, _V(0.367, 0.327, 0.274), jointAxis, Deg(108), parent));
    add(Rot(ARM_ELBOW, 0, 1, {23, 25, 26, 29}, _V(0.367, 0.327, 0.274), jointAxis, Deg(-90), parent));
    return rows;
}

void ExpectVec(const VECTOR3 &actual, const VECTOR3 &expected, const char *what) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(actual.data[i], expected.data[i]) << what << "[" << i << "]";
}

void ExpectTransform(const MGROUP_TRANSFORM *t, const Component &c) {
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->Type(), c.kind);
    EXPECT_EQ(t->mesh, 0u);
    ASSERT_EQ(t->ngrp, c.groups.size());
    for (std::size_t g = 0; g < c.groups.size(); ++g) EXPECT_EQ(t->grp[g], c.groups[g]) << "group " << g;
    switch (c.kind) {
        case MGROUP_TRANSFORM::ROTATE: {
            auto *r = static_cast<const MGROUP_ROTATE *>(t);
            ExpectVec(r->ref, c.a, "ref");
            ExpectVec(r->axis, c.b, "axis");
            EXPECT_EQ(r->angle, c.angle);  // the float the host gets, to the bit
            break;
        }
        case MGROUP_TRANSFORM::TRANSLATE:
            ExpectVec(static_cast<const MGROUP_TRANSLATE *>(t)->shift, c.a, "shift");
            break;
        default: {
            auto *s = static_cast<const MGROUP_SCALE *>(t);
            ExpectVec(s->ref, c.a, "ref");
            ExpectVec(s->scale, c.b, "scale");
        }
    }
}

// The animation calls of one lander's class capabilities.
struct Definition {
    std::vector<Call> animations;  // CreateAnimation, in order
    std::vector<Call> components;  // AddAnimationComponent, in order

    UINT Id(Anim a) const { return static_cast<UINT>(animations.at(a).integer(1)); }
    const MGROUP_TRANSFORM *Transform(std::size_t row) const {
        return static_cast<const MGROUP_TRANSFORM *>(components.at(row).ptr(3));
    }
    const void *Parent(std::size_t row) const { return components.at(row).ptr(4); }
    const void *Handle(std::size_t row) const { return Returned(components.at(row)); }
};

class DefinedLander {
public:
    DefinedLander(recording::RecordingBackend &rec, int n)
        : lander(std::make_unique<Lander>(recording::FakeVesselHandle(n), 1)) {
        lander->clbkSetClassCaps(nullptr);
        def.animations = CallsNamedBy(rec, "CreateAnimation", lander->GetHandle());
        def.components = CallsNamedBy(rec, "AddAnimationComponent", lander->GetHandle());
    }
    std::unique_ptr<Lander> lander;
    Definition def;
};

TEST_F(AnimationsTest, EveryComponentWithItsRangeTransformAndParent) {
    DefinedLander d(rec, 1);
    const std::vector<Component> rows = ExpectedComponents();
    ASSERT_EQ(rows.size(), 73u);
    ASSERT_EQ(d.def.animations.size(), static_cast<std::size_t>(ANIM_COUNT));
    ASSERT_EQ(d.def.components.size(), rows.size());

    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("component row " + std::to_string(i));
        const Component &c = rows[i];
        const Call &call = d.def.components[i];
        EXPECT_EQ(call.integer(0), d.def.Id(c.anim));
        EXPECT_EQ(call.num(1), c.from);
        EXPECT_EQ(call.num(2), c.to);
        ExpectTransform(d.def.Transform(i), c);
        EXPECT_EQ(d.def.Parent(i), c.parent == kNoParent ? nullptr : d.def.Handle(c.parent));
    }
}

TEST_F(AnimationsTest, IdsAndParentHandlesAreKeptInTheLander) {
    DefinedLander d(rec, 1);
    const Lander &L = *d.lander;
    const Definition &def = d.def;

    const std::vector<std::pair<UINT, Anim>> ids = {
        {L.animSolar, SOLAR}, {L.animLegs, LEGS},       {L.animFeet, FEET},           {L.animDeck, DECK},
        {L.animCamera, CAMERA}, {L.animArmRot, ARM_ROT}, {L.animArmSlide, ARM_SLIDE}, {L.animArmElbow, ARM_ELBOW}};
    for (const auto &[member, anim] : ids) EXPECT_EQ(member, def.Id(anim)) << "animation " << anim;

    // Rows of the components whose handles later components take as parent;
    // the solar chains end with segment 20 in the even element, 19 in the odd.
    const std::vector<std::pair<ANIMATIONCOMPONENT_HANDLE, std::size_t>> held = {
        {L.solarChainComp[0], 20}, {L.solarChainComp[1], 19}, {L.solarChainComp[2], 41},
        {L.solarChainComp[3], 40}, {L.legStrutComp[0], 42},   {L.legLinkComp[0], 43},
        {L.legLinkComp[1], 45},    {L.legStrutComp[1], 48},   {L.legLinkComp[2], 49},
        {L.legLinkComp[3], 51},    {L.legStrutComp[2], 54},   {L.legLinkComp[4], 55},
        {L.legLinkComp[5], 57},    {L.deckChainComp[0], 60},  {L.deckChainComp[1], 61},
        {L.deckChainComp[2], 62},  {L.armComp[0], 69},        {L.armComp[1], 70},
        {L.armComp[2], 71}};
    for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(held[i].first, def.Handle(held[i].second)) << i;
}

TEST_F(AnimationsTest, EachAnimationStartsAtItsStateField) {
    auto lander = MakeLander();
    Lander &L = *lander;
    L.solarPos = 0.11, L.legsPos = 0.22, L.feetPos = 0.33, L.deckPos = 0.44;
    L.cameraPos = 0.55, L.armRotPos = 0.66, L.armSlidePos = 0.77, L.armElbowPos = 0.88;
    L.DefineAnimations();
    const std::vector<double> expected = {0.11, 0.22, 0.33, 0.44, 0.55, 0.66, 0.77, 0.88};  // creation order
    std::vector<Call> created = rec.callsNamed("CreateAnimation");
    ASSERT_EQ(created.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(created[i].num(0), expected[i]) << "animation " << i;
}

TEST_F(AnimationsTest, EachComponentHasItsOwnStaticTransformAndGroupList) {
    DefinedLander d(rec, 1);
    const auto *storeBegin = reinterpret_cast<const unsigned char *>(&animationTransforms);
    const auto *storeEnd = storeBegin + sizeof(animationTransforms);
    std::set<const void *> transforms, groupLists;
    for (std::size_t i = 0; i < d.def.components.size(); ++i) {
        const MGROUP_TRANSFORM *t = d.def.Transform(i);
        const auto *at = reinterpret_cast<const unsigned char *>(t);
        EXPECT_TRUE(at >= storeBegin && at < storeEnd) << "row " << i << " outside the module's storage";
        transforms.insert(t);
        if (t->ngrp > 0) groupLists.insert(t->grp);
    }
    EXPECT_EQ(transforms.size(), 73u);
    EXPECT_EQ(groupLists.size(), 72u);  // the elbow pivot alone moves no group
    EXPECT_TRUE(animationTransforms.built.all());
}

TEST_F(AnimationsTest, SecondLanderReusesTheTransformsAndGetsItsOwnIdsAndHandles) {
    DefinedLander first(rec, 1);
    ResetModuleState();  // module values reset between landers must not touch the transforms
    DefinedLander second(rec, 2);
    const std::vector<Component> rows = ExpectedComponents();
    ASSERT_EQ(second.def.components.size(), rows.size());

    std::set<const void *> firstHandles;
    for (std::size_t i = 0; i < rows.size(); ++i) firstHandles.insert(first.def.Handle(i));

    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("component row " + std::to_string(i));
        EXPECT_EQ(second.def.Transform(i), first.def.Transform(i));
        ExpectTransform(second.def.Transform(i), rows[i]);  // unchanged by the second definition
        EXPECT_EQ(firstHandles.count(second.def.Handle(i)), 0u);
        if (rows[i].parent != kNoParent) {
            EXPECT_EQ(second.def.Parent(i), second.def.Handle(rows[i].parent));
        }
        EXPECT_EQ(second.def.components[i].integer(0), second.def.Id(rows[i].anim));
    }
    EXPECT_EQ(second.lander->animArmElbow, second.def.Id(ARM_ELBOW));
    EXPECT_EQ(second.lander->armComp[2], second.def.Handle(71));
    EXPECT_NE(second.lander->armComp[2], first.lander->armComp[2]);
}

TEST_F(AnimationsTest, LaterLandersDoNotRebuildTheTransforms) {
    DefinedLander first(rec, 1);
    // Mark one object of each kind; a rebuild would overwrite the marks.
    auto *turret = static_cast<MGROUP_ROTATE *>(const_cast<MGROUP_TRANSFORM *>(first.def.Transform(69)));
    auto *strut = static_cast<MGROUP_TRANSLATE *>(const_cast<MGROUP_TRANSFORM *>(first.def.Transform(42)));
    const float turretAngle = turret->angle;
    const VECTOR3 strutShift = strut->shift;
    turret->angle = 123.0f;
    strut->shift.y = 456.0;

    DefinedLander second(rec, 2);
    const float markedAngle = turret->angle;
    const double markedShift = strut->shift.y;
    turret->angle = turretAngle;  // restore before asserting: the objects live on for later tests
    strut->shift = strutShift;
    EXPECT_EQ(markedAngle, 123.0f);
    EXPECT_EQ(markedShift, 456.0);
    EXPECT_EQ(second.def.Transform(69), turret);
}

}  // namespace
}  // namespace vtal::testing

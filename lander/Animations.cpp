// The lander's animations: two fan-folded solar panels, three legs with their
// feet, the instrument deck, the camera and the three arm joints. Each is a
// list of mesh-group transforms, every one active over part of the
// animation's 0..1 state and possibly carried along by a parent component.
// The host calls run for every lander; the transform objects behind them are
// built once per loaded module and shared (see AnimationTransforms).
#include <cstddef>
#include <new>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

const UINT kLanderMesh = 0;  // the lander mesh is the vessel's first and only mesh
// π to the double's full precision (not the guidance's 15-digit kPiAsTuned).
const double kPiFullPrecision = 3.14159265358979323846;
const double kRadPerDegree = kPiFullPrecision / 180.0;

// Rotation angles are kept by the host as single-precision radians.
float Radians(double degrees) { return static_cast<float>(degrees * kRadPerDegree); }

struct StateRange {
    double from, to;
};
const StateRange kWholeState = {0.0, 1.0};

// A constant list of mesh groups. A count of 0 moves nothing of its own and
// only carries its children.
struct Groups {
    const UINT *list;
    UINT count;
};
template <std::size_t N>
Groups GroupsOf(const UINT (&list)[N]) {
    return {list, static_cast<UINT>(N)};
}
Groups SingleGroup(const UINT &group) { return {&group, 1}; }
const Groups kNoGroups = {nullptr, 0};

// The SDK's transform classes take a writable list; the host only reads it.
UINT *HostGroupList(Groups groups) { return const_cast<UINT *>(groups.list); }

// Adds one lander's components in their fixed order. The n-th component of
// every lander uses the n-th shared transform, built by the first lander that
// gets there and handed unchanged to the host ever after.
class ComponentAdder {
public:
    explicit ComponentAdder(const Lander &lander) : lander_(lander) {}

    ANIMATIONCOMPONENT_HANDLE Rotate(UINT anim, StateRange range, Groups groups, const VECTOR3 &ref,
                                     const VECTOR3 &axis, float angle,
                                     ANIMATIONCOMPONENT_HANDLE parent = nullptr) {
        MGROUP_TRANSFORM *t = Shared<MGROUP_ROTATE>(kLanderMesh, HostGroupList(groups), groups.count, ref,
                                                    axis, angle);
        return lander_.AddAnimationComponent(anim, range.from, range.to, t, parent);
    }

    ANIMATIONCOMPONENT_HANDLE Translate(UINT anim, StateRange range, Groups groups, const VECTOR3 &shift,
                                        ANIMATIONCOMPONENT_HANDLE parent = nullptr) {
        MGROUP_TRANSFORM *t = Shared<MGROUP_TRANSLATE>(kLanderMesh, HostGroupList(groups), groups.count, shift);
        return lander_.AddAnimationComponent(anim, range.from, range.to, t, parent);
    }

    ANIMATIONCOMPONENT_HANDLE Scale(UINT anim, StateRange range, Groups groups, const VECTOR3 &ref,
                                    const VECTOR3 &factors, ANIMATIONCOMPONENT_HANDLE parent = nullptr) {
        MGROUP_TRANSFORM *t = Shared<MGROUP_SCALE>(kLanderMesh, HostGroupList(groups), groups.count, ref,
                                                   factors);
        return lander_.AddAnimationComponent(anim, range.from, range.to, t, parent);
    }

private:
    template <class Transform, class... Args>
    MGROUP_TRANSFORM *Shared(const Args &...args) {
        vtal::AnimationTransforms &store = vtal::animationTransforms;
        const std::size_t slot = next_++;
        if (!store.built.test(slot)) {  // test() throws past the last slot: a component too many
            store.objects[slot] = new (store.slots[slot].bytes) Transform(args...);
            store.built.set(slot);
        }
        return store.objects[slot];
    }

    const Lander &lander_;
    std::size_t next_ = 0;
};

// ---- solar panels
// Each panel swings out on a hinge, then unfolds a chain of 20 segments, each
// segment turning about the fold line as carried by the segment before it.
const int kPanelSegments = 20;
const double kHingeSwingDeg = 90.0;
const double kFirstFoldDeg = 90.0;  // the first segment lies half folded when stowed
const double kFoldDeg = 180.0;

struct SolarPanel {
    StateRange hingeRange;
    UINT hingeGroups[2];
    VECTOR3 hingeRef, hingeAxis;
    StateRange foldRange;
    UINT segmentGroups[kPanelSegments];  // segment 1 first
    VECTOR3 foldRef;
    VECTOR3 oddFoldAxis, evenFoldAxis;   // the fan folds alternate direction
};

const SolarPanel kPanelOne = {
    {0.0, 0.05}, {14, 51}, {{-0.789, 0.0, 0.356}}, {{0.0, 1.0, 0.0}},
    {0.1, 0.75}, {52, 76, 58, 75, 59, 74, 60, 73, 61, 72, 62, 71, 63, 70, 64, 69, 65, 68, 66, 67},
    {{-0.7755, 0.275, -0.556}}, {{0.0, 0.0, 1.0}}, {{0.0, 0.309, -0.951}},
};
const SolarPanel kPanelTwo = {
    {0.05, 0.1}, {13, 50}, {{0.789, 0.0, 0.356}}, {{0.0, -1.0, 0.0}},
    {0.35, 1.0}, {32, 95, 77, 94, 78, 93, 79, 92, 80, 91, 81, 90, 82, 89, 83, 88, 84, 87, 85, 86},
    {{0.7755, 0.275, -0.556}}, {{0.0, 0.0, -1.0}}, {{0.0, -0.309, 0.951}},
};

// `chain` holds two handles that take turns as the newest link of the chain.
void AddSolarPanel(ComponentAdder &add, UINT anim, const SolarPanel &panel, ANIMATIONCOMPONENT_HANDLE chain[2]) {
    chain[0] = add.Rotate(anim, panel.hingeRange, GroupsOf(panel.hingeGroups), panel.hingeRef, panel.hingeAxis,
                          Radians(kHingeSwingDeg));
    for (int k = 1; k <= kPanelSegments; ++k) {
        const bool odd = (k % 2) == 1;
        chain[k % 2] = add.Rotate(anim, panel.foldRange, SingleGroup(panel.segmentGroups[k - 1]), panel.foldRef,
                                  odd ? panel.oddFoldAxis : panel.evenFoldAxis,
                                  Radians(k == 1 ? kFirstFoldDeg : kFoldDeg), chain[(k - 1) % 2]);
    }
}

// ---- legs and feet
// Each leg slides its main strut out and swings two hinged links, each link
// sliding its end segment; the foot rides on the strut.
struct LegLink {
    UINT group;
    VECTOR3 hingeRef, hingeAxis;
    double angleDeg;
    UINT endGroup;
    VECTOR3 endShift;
};

struct Foot {
    UINT groups[2];
    VECTOR3 ref, axis;
    double angleDeg;
};

struct Leg {
    StateRange range;  // the legs come out one after another
    UINT strutGroup;
    VECTOR3 strutShift;  // 0.288 m, 60 degrees below the horizontal
    LegLink links[2];
    Foot foot;
};

const Leg kLegs[3] = {
    {{0.0, 0.333},
     99,
     {{0.0, -0.24941376, 0.144}},
     {{48, {{-0.574, -0.176, 0.299}}, {{0.7165, -0.3488, -0.6041}}, 14.4, 47, {{0.0756, -0.00888, 0.0948}}},
      {37, {{0.574, -0.176, 0.299}}, {{-0.7165, -0.3488, -0.6041}}, -14.4, 46, {{-0.0756, -0.00888, 0.0948}}}},
     {{10, 55}, {{0.0, -0.25, 0.995}}, {{1.0, 0.0, 0.0}}, 18.99}},
    {{0.333, 0.666},
     100,
     {{0.12470688, -0.24941376, -0.072}},
     {{39, {{0.545, -0.176, 0.348}}, {{-0.8863, -0.3329, -0.322}}, 14.4, 43, {{0.0444, -0.00888, -0.11304}}},
      {38, {{-0.028, -0.176, -0.646}}, {{0.1639, 0.3328, -0.9287}}, 14.4, 42, {{0.12, -0.00888, 0.018}}}},
     {{11, 56}, {{0.862, -0.25, -0.4975}}, {{0.5, 0.0, 0.866}}, -18.99}},
    {{0.666, 1.0},
     98,
     {{-0.12470688, -0.24941376, -0.072}},
     {{40, {{-0.545, -0.176, 0.348}}, {{0.8863, -0.3329, -0.322}}, -14.4, 44, {{-0.0444, -0.00888, -0.11304}}},
      {41, {{0.028, -0.176, -0.646}}, {{-0.1639, 0.3328, -0.9287}}, -14.4, 45, {{-0.12, -0.00888, 0.018}}}},
     {{12, 57}, {{-0.862, -0.25, -0.4975}}, {{0.5, 0.0, -0.866}}, -18.99}},
};

void AddLeg(ComponentAdder &add, Lander &lander, int n) {
    const Leg &leg = kLegs[n];
    lander.legStrutComp[n] = add.Translate(lander.animLegs, leg.range, SingleGroup(leg.strutGroup), leg.strutShift);
    for (int side = 0; side < 2; ++side) {
        const LegLink &link = leg.links[side];
        ANIMATIONCOMPONENT_HANDLE &held = lander.legLinkComp[2 * n + side];
        held = add.Rotate(lander.animLegs, leg.range, SingleGroup(link.group), link.hingeRef, link.hingeAxis,
                          Radians(link.angleDeg));
        add.Translate(lander.animLegs, leg.range, SingleGroup(link.endGroup), link.endShift, held);
    }
}

// A foot turns over the whole feet state, wherever its leg has taken it.
void AddFoot(ComponentAdder &add, Lander &lander, int n) {
    const Foot &foot = kLegs[n].foot;
    add.Rotate(lander.animFeet, kWholeState, GroupsOf(foot.groups), foot.ref, foot.axis, Radians(foot.angleDeg),
               lander.legStrutComp[n]);
}

// ---- instrument deck
// Four cover leaves fold open about one hinge line, each carried by the one
// before; then a flap at the deck's front edge turns down, a boom on top of
// the deck swings over, and the camera mast rises (head lifted, mast
// stretched about its base on the camera's spin axis).
const StateRange kCoverRange = {0.0, 0.25};
const VECTOR3 kCoverHingeRef = {{0.49, 0.277, 0.289}};
const VECTOR3 kCoverHingeAxis = {{0.7071, 0.0, 0.7071}};
const double kFirstLeafDeg = 22.5;
const double kLeafDeg = 45.0;
const UINT kCoverLeafGroups[4][1] = {{36}, {97}, {96}, {35}};

const StateRange kFrontFlapRange = {0.1, 0.35};
const UINT kFrontFlapGroups[] = {2, 3};
const VECTOR3 kFrontFlapRef = {{0.47, 0.309, 0.603}};
const VECTOR3 kFrontFlapAxis = {{-0.7071, 0.0, 0.7071}};
const double kFrontFlapDeg = -90.0;

const StateRange kTopBoomRange = {0.35, 0.4};
const UINT kTopBoomGroups[] = {19};
const VECTOR3 kTopBoomRef = {{-0.163, 0.609, 0.0}};
const VECTOR3 kTopBoomAxis = {{0.0, 0.0, 1.0}};
const double kTopBoomDeg = -225.0;

const StateRange kMastRange = {0.5, 1.0};
const UINT kCameraHeadLiftGroups[] = {6, 7, 8, 9};
const VECTOR3 kCameraHeadLift = {{0.0, 0.6125, 0.0}};  // m
const UINT kMastGroups[] = {20};
const VECTOR3 kMastBase = {{-0.505, 0.293, -0.087}};
const VECTOR3 kMastStretch = {{1.0, 17.85625, 1.0}};

void AddDeck(ComponentAdder &add, Lander &lander) {
    const UINT anim = lander.animDeck;
    ANIMATIONCOMPONENT_HANDLE parent = nullptr;
    for (int leaf = 0; leaf < 4; ++leaf) {
        ANIMATIONCOMPONENT_HANDLE h =
            add.Rotate(anim, kCoverRange, GroupsOf(kCoverLeafGroups[leaf]), kCoverHingeRef, kCoverHingeAxis,
                       Radians(leaf == 0 ? kFirstLeafDeg : kLeafDeg), parent);
        if (leaf < 3) lander.deckChainComp[leaf] = h;
        parent = h;
    }
    add.Rotate(anim, kFrontFlapRange, GroupsOf(kFrontFlapGroups), kFrontFlapRef, kFrontFlapAxis,
               Radians(kFrontFlapDeg));
    add.Rotate(anim, kTopBoomRange, GroupsOf(kTopBoomGroups), kTopBoomRef, kTopBoomAxis,
               Radians(kTopBoomDeg));
    add.Translate(anim, kMastRange, GroupsOf(kCameraHeadLiftGroups), kCameraHeadLift);
    add.Scale(anim, kMastRange, GroupsOf(kMastGroups), kMastBase, kMastStretch);
}

// ---- camera
// A full turn over the state, so the state can wrap past 1 without a jump.
const UINT kCameraSpinGroups[] = {6, 7, 8, 9};
const VECTOR3 kCameraSpinRef = {{-0.505, 0.293, -0.087}};
const VECTOR3 kCameraSpinAxis = {{0.0, 1.0, 0.0}};
const double kCameraTurnDeg = 360.0;

// ---- arm
// Turret, then shoulder, then a group-less elbow pivot, then the forearm:
// the pivot turns the forearm about the elbow line while the shoulder swings.
const UINT kTurretGroups[] = {27};
const VECTOR3 kTurretRef = {{-0.502, 0.0, -0.641}};
const VECTOR3 kTurretAxis = {{0.0, 1.0, 0.0}};
const float kTurretTravel = 2.6179833f;  // rad, as modelled (a hair under 150 degrees)

const UINT kShoulderGroups[] = {21, 22, 30};
const VECTOR3 kShoulderRef = {{-0.42, 0.327, -0.723}};
const VECTOR3 kArmJointAxis = {{0.7071, 0.0, -0.7071}};
const double kShoulderDeg = -180.0;

const VECTOR3 kElbowRef = {{0.367, 0.327, 0.274}};
const double kElbowPivotDeg = 108.0;
const UINT kForearmGroups[] = {23, 25, 26, 29};
const double kElbowDeg = -90.0;

}  // namespace

void Lander::DefineAnimations() {
    ComponentAdder add(*this);

    animSolar = CreateAnimation(solarPos);
    AddSolarPanel(add, animSolar, kPanelOne, &solarChainComp[0]);
    AddSolarPanel(add, animSolar, kPanelTwo, &solarChainComp[2]);

    // Leg 1 comes before the feet animation exists; its foot follows it.
    animLegs = CreateAnimation(legsPos);
    AddLeg(add, *this, 0);
    animFeet = CreateAnimation(feetPos);
    AddFoot(add, *this, 0);
    for (int leg = 1; leg < 3; ++leg) {
        AddLeg(add, *this, leg);
        AddFoot(add, *this, leg);
    }

    animDeck = CreateAnimation(deckPos);
    AddDeck(add, *this);

    animCamera = CreateAnimation(cameraPos);
    add.Rotate(animCamera, kWholeState, GroupsOf(kCameraSpinGroups), kCameraSpinRef, kCameraSpinAxis,
               Radians(kCameraTurnDeg));

    animArmRot = CreateAnimation(armRotPos);
    armComp[0] = add.Rotate(animArmRot, kWholeState, GroupsOf(kTurretGroups), kTurretRef, kTurretAxis,
                            kTurretTravel);
    animArmSlide = CreateAnimation(armSlidePos);
    armComp[1] = add.Rotate(animArmSlide, kWholeState, GroupsOf(kShoulderGroups), kShoulderRef, kArmJointAxis,
                            Radians(kShoulderDeg), armComp[0]);
    armComp[2] = add.Rotate(animArmSlide, kWholeState, kNoGroups, kElbowRef, kArmJointAxis,
                            Radians(kElbowPivotDeg), armComp[1]);
    animArmElbow = CreateAnimation(armElbowPos);
    add.Rotate(animArmElbow, kWholeState, GroupsOf(kForearmGroups), kElbowRef, kArmJointAxis, Radians(kElbowDeg),
               armComp[2]);
}

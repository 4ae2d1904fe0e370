// A vessel as the flight host keeps it: what its module (or its
// configuration) defined, and its flight state. Handles handed to a module
// are the addresses of these records, which stay put for the vessel's life.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "host/Orbitersdk.h"
#include "sim/base/SimMath.h"

namespace vtal::sim {

struct Vessel;
class ModuleLibrary;

// Thruster group types the host drives by number (THGROUP_MAIN .. THGROUP_ATT_BACK).
constexpr int kGroupTypes = 15;
// Navigation modes 1..6, kept as bit (1 << mode); hold altitude (7) is
// switched independently of them.
constexpr int kFirstNavmode = 1;
constexpr int kLastNavmode = 6;
constexpr int kHoldAltitudeMode = 7;
// Navigation receivers of a vessel that can take the focus.
constexpr int kNavReceivers = 2;

struct Tank {
    Vessel *owner = nullptr;
    double maxMass = 0.0;  // kg
    double mass = 0.0;     // kg, as set (a module may overfill a tank); never below 0 by burning
    double efficiency = 1.0;
};

struct Thruster {
    Vessel *owner = nullptr;
    Vec3 pos = Vec3::Zero();  // vessel frame, m
    Vec3 dir = Vec3::UnitY(); // unit thrust direction
    double maxThrust = 0.0;   // N in vacuum
    Tank *tank = nullptr;
    double isp0 = 0.0, ispRef = 0.0, pRef = 101.4e3;
    double level = 0.0;      // permanent level, as set (unclamped through SetThrusterLevel)
    double override = 0.0;   // added for the next step only, then cleared
    double effective = 0.0;  // the actual level: clamp(level + override) of the last step, or as set since
};

struct ThrusterGroup {
    int type = 0;
    std::vector<Thruster *> members;
    double largestMoment = 0.0;  // |sum (dir * maxThrust) x pos|, N m
};

struct AnimationComponent {
    unsigned animation = 0;
    double state0 = 0.0, state1 = 1.0;
    MGROUP_TRANSFORM *transform = nullptr;  // the module's object, kept by reference
    AnimationComponent *parent = nullptr;
};

struct Animation {
    double initialState = 0.0;  // the state in which the mesh is modelled
    double state = 0.0;
    std::vector<AnimationComponent *> components;
};

struct ExhaustRecord {
    Thruster *thruster = nullptr;
    double length = 0.0, width = 0.0;
    bool placedByThruster = true;
    Vec3 pos = Vec3::Zero(), dir = Vec3::Zero();
    SURFHANDLE texture = nullptr;
};

struct StreamRecord {
    Thruster *thruster = nullptr;  // null for the re-entry stream
    Vec3 pos = Vec3::Zero();
    PARTICLESTREAMSPEC spec{};
    double createdAt = 0.0;
};

struct MeshRecord {
    std::string name;
    Vec3 offset = Vec3::Zero();
    WORD visibility = MESHVIS_EXTERNAL;
};

// Everything the vessel's definition sets: by the module in clbkSetClassCaps,
// or from the configuration file for a passive vessel. Set once; the host
// only reads it while flying.
struct VesselDefinition {
    double size = 10.0;         // radius, m (the host's default)
    double emptyMass = 1000.0;  // kg
    Vec3 pmi = Vec3(0.5, 0.5, 0.5);             // m^2
    Vec3 crossSections = Vec3(1.0, 1.0, 1.0);   // m^2
    double cwZPos = 0.0, cwZNeg = 0.0, cwX = 0.0, cwY = 0.0;
    Vec3 rotDrag = Vec3::Zero();
    double frictionLng = 0.1, frictionLat = 0.5;  // the host's defaults
    double pitchMomentScale = 0.0, bankMomentScale = 0.0, trimScale = 0.0;
    Vec3 cameraOffset = Vec3::Zero();
    double (*liftCoeff)(double) = nullptr;
    std::array<Vec3, 3> touchdown{Vec3(0, -0.5, 0.5), Vec3(-0.5, -0.5, -0.5), Vec3(0.5, -0.5, -0.5)};
    // Per touchdown point, taken when the points are set: 20 x empty mass
    // (1e6 if the empty mass is the default 1000 kg), and a tenth of it.
    double stiffness = 1e6, damping = 1e5;  // N/m, N s/m
    std::vector<MeshRecord> meshes;
    std::vector<ExhaustRecord> exhausts;
    std::vector<StreamRecord> streams;
};

// What the module and the host drive while flying: propellant, thrusters and
// their groups, the animations, and the navigation modes.
struct Actuators {
    std::vector<std::unique_ptr<Tank>> tanks;
    std::vector<std::unique_ptr<Thruster>> thrusters;
    std::vector<std::unique_ptr<ThrusterGroup>> groups;
    std::array<ThrusterGroup *, kGroupTypes> groupByType{};
    std::vector<Animation> animations;
    std::vector<std::unique_ptr<AnimationComponent>> components;  // in creation order
    unsigned navmodes = 0;          // bit (1 << mode) for modes 1..6
    bool holdAltitude = false;      // navigation mode 7: switched, not flown
    unsigned reportedNavmodes = 0;  // as last told to the module (bit 7: hold altitude)
    bool thrusting = false;         // some thruster fired with propellant in the last step
};

// Position, velocity, attitude and body rates: what the integrator advances.
struct Kinematics {
    Vec3 positionGlobal = Vec3::Zero();  // m
    Vec3 velocityGlobal = Vec3::Zero();  // m/s
    Quat attitude = Quat::Identity();    // vessel -> global
    Vec3 bodyRates = Vec3::Zero();       // rad/s in the vessel frame, host convention
};

// What the host computes of the surface once per step, from the new state,
// and answers until the next step: altitude, ground-relative velocity and the
// attitude angles.
struct SurfaceState {
    double altitude = 0.0;                     // m over the mean radius
    Vec3 groundVelocityGlobal = Vec3::Zero();  // relative to the turning surface
    Vec3 airspeedVessel = Vec3::Zero();        // vessel frame
    Vec3 airspeedHorizon = Vec3::Zero();       // east, up, north
    double pitchRad = 0.0, bankRad = 0.0, headingRad = 0.0;
};

// A vessel at rest on the ground: fixed in the body-fixed frame.
struct LandedState {
    bool landed = false;
    Vec3 positionBodyFixed = Vec3::Zero();       // of the vessel's origin
    Mat3 vesselToBodyFixed = Mat3::Identity();
    double altitude = 0.0, headingRad = 0.0;
};

// The host's test for rest on the ground, made after each post-step.
struct RestTest {
    bool running = false;
    double startTime = 0.0;  // s, when the vessel was last found moving
    // The pose it was last compared with: body-fixed position, and the
    // vector part of the global attitude quaternion as the host forms it.
    Vec3 samplePositionBodyFixed = Vec3::Zero();
    Vec3 sampleAttitudeAxis = Vec3::Zero();
};

// The first touchdown of a vessel, as the flight host reports it.
struct Touchdown {
    bool happened = false;
    double time = 0.0;
    double verticalSpeed = 0.0;      // m/s over the ground, positive up, after the step that touched
    double verticalSpeedBefore = 0.0;  // the same, in the frame before
    double horizontalSpeed = 0.0;    // m/s over the ground
    double pitchDeg = 0.0, bankDeg = 0.0, headingDeg = 0.0;
};

// Ground contact, rest and what the flight host records of them.
struct ContactState {
    bool groundContact = false;
    bool touchdownPointsChanged = false;  // releases a landed vessel in the next step
    LandedState landed;
    RestTest rest;
    Touchdown touchdown;
    double landedAt = -1.0;  // s, when the rest test last landed it; negative: not since the start
    double lastVerticalSpeed = 0.0;  // m/s over the ground, after the previous step
};

struct Vessel {
    std::string name;
    std::string className;
    VESSEL2 *object = nullptr;          // the module's vessel; null for a passive vessel
    ModuleLibrary *module = nullptr;
    int flightModel = 1;

    VesselDefinition def;
    Actuators actuators;
    Kinematics motion;
    // The state at the start of the step being computed: what the post-step
    // sees of position, velocity, attitude and rates.
    Kinematics motionBefore;
    SurfaceState surface;
    ContactState contact;

    // The navigation receivers' frequency steps (108 + 0.05 step MHz, not
    // range-checked): every vessel that can take the focus has two from its
    // creation, both at step 0.
    std::vector<long long> navReceiverSteps = std::vector<long long>(kNavReceivers, 0);

    // Standard scenario lines the host carries but does not model, written back on save.
    std::vector<std::string> carriedLines;

    double PropellantMass() const {
        double m = 0.0;
        for (const auto &t : actuators.tanks) m += t->mass;
        return m;
    }
    double Mass() const { return def.emptyMass + PropellantMass(); }
    Mat3 Rotation() const { return motion.attitude.toRotationMatrix(); }
    bool NavmodeOn(int mode) const { return mode >= 0 && mode < 32 && ((actuators.navmodes >> mode) & 1u); }
    bool Landed() const { return contact.landed.landed; }
    unsigned NavmodeBits() const {
        return actuators.navmodes | (actuators.holdAltitude ? 1u << kHoldAltitudeMode : 0u);
    }
    ThrusterGroup *Group(int type) const {
        return type >= 0 && type < kGroupTypes ? actuators.groupByType[type] : nullptr;
    }
};

inline OBJHANDLE HandleOf(Vessel *v) { return static_cast<OBJHANDLE>(v); }
inline Vessel *VesselOf(OBJHANDLE h) { return static_cast<Vessel *>(h); }

}  // namespace vtal::sim

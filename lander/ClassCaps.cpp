// The lander as the host sees it: drag, inertia, mass, mesh, touchdown points,
// re-entry glow, propellant, thrusters, thruster groups and exhaust flames.
// Every value is a constant of the lander; the configuration file is not read.
#include <cmath>

#include "lander/Lander.h"
#include "lander/LanderGeometry.h"

namespace {

using namespace vtal::lander;

// π to the same 15 digits as the guidance's kPiAsTuned (guidance/GuidanceMath.h),
// the value the lander was tuned with; the lift curve's breakpoints use it.
const double kPiAsTuned = 3.14159265358979;

// ---- body
const double kEmptyMass = 343.0;           // kg
const double kSize = 2.0;                  // m, mean radius
const VECTOR3 kPmi = {{0.3, 0.3, 0.2}};    // principal moments of inertia per unit mass, m^2
const VECTOR3 kCrossSections = {{2.0, 2.0, 6.0}};  // m^2
const double kMomentScale = 0.001;         // pitch and bank moment scale of the full flight model

// ---- propellant
const double kMainTankMass = 67.0;  // kg
const double kTankEfficiency = 1.0;

// ---- thrusters
const double kIsp = 2500.0;               // m/s
const double kIspRef = 0.0;
const double kPRef = 101400.0;            // Pa
const double kYawThrust = 4.5;            // N, each yaw thruster
const double kLidarBeamThrust = 0.0;      // the beam only shows its exhaust

const VECTOR3 kLidarPos = {{-0.213, 0.619, 0.24}};
const VECTOR3 kLidarDir = {{0.0, -1.0, 0.0}};

struct ThrusterPlacement {
    VECTOR3 pos;
    VECTOR3 dir;
};

// thYaw[0] and [2] form the yaw-left group, [1] and [3] the yaw-right group.
const ThrusterPlacement kYawThrusters[4] = {
    {{{-0.53, 0.262, 0.886}}, {{-0.5, -0.866, 0.0}}},
    {{{-0.282, 0.262, 1.012}}, {{0.5, -0.866, 0.0}}},
    {{{0.53, 0.262, -0.886}}, {{0.5, -0.866, 0.0}}},
    {{{0.282, 0.262, -1.012}}, {{-0.5, -0.866, 0.0}}},
};

const VECTOR3 kEngineDir = {{0.0, 1.0, 0.0}};

// ---- flames
const double kLidarBeamLength = 10.0, kLidarBeamWidth = 0.01;     // m
const double kEngineFlameLength = 0.75, kEngineFlameWidth = 0.075;  // m
const double kYawFlameLength = 0.5, kYawFlameWidth = 0.05;        // m
const VECTOR3 kEngineFlameDir = {{0.0, -1.0, 0.0}};

// Four nozzles around each engine.
const VECTOR3 kEngineFlamePos[3][4] = {
    {{{0.205, -0.34, 0.558}}, {{0.11, -0.34, 0.613}}, {{-0.205, -0.34, 0.558}}, {{-0.11, -0.34, 0.613}}},
    {{{-0.38, -0.34, -0.454}}, {{-0.476, -0.34, -0.399}}, {{-0.585, -0.34, -0.21}}, {{-0.585, -0.34, -0.099}}},
    {{{0.38, -0.34, -0.454}}, {{0.476, -0.34, -0.399}}, {{0.585, -0.34, -0.21}}, {{0.585, -0.34, -0.099}}},
};

// The glow of an atmospheric entry.
PARTICLESTREAMSPEC ReentryStreamSpec() {
    PARTICLESTREAMSPEC record = {0,   2.5, 40.0, 0.0, 0.001, 0.5, 4.0, 0.2, PARTICLESTREAMSPEC::EMISSIVE,
                               PARTICLESTREAMSPEC::LVL_PSQRT, 0.0, 1.0, PARTICLESTREAMSPEC::ATM_PLOG,
                               2.0e6, 5.0e15, nullptr};
    return record;
}

}  // namespace

// Every breakpoint of the curve carries 0, so every angle yields 0; the
// curve is kept as a curve so that a lifting variant only changes the table.
double LiftCoeff(double aoa) {
    if (!std::isfinite(aoa)) return 0.0;  // no non-number goes back to the host
    const double kDegree = kPiAsTuned / 180.0;
    static const double kAoa[9] = {-180 * kDegree, -60 * kDegree, -30 * kDegree, -1 * kDegree, 15 * kDegree,
                                   20 * kDegree,   25 * kDegree,  60 * kDegree,  180 * kDegree};
    static const double kCl[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    static const double kScl[8] = {
        (kCl[1] - kCl[0]) / (kAoa[1] - kAoa[0]), (kCl[2] - kCl[1]) / (kAoa[2] - kAoa[1]),
        (kCl[3] - kCl[2]) / (kAoa[3] - kAoa[2]), (kCl[4] - kCl[3]) / (kAoa[4] - kAoa[3]),
        (kCl[5] - kCl[4]) / (kAoa[5] - kAoa[4]), (kCl[6] - kCl[5]) / (kAoa[6] - kAoa[5]),
        (kCl[7] - kCl[6]) / (kAoa[7] - kAoa[6]), (kCl[8] - kCl[7]) / (kAoa[8] - kAoa[7])};
    int i = 0;
    while (i < 7 && kAoa[i + 1] < aoa) ++i;
    return kCl[i] + (aoa - kAoa[i]) * kScl[i];
}

void Lander::clbkSetClassCaps(FILEHANDLE) {
    // Start values of the mechanisms; a scenario read afterwards may change them.
    solarStatus = legsStatus = feetStatus = deckStatus = MECH_RETRACTED;
    solarPos = cameraPos = legsPos = feetPos = deckPos = 0.0;
    armRotPos = 0.7;
    armSlidePos = armElbowPos = 0.0;

    DefineAnimations();

    // Body
    SetCW(2.0, 2.0, 0.9, 0.9);
    SetRotDrag(_V(1.0, 1.0, 1.0));
    SetSurfaceFrictionCoeff(1.0, 1.0);
    if (GetFlightModel() >= 1) {
        SetPitchMomentScale(kMomentScale);
        SetBankMomentScale(kMomentScale);
    }
    SetTrimScale(0.1);
    SetPMI(kPmi);
    SetCrossSections(kCrossSections);
    SetSize(kSize);
    SetEmptyMass(kEmptyMass);
    UINT mesh = AddMesh("K_VTA/vta_lander");
    SetMeshVisibilityMode(mesh, MESHVIS_ALWAYS);
    SetCameraOffset(_V(0.0, 1.0, -2.0));
    SetLiftCoeffFunc(LiftCoeff);
    SetTouchdownPoints(_V(0.0, -0.58, 1.0), _V(-1.0, -0.58, -1.0), _V(1.0, -0.58, -1.0));

    PARTICLESTREAMSPEC reentry = ReentryStreamSpec();
    AddReentryStream(&reentry);

    phMain = CreatePropellantResource(kMainTankMass, kMainTankMass, kTankEfficiency);
    phLidar = CreatePropellantResource(kLidarTankMass, kLidarTankMass, kTankEfficiency);

    // The lidar beam: a thruster of zero thrust on its own tank, seen only by its flame.
    char lidarTexture[] = "K_VTA/lidar";
    SURFHANDLE beamTex = oapiRegisterExhaustTexture(lidarTexture);
    thLidar = CreateThruster(kLidarPos, kLidarDir, kLidarBeamThrust, phLidar, kIsp, kIspRef, kPRef);
    AddExhaust(thLidar, kLidarBeamLength, kLidarBeamWidth, beamTex);

    for (int i = 0; i < 4; ++i)
        thYaw[i] = CreateThruster(kYawThrusters[i].pos, kYawThrusters[i].dir, kYawThrust, phMain, kIsp,
                                  kIspRef, kPRef);
    for (int i = 0; i < 3; ++i)
        thEngine[i] = CreateThruster(kEnginePosition[i], kEngineDir, kEngineMaxThrust, phMain, kIsp, kIspRef, kPRef);

    // The engines are also the pitch and bank actuators; yaw has thrusters of its own.
    thGroupList[0] = thEngine[0];
    CreateThrusterGroup(thGroupList, 1, THGROUP_ATT_PITCHUP);
    thGroupList[0] = thEngine[1];
    thGroupList[1] = thEngine[2];
    CreateThrusterGroup(thGroupList, 2, THGROUP_ATT_PITCHDOWN);
    thGroupList[0] = thEngine[2];
    CreateThrusterGroup(thGroupList, 1, THGROUP_ATT_BANKLEFT);
    thGroupList[0] = thEngine[1];
    CreateThrusterGroup(thGroupList, 1, THGROUP_ATT_BANKRIGHT);
    thGroupList[0] = thYaw[1];
    thGroupList[1] = thYaw[3];
    CreateThrusterGroup(thGroupList, 2, THGROUP_ATT_YAWRIGHT);
    thGroupList[0] = thYaw[0];
    thGroupList[1] = thYaw[2];
    CreateThrusterGroup(thGroupList, 2, THGROUP_ATT_YAWLEFT);
    thGroupList[0] = thEngine[0];
    thGroupList[1] = thEngine[1];
    thGroupList[2] = thEngine[2];
    CreateThrusterGroup(thGroupList, 3, THGROUP_MAIN);

    char yawTexture[] = "exhaust_atrcs";
    char engineTexture[] = "Exhaust2";
    SURFHANDLE yawTex = oapiRegisterExhaustTexture(yawTexture);
    SURFHANDLE engineTex = oapiRegisterExhaustTexture(engineTexture);
    for (int e = 0; e < 3; ++e)
        for (const VECTOR3 &pos : kEngineFlamePos[e])
            AddExhaust(thEngine[e], kEngineFlameLength, kEngineFlameWidth, pos, kEngineFlameDir, engineTex);
    for (THRUSTER_HANDLE th : thYaw) AddExhaust(th, kYawFlameLength, kYawFlameWidth, yawTex);
}

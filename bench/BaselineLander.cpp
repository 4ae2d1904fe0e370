#include "bench/BaselineLander.h"

namespace vtal::bench {

namespace {

// Fixed command values: the baseline computes nothing.
const double kLevel = 0.5;
const double kLidarTankMass = 1.0;  // kg

}  // namespace

void BaselineLander::clbkPreStep(double, double, double) {
    VECTOR3 v;
    // Dust and descent altitude tests.
    GetAltitude();
    GetAltitude();
    // The descent's flight state.
    GetWeightVector(v);
    GetHorizonAirspeedVector(v);
    GetShipAirspeedVector(v);
    GetPitch();
    GetBank();
    GetThrusterGroupLevel(THGROUP_ATT_YAWRIGHT);
    GetThrusterGroupLevel(THGROUP_ATT_YAWLEFT);
    GetAltitude();
    GetMass();
    // Nearly level: hold level released.
    DeactivateNavmode(NAVMODE_HLEVEL);
    // Terminal thrust: its own flight state, then the three engines.
    GetMass();
    GetAltitude();
    GetShipAirspeedVector(v);
    GetAngularVel(v);
    GetWeightVector(v);
    GetHorizonAirspeedVector(v);
    GetPitch();
    GetBank();
    for (THRUSTER_HANDLE engine : handles_.engines) SetThrusterLevel(engine, kLevel);
    // Heading alignment.
    double heading = 0.0;
    oapiGetHeading(GetHandle(), &heading);
    GetMass();
    GetAngularVel(v);
    SetThrusterGroupLevel(THGROUP_ATT_YAWLEFT, kLevel);
    SetThrusterGroupLevel(THGROUP_ATT_YAWRIGHT, kLevel);
    // Crash test (low altitude fails, so contact is asked), feet, lidar.
    GetAltitude();
    GroundContact();
    GroundContact();
    SetPropellantMass(handles_.lidarTank, kLidarTankMass);
    SetThrusterLevel(handles_.lidarBeam, 0.0);
}

// Nothing moves in flight once the legs are out: the lander's post-step
// makes no host call, and neither does this one.
void BaselineLander::clbkPostStep(double, double, double) {}

}  // namespace vtal::bench

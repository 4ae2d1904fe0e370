// What a vessel's flight state looks like to a module: altitude, attitude
// angles, heading, ground-relative airspeed and weight, in the host's
// conventions. The functions on a Vessel compute from its present state; the
// host answers a module from the SurfaceState it computes once per step
// (UpdateSurface), which freezes while the vessel is landed.
#pragma once

#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

// Local horizon frame at a position: x east, y up, z north.
struct HorizonFrame {
    Vec3 east, up, north;
};
// At a global position over the body as it stands at its date.
HorizonFrame HorizonAt(const Vec3 &globalPos, const CentralBody &body);
// At a body-fixed position (north along y, longitude 0 along x).
HorizonFrame BodyFixedHorizonAt(const Vec3 &bodyFixedPos);

// Vessel-to-body-fixed rotation of a level vessel at `upBodyFixed` (a unit
// vector) whose nose points at `heading` (rad, from north towards east).
Mat3 LevelAttitude(const Vec3 &upBodyFixed, double heading);

// Unit vector towards longitude and latitude (rad), in the frame the
// longitude is measured in (body-fixed for a surface point).
Vec3 SurfaceDirection(double longitude, double latitude);

double Altitude(const Vessel &v, const CentralBody &body);
// The local vertical expressed in the vessel frame (upVessel wherever it is used).
Vec3 UpInVesselFrame(const Vessel &v);
// Nose up positive: asin(upVessel.z) in flight; a landed vessel's is
// atan2(upVessel.z, upVessel.y), so that one upside down reads near 180.
double Pitch(const Vessel &v);
// Right side raised positive: atan2(upVessel.x, upVessel.y) (0 with the
// nose vertical in flight).
double Bank(const Vessel &v);
double Heading(const Vessel &v, const CentralBody &body);  // azimuth of the forward axis, [0, 2 pi)
// Velocity relative to the turning surface under the vessel, at its own radius.
Vec3 GroundVelocity(const Vessel &v, const CentralBody &body);
double VerticalSpeed(const Vessel &v);                              // m/s, positive up
double HorizontalSpeed(const Vessel &v, const CentralBody &body);  // over the ground

// A vessel's flight instruments as the flight host reports them in its
// telemetry, report and replay: angles in degrees.
struct Instruments {
    double altitude = 0.0, verticalSpeed = 0.0, horizontalSpeed = 0.0;
    double pitchDeg = 0.0, bankDeg = 0.0, headingDeg = 0.0;
    // The angle between the vessel's +y axis and the local vertical: taken
    // from the vertical itself, since a landed vessel's pitch and bank
    // (both about 180 when it lies upside down) do not give it.
    double tiltDeg = 0.0;
};
Instruments InstrumentsOf(const Vessel &v, const CentralBody &body);
// Gravity of the body on a vessel of mass m at global position pos.
Vec3 GravityForce(const Vec3 &pos, double mass, const CentralBody &body);  // global, N
// Point-mass gravity at pos, whose distance from the centre is radius: m/s^2.
Vec3 GravityAcceleration(const Vec3 &pos, double radius, const CentralBody &body);
// Global position of a point given in the vessel frame.
Vec3 LocalToGlobal(const Vessel &v, const Vec3 &local);

// The host's surface quantities of the vessel's present state; while landed,
// altitude and heading keep their values at landing, airspeed is 0 and
// pitch and bank are read off the resting attitude.
void UpdateSurface(Vessel &v, const CentralBody &body);

}  // namespace vtal::sim

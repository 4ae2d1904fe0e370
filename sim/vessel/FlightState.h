// What a vessel's flight state looks like to a module: altitude, attitude
// angles, heading, airspeed and weight, in the host's conventions.
#pragma once

#include "sim/world/CentralBody.h"
#include "sim/vessel/Vessel.h"

namespace vtal::sim {

// Local horizon frame at a global position: x east, y up, z north.
struct HorizonFrame {
    Vec3 east, up, north;
};
HorizonFrame HorizonAt(const Vec3 &globalPos);

// Vessel-to-global rotation of a level vessel at `up` (a unit vector) whose
// nose points at `heading` (rad, from north towards east).
Mat3 LevelAttitude(const Vec3 &up, double heading);

// Global position of a surface point at longitude and latitude (rad).
Vec3 SurfaceDirection(double longitude, double latitude);

double Altitude(const Vessel &v, const CentralBody &body);
// The local vertical expressed in the vessel frame.
Vec3 UpInVesselFrame(const Vessel &v);
double Pitch(const Vessel &v);    // asin(up.z), nose up positive
double Bank(const Vessel &v);     // atan2(up.x, up.y), right side raised positive
double Heading(const Vessel &v);  // azimuth of the forward axis, [0, 2 pi)
Vec3 ShipAirspeed(const Vessel &v);     // vessel frame
Vec3 HorizonAirspeed(const Vessel &v);  // horizon frame
Vec3 GravityForce(const Vessel &v, const CentralBody &body);  // global, N
Vec3 WeightVector(const Vessel &v, const CentralBody &body);  // vessel frame, N
double VerticalSpeed(const Vessel &v);
double HorizontalSpeed(const Vessel &v);
// Global position of a point given in the vessel frame.
Vec3 LocalToGlobal(const Vessel &v, const Vec3 &local);

}  // namespace vtal::sim

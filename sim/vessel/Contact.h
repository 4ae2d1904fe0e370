// The host's surface contact for a vessel's three touchdown points: a spring
// and damper normal to the ground and friction along the vessel's
// longitudinal and lateral directions, evaluated inside the integration at
// every stage of every sub-step.
#pragma once

#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

// The host takes stiffness and damping from the empty mass when the points
// are set; false (nothing changed) if the points span no plane.
bool SetTouchdownPoints(VesselDefinition &def, const Vec3 &p0, const Vec3 &p1, const Vec3 &p2);
// The plane normal of the touchdown points: the vessel's "up".
Vec3 TouchdownNormal(const std::array<Vec3, 3> &p);

struct ContactLoads {
    Vec3 force = Vec3::Zero();   // vessel frame, N
    Vec3 torque = Vec3::Zero();  // vessel frame, N m
};

// Contact is looked at only while the centre of gravity is this close
// (in vessel sizes) above the surface.
constexpr double kContactRangeInSizes = 2.0;

// The contact loads of state k over a sub-step of length h.
ContactLoads SurfaceContact(const Vessel &v, const Kinematics &k, double mass, const CentralBody &body, double h);
// The same, with the attitude's rotation matrix and the radius of the centre
// of gravity already at hand (as inside the integrator).
ContactLoads SurfaceContact(const Vessel &v, const Kinematics &k, const Mat3 &rot, double radius, double mass,
                            const CentralBody &body, double h);
// Some touchdown point strictly below the surface while the centre of
// gravity is within contact range: the host's ground contact.
bool PointBelowSurface(const Vessel &v, const Kinematics &k, const CentralBody &body);

}  // namespace vtal::sim

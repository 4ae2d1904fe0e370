// The host's landed state: a vessel found at rest on the ground is no longer
// integrated but fixed in the body-fixed frame, turning with the body, until
// thrust, a torque or new touchdown points release it.
#pragma once

#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

// Rest test: samples at least this far apart, still for longer than this.
constexpr double kRestSampleInterval = 0.1;  // s
constexpr double kRestTimeToLand = 5.0;      // s
// Moving: squared displacement over the interval (m^2/s), or turn rate (rad/s).
constexpr double kRestDisplacementRate = 1e-4;
constexpr double kRestTurnRate = 1e-4;

// Body-fixed position and vessel -> body-fixed rotation of the present state.
Vec3 BodyFixedPosition(const Vessel &v, const CentralBody &body, double mjd);
Mat3 BodyFixedRotation(const Vessel &v, const CentralBody &body, double mjd);

// Puts the vessel in the landed state at its present pose.
void Land(Vessel &v, const CentralBody &body, double mjd);
// Places a landed vessel at a body-fixed pose: position, velocity (the
// surface's at the mean radius) and attitude at the date.
void PlaceLanded(Vessel &v, const CentralBody &body, double mjd);
// Back to free flight with no rotation and the surface's velocity.
void Release(Vessel &v);
// After each post-step: the host's test for rest, which may land the vessel.
void TestForRest(Vessel &v, const CentralBody &body, double mjd, double simTime);

// The host's rest pose on the touchdown springs under the vessel's weight at
// the mean radius: the height of the origin above the surface and the
// vessel -> level rotation that makes the compressed points' plane level.
struct RestPose {
    double height = 0.0;
    Mat3 tilt = Mat3::Identity();
};
RestPose RestPoseOnSprings(const Vessel &v, const CentralBody &body);

}  // namespace vtal::sim

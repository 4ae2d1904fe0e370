// The host's landed state: a vessel found at rest on the ground is no longer
// integrated but fixed in the body-fixed frame, turning with the body, until
// thrust, a torque or new touchdown points release it.
#pragma once

#include "sim/vessel/Vessel.h"
#include "sim/base/CentralBody.h"

namespace vtal::sim {

// Rest test: compared only once the vessel has been quiet this long, and
// landed once it has been quiet longer than kRestTimeToLand.
constexpr double kRestQuietGate = 0.1;   // s
constexpr double kRestTimeToLand = 5.0;  // s
// Moving: the squared displacement since the last comparison (m^2), or the
// turn (rad), divided by the time since the vessel was last found moving.
constexpr double kRestDisplacementRate = 1e-4;
constexpr double kRestTurnRate = 1e-4;

// Body-fixed position and vessel -> body-fixed rotation of the present state.
Vec3 BodyFixedPosition(const Vessel &v, const CentralBody &body, double mjd);
Mat3 BodyFixedRotation(const Vessel &v, const CentralBody &body, double mjd);

// The host's quaternion of a vessel -> global rotation (m_ij row i, column
// j): the vector part's sign follows its formulas, not Eigen's.
Eigen::Vector4d HostQuaternion(const Mat3 &m);  // x, y, z, w
// The host's measure of a turn: the angle between the vector parts of two
// attitude quaternions; 0 if either has none.
double AngleBetweenAxes(const Vec3 &a, const Vec3 &b);

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

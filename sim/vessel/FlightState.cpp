#include "sim/vessel/FlightState.h"

#include <cmath>

namespace vtal::sim {
namespace {
// Below this horizontal length an axis counts as vertical for the heading.
constexpr double kVerticalAxisTolerance = 1e-9;
}

HorizonFrame HorizonAt(const Vec3 &globalPos) {
    HorizonFrame f;
    f.up = globalPos.normalized();
    // East is (-sin lng, 0, cos lng); at a pole the longitude is taken as 0.
    Vec3 east(-f.up.z(), 0.0, f.up.x());
    const double n = east.norm();
    f.east = n > 1e-12 ? Vec3(east / n) : Vec3(0.0, 0.0, 1.0);
    f.north = f.east.cross(f.up);
    return f;
}

Mat3 LevelAttitude(const Vec3 &up, double heading) {
    const HorizonFrame h = HorizonAt(up);
    const Vec3 forward = std::cos(heading) * h.north + std::sin(heading) * h.east;
    Mat3 level;
    level.col(0) = up.cross(forward);
    level.col(1) = up;
    level.col(2) = forward;
    return level;
}

Vec3 SurfaceDirection(double longitude, double latitude) {
    return Vec3(std::cos(latitude) * std::cos(longitude), std::sin(latitude),
                std::cos(latitude) * std::sin(longitude));
}

double Altitude(const Vessel &v, const CentralBody &body) { return v.pos.norm() - body.radius; }

Vec3 UpInVesselFrame(const Vessel &v) {
    return v.attitude.conjugate() * v.pos.normalized();
}

double Pitch(const Vessel &v) {
    const double z = UpInVesselFrame(v).z();
    return std::asin(std::clamp(z, -1.0, 1.0));
}

double Bank(const Vessel &v) {
    const Vec3 up = UpInVesselFrame(v);
    return std::atan2(up.x(), up.y());
}

double Heading(const Vessel &v) {
    const HorizonFrame h = HorizonAt(v.pos);
    Vec3 axis = v.attitude * Vec3::UnitZ();
    double e = axis.dot(h.east), n = axis.dot(h.north);
    if (std::hypot(e, n) < kVerticalAxisTolerance) {
        // Nose straight up or down: the vessel's -y axis stands in for +z.
        axis = v.attitude * Vec3(0.0, -1.0, 0.0);
        e = axis.dot(h.east);
        n = axis.dot(h.north);
    }
    double heading = std::atan2(e, n);
    if (heading < 0.0) heading += 2.0 * kPi;
    if (heading >= 2.0 * kPi) heading = 0.0;
    return heading;
}

Vec3 ShipAirspeed(const Vessel &v) { return v.attitude.conjugate() * v.vel; }

Vec3 HorizonAirspeed(const Vessel &v) {
    const HorizonFrame h = HorizonAt(v.pos);
    return Vec3(v.vel.dot(h.east), v.vel.dot(h.up), v.vel.dot(h.north));
}

Vec3 GravityForce(const Vessel &v, const CentralBody &body) {
    const double r = v.pos.norm();
    return -body.gm * v.Mass() / (r * r * r) * v.pos;
}

Vec3 WeightVector(const Vessel &v, const CentralBody &body) {
    return v.attitude.conjugate() * GravityForce(v, body);
}

double VerticalSpeed(const Vessel &v) { return v.vel.dot(v.pos.normalized()); }

double HorizontalSpeed(const Vessel &v) {
    const Vec3 up = v.pos.normalized();
    return (v.vel - v.vel.dot(up) * up).norm();
}

Vec3 LocalToGlobal(const Vessel &v, const Vec3 &local) { return v.pos + v.attitude * local; }

}  // namespace vtal::sim

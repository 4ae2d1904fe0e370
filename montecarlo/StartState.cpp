#include "montecarlo/StartState.h"

#include <algorithm>
#include <cmath>

#include "montecarlo/Campaign.h"
#include "sim/files/Scenario.h"
#include "sim/vessel/FlightState.h"

namespace vtal::montecarlo {

namespace {

using sim::Vec3;
using sim::kRadPerDeg;

double At(const Draw &d, Quantity q) { return d[static_cast<int>(q)]; }
unsigned Bit(Quantity q) { return 1u << static_cast<int>(q); }

double WrapDegrees(double deg) {
    double w = std::fmod(deg, 360.0);
    if (w < 0.0) w += 360.0;
    return w >= 360.0 ? 0.0 : w;
}

// The attitude (vessel to global) with the given heading, pitch and bank
// (rad) in the horizon frame `h`, as the flight host reads them back: the
// local vertical in the vessel frame is (cos p sin b, cos p cos b, sin p),
// and the forward axis points along the heading, raised by the pitch.
sim::Quat AttitudeFrom(const sim::HorizonFrame &h, double heading, double pitch, double bank) {
    const Vec3 level = std::sin(heading) * h.east + std::cos(heading) * h.north;
    const Vec3 forward = std::cos(pitch) * level + std::sin(pitch) * h.up;
    // The vertical without its forward part, within the plane of the vessel's x and y axes.
    const Vec3 w = (h.up - std::sin(pitch) * forward) / std::cos(pitch);
    const Vec3 k = w.cross(forward);
    const Vec3 x = std::sin(bank) * w + std::cos(bank) * k;
    const Vec3 y = std::cos(bank) * w - std::sin(bank) * k;
    sim::Mat3 r;
    r.col(0) = x;
    r.col(1) = y;
    r.col(2) = forward;
    sim::Quat q(r);
    q.normalize();
    return q;
}

}  // namespace

double Tilt(const sim::Vessel &v) {
    return std::acos(std::clamp(sim::UpInVesselFrame(v).y(), -1.0, 1.0)) / kRadPerDeg;
}

unsigned ApplyDraw(sim::Vessel &v, const sim::CentralBody &body, const Draw &draw) {
    unsigned clamped = 0;
    const sim::HorizonFrame h = sim::HorizonAt(v.motion.positionGlobal, body);

    // Attitude first, from the angles at the scenario's position.
    const double heading = sim::Heading(v, body) + At(draw, Quantity::Heading) * kRadPerDeg;
    double pitchDeg = sim::Pitch(v) / kRadPerDeg + At(draw, Quantity::Pitch);
    if (std::fabs(pitchDeg) > kMaxStartPitch) {
        pitchDeg = std::copysign(kMaxStartPitch, pitchDeg);
        clamped |= Bit(Quantity::Pitch);
    }
    const double bank = sim::Bank(v) + At(draw, Quantity::Bank) * kRadPerDeg;
    v.motion.attitude = AttitudeFrom(h, heading, pitchDeg * kRadPerDeg, bank);

    // Velocity over the turning ground: the sink rate is offset, the
    // horizontal velocity drawn is added.
    const Vec3 ground = sim::GroundVelocity(v, body);
    const double up = ground.dot(h.up);
    const Vec3 horizontal = ground - up * h.up;
    const double direction = At(draw, Quantity::HorizontalDirection) * kRadPerDeg;
    const double speed = At(draw, Quantity::HorizontalSpeed);
    if (speed < 0.0) clamped |= Bit(Quantity::HorizontalSpeed);
    const Vec3 added = std::max(0.0, speed) * (std::sin(direction) * h.east + std::cos(direction) * h.north);
    const Vec3 newGround = horizontal + added + (up - At(draw, Quantity::SinkRate)) * h.up;

    // Altitude along the local vertical; the horizon frame stays the same.
    double altitude = sim::Altitude(v, body) + At(draw, Quantity::Altitude);
    if (altitude < kMinStartAltitude) {
        altitude = kMinStartAltitude;
        clamped |= Bit(Quantity::Altitude);
    }
    v.motion.positionGlobal = h.up * (body.radius + altitude);
    v.motion.velocityGlobal = body.SurfaceVelocity(v.motion.positionGlobal) + newGround;

    // Rates stay within what a scenario may hold.
    const Quantity rates[3] = {Quantity::PitchRate, Quantity::YawRate, Quantity::BankRate};
    for (int axis = 0; axis < 3; ++axis) {
        const double deg = v.motion.bodyRates[axis] / kRadPerDeg + At(draw, rates[axis]);
        const double kept = std::clamp(deg, -sim::kMaxBodyRate, sim::kMaxBodyRate);
        if (kept != deg) clamped |= Bit(rates[axis]);
        v.motion.bodyRates[axis] = kept * kRadPerDeg;
    }

    if (sim::Tank *tank = MainTank(v)) {
        const double mass = tank->mass + At(draw, Quantity::Propellant);
        tank->mass = std::clamp(mass, 0.0, tank->maxMass);
        if (tank->mass != mass) clamped |= Bit(Quantity::Propellant);
    }
    sim::UpdateSurface(v, body);
    return clamped;
}

StartValues ReadStart(const sim::Vessel &v, const sim::CentralBody &body) {
    StartValues s{};
    auto set = [&s](Quantity q, double value) { s[static_cast<int>(q)] = value; };
    const sim::HorizonFrame h = sim::HorizonAt(v.motion.positionGlobal, body);
    const Vec3 ground = sim::GroundVelocity(v, body);
    const Vec3 horizontal = ground - ground.dot(h.up) * h.up;
    set(Quantity::Altitude, sim::Altitude(v, body));
    set(Quantity::SinkRate, -sim::VerticalSpeed(v));
    set(Quantity::HorizontalSpeed, horizontal.norm());
    set(Quantity::HorizontalDirection,
        horizontal.norm() > 0.0 ? WrapDegrees(std::atan2(horizontal.dot(h.east), horizontal.dot(h.north)) / kRadPerDeg)
                                : 0.0);
    set(Quantity::Pitch, sim::Pitch(v) / kRadPerDeg);
    set(Quantity::Bank, sim::Bank(v) / kRadPerDeg);
    set(Quantity::Heading, sim::Heading(v, body) / kRadPerDeg);
    set(Quantity::PitchRate, v.motion.bodyRates.x() / kRadPerDeg);
    set(Quantity::YawRate, v.motion.bodyRates.y() / kRadPerDeg);
    set(Quantity::BankRate, v.motion.bodyRates.z() / kRadPerDeg);
    const sim::Tank *tank = MainTank(v);
    set(Quantity::Propellant, tank ? tank->mass : 0.0);
    return s;
}

}  // namespace vtal::montecarlo

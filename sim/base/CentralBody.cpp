#include "sim/base/CentralBody.h"

#include <algorithm>
#include <cmath>
#include <strings.h>

namespace vtal::sim {
namespace {

// The host's rotation about an axis: R_x(a) and R_y(a) as the host writes them.
Mat3 RotationX(double a) {
    const double c = std::cos(a), s = std::sin(a);
    Mat3 r;
    r << 1.0, 0.0, 0.0, 0.0, c, -s, 0.0, s, c;
    return r;
}

Mat3 RotationY(double a) {
    const double c = std::cos(a), s = std::sin(a);
    Mat3 r;
    r << c, 0.0, -s, 0.0, 1.0, 0.0, s, 0.0, c;
    return r;
}

// The tilt of an axis of obliquity e whose node is at longitude l.
Mat3 NodeTilt(double l, double e) {
    const double cl = std::cos(l), sl = std::sin(l), ce = std::cos(e), se = std::sin(e);
    Mat3 r;
    r << cl, -sl * se, -sl * ce, 0.0, ce, -se, sl, cl * se, cl * ce;
    return r;
}

// What the host derives of the axis at a date: its tilt in the global frame
// and the angle the rotation phase is corrected by for the moving node.
struct AxisAtDate {
    Mat3 tilt;            // R_ecl
    double phaseShift;    // L0 cos e - L cos e + offset, rad
};

// R_ref: the pole the axis precesses about.
Mat3 ReferenceTilt(const RotationElements &e) {
    return e.precessionObliquity != 0.0 ? Mat3(RotationY(e.precessionNodeLongitude) * RotationX(e.precessionObliquity))
                                        : Mat3::Identity();
}

// The node's longitude at a date, moving with the precession.
double NodeAt(const RotationElements &e, double mjd) {
    return e.precessionPeriodDays != 0.0 ? e.nodeLongitude + 2.0 * kPi / e.precessionPeriodDays * (mjd - e.nodeMjd)
                                         : e.nodeLongitude;
}

// The spin axis alone: R_ref times the y column of the node's tilt, whose
// obliquity's cosine and sine are given.
Vec3 AxisOnly(const RotationElements &e, const Mat3 &reference, double cosObliquity, double sinObliquity,
              double mjd) {
    const double node = NodeAt(e, mjd);
    return reference * Vec3(-std::sin(node) * sinObliquity, cosObliquity, std::cos(node) * sinObliquity);
}

AxisAtDate AxisAt(const RotationElements &e, double mjd) {
    const double node = NodeAt(e, mjd);
    const Mat3 a = ReferenceTilt(e) * NodeTilt(node, e.obliquity);
    const Vec3 axis = a.col(1);
    const double obliquity = std::acos(std::clamp(axis.y(), -1.0, 1.0));
    const double longitude = std::atan2(-axis.x(), axis.z());
    const double cl = std::cos(longitude), sl = std::sin(longitude);
    const double offset = std::atan2(-(cl * a(0, 2) + sl * a(2, 2)), cl * a(0, 0) + sl * a(2, 0));
    const double cosObliquity = std::cos(e.obliquity);
    return {NodeTilt(longitude, obliquity),
            e.nodeLongitude * cosObliquity - node * cosObliquity + offset};
}

double Wrap(double angle) {
    const double turns = angle / (2.0 * kPi);
    return 2.0 * kPi * (turns - std::floor(turns));
}

double RotationAngleAt(const RotationElements &e, const AxisAtDate &axis, double mjd) {
    const double spun = 2.0 * kPi * (mjd - kRotationEpochMjd) * kSecondsPerDay / e.period;
    return Wrap(e.offset + spun + axis.phaseShift);
}

// The host's bodies: GM, mean radius and rotation elements as its
// configuration gives them.
CentralBody MakeBody(const char *name, double gm, double radius, const RotationElements &rotation,
                     double surfaceDensity, double surfacePressure, double scaleHeight) {
    CentralBody b;
    b.name = name;
    b.gm = gm;
    b.radius = radius;
    b.rotation = rotation;
    b.surfaceDensity = surfaceDensity;
    b.surfacePressure = surfacePressure;
    b.scaleHeight = scaleHeight;
    b.SetDate(kRotationEpochMjd);
    return b;
}

const CentralBody kMoon = MakeBody("Moon", 4.9028e12, 1738000.0,
                                   {2360588.15, 4.769465382, 0.02692416821, 1.71817749, 51544.5, -6793.219721,
                                    7.259562816e-5, 0.4643456618},
                                   0.0, 0.0, 1.0);
// Mars: 0.020 kg/m^3 and 636 Pa at the mean radius, 11.1 km scale height.
const CentralBody kMars = MakeBody("Mars", 4.2828e13, 3390000.0,
                                   {88642.66435, 5.469523488, 0.4397415938, 0.6210531483, 51544.5, -63346652.48,
                                    0.03224369545, 4.005081124},
                                   0.020, 636.0, 11100.0);

}  // namespace

double CentralBody::Density(double altitude) const {
    if (surfaceDensity <= 0.0) return 0.0;
    return surfaceDensity * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

double CentralBody::Pressure(double altitude) const {
    if (surfacePressure <= 0.0) return 0.0;
    return surfacePressure * std::exp(-std::max(altitude, 0.0) / scaleHeight);
}

double CentralBody::RotationAngle(double mjd) const { return RotationAngleAt(rotation, AxisAt(rotation, mjd), mjd); }

namespace {

bool SameElements(const RotationElements &a, const RotationElements &b) {
    return a.period == b.period && a.offset == b.offset && a.obliquity == b.obliquity &&
           a.nodeLongitude == b.nodeLongitude && a.nodeMjd == b.nodeMjd &&
           a.precessionPeriodDays == b.precessionPeriodDays && a.precessionObliquity == b.precessionObliquity &&
           a.precessionNodeLongitude == b.precessionNodeLongitude;
}

Mat3 OrientationAt(const RotationElements &e, double mjd) {
    const AxisAtDate axis = AxisAt(e, mjd);
    return axis.tilt * RotationY(RotationAngleAt(e, axis, mjd));
}

}  // namespace

Mat3 CentralBody::Orientation(double mjd) const {
    if (mjd != date_) return OrientationAt(rotation, mjd);
    if (!orientationKnown_ || !SameElements(rotation, orientationElements_)) {
        orientation_ = OrientationAt(rotation, mjd);
        orientationElements_ = rotation;
        orientationKnown_ = true;
    }
    return orientation_;
}

Vec3 CentralBody::SpinAxis(double mjd) const {
    return AxisOnly(rotation, ReferenceTilt(rotation), std::cos(rotation.obliquity), std::sin(rotation.obliquity), mjd);
}

void CentralBody::SetDate(double mjd) {
    // The reference tilt and the obliquity are constant; made again only if the elements changed.
    if (referenceObliquity_ != rotation.precessionObliquity || referenceNode_ != rotation.precessionNodeLongitude ||
        obliquity_ != rotation.obliquity) {
        referenceTilt_ = ReferenceTilt(rotation);
        referenceObliquity_ = rotation.precessionObliquity;
        referenceNode_ = rotation.precessionNodeLongitude;
        obliquity_ = rotation.obliquity;
        cosObliquity_ = std::cos(obliquity_);
        sinObliquity_ = std::sin(obliquity_);
    }
    if (mjd != date_) orientationKnown_ = false;
    date_ = mjd;
    axis_ = AxisOnly(rotation, referenceTilt_, cosObliquity_, sinObliquity_, mjd);
    spin_ = axis_ * SpinRate();
}

const CentralBody *FindBody(const std::string &name) {
    if (strcasecmp(name.c_str(), kMoon.name) == 0) return &kMoon;
    if (strcasecmp(name.c_str(), kMars.name) == 0) return &kMars;
    return nullptr;
}

const CentralBody &Moon() { return kMoon; }

}  // namespace vtal::sim

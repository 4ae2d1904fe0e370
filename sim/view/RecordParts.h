// How the pages show a vessel, in one place for the replay record and the
// live session's messages: the local frame the positions are given in, a
// vessel's fixed description (stand-in model, thrusters, engine and yaw
// groups, exhausts, dust streams, touchdown points), its poses and its
// head-up display runs as JSON, each number in whole steps of its channel.
// Internal to sim/view: only its .cpp files include it.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/vessel/AnimationEvaluator.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/VesselStatus.h"
#include "sim/view/StandInModel.h"
#include "sim/view/ViewRecorder.h"
#include "sim/world/World.h"

namespace vtal::sim::viewparts {

using Json = nlohmann::json;

constexpr double kPoseTolerance = 1e-9;  // a group pose that changes less than this is unchanged

// Fixed-point steps of the shown channels.
constexpr double kTimeStep = 1e-6;        // s
constexpr double kPositionStep = 1e-4;    // m
constexpr double kQuaternionStep = 1e-6;
constexpr double kStateStep = 1e-5;       // animation states
constexpr double kLevelStep = 1e-4;       // thruster levels
constexpr double kInstrumentStep = 1e-5;  // m, m/s, deg, kg
constexpr double kModelStep = 1e-4;       // model vertices, m
constexpr double kNormalStep = 1e-3;
constexpr double kPoseStep = 1e-5;        // pose matrices, m and unitless

// What a page is given for a number the host has none for (NaN, infinity).
constexpr double kNoNumber = 0.0;

inline double Finite(double x) { return std::isfinite(x) ? x : kNoNumber; }

// x in whole steps; a number too large for that stays as it is.
inline double Rounded(double x, double step) {
    const double r = std::round(Finite(x) / step) * step;
    return std::isfinite(r) ? r : Finite(x);
}

// x to `decimals` digits after the point, as the shortest decimal that reads
// back as it (1.2345 rather than 1.2345000000000002).
inline double Decimal(double x, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(Finite(x) * scale) / scale;
    if (!std::isfinite(r)) return Finite(x);  // too large to round
    return r == 0.0 ? 0.0 : r;                // no "-0.0"
}

// A channel as {"step": s, "d": [first, then differences]} in whole steps.
inline Json Channel(const std::vector<double> &values, double step) {
    Json deltas = Json::array();
    long long previous = 0;
    for (double x : values) {
        const long long q = std::isfinite(x) ? std::llround(x / step) : previous;
        deltas.push_back(q - previous);
        previous = q;
    }
    return Json{{"step", step}, {"d", std::move(deltas)}};
}

// The page's frame turns the host's z about: (x, y, z) -> (x, y, -z).
inline Vec3 Flip(const Vec3 &v) { return Vec3(v.x(), v.y(), -v.z()); }
inline Mat3 Flip(const Mat3 &m) {
    const Eigen::DiagonalMatrix<double, 3> s(1.0, 1.0, -1.0);
    return s * m * s;
}

inline Json Triple(const Vec3 &v, double step) {
    return Json::array({Rounded(v.x(), step), Rounded(v.y(), step), Rounded(v.z(), step)});
}

inline std::string Hex(COLORREF c) {
    char text[8];
    // The canvas keeps GDI order: red in the low byte.
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(c & 0xFF),
                  static_cast<unsigned>((c >> 8) & 0xFF), static_cast<unsigned>((c >> 16) & 0xFF));
    return text;
}

inline std::string Hex(const Vec3 &rgb) {
    auto byte = [](double x) { return static_cast<unsigned>(std::lround(std::clamp(Finite(x), 0.0, 1.0) * 255.0)); };
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(rgb.x()), byte(rgb.y()), byte(rgb.z()));
    return text;
}

inline std::string Hex(const std::array<float, 3> &rgb) { return Hex(Vec3(rgb[0], rgb[1], rgb[2])); }

// ---- the local frame

// On the ground at `origin` (body-fixed): x east, y up, z south.
struct LocalFrame {
    Vec3 origin = Vec3::Zero();
    Mat3 toLocal = Mat3::Identity();  // body-fixed -> (east, up, north)

    Vec3 Position(const Vec3 &bodyFixed) const { return Flip(Vec3(toLocal * (bodyFixed - origin))); }
    Quat Attitude(const Quat &bodyFixed) const { return Quat(Flip(Mat3(toLocal * bodyFixed.toRotationMatrix()))); }
    Json OriginJson() const {
        return {{"longitude_deg", Finite(std::atan2(origin.z(), origin.x()) / kRadPerDeg)},
                {"latitude_deg", Finite(std::asin(origin.y() / origin.norm()) / kRadPerDeg)}};
    }
};

// The frame on the ground below `above` (body-fixed), or at longitude and
// latitude 0 if that has no direction.
inline LocalFrame LocalFrameBelow(const Vec3 &above, double bodyRadius) {
    LocalFrame f;
    f.origin = Vec3(bodyRadius, 0.0, 0.0);
    if (above.norm() > 0.0) f.origin = above.normalized() * bodyRadius;
    const HorizonFrame h = BodyFixedHorizonAt(f.origin);
    f.toLocal.row(0) = h.east;
    f.toLocal.row(1) = h.up;
    f.toLocal.row(2) = h.north;
    return f;
}

// A vessel's position and attitude in the body-fixed frame, so that the
// ground stays put under a turning body.
inline Vec3 BodyFixedPosition(const World &world, const Vessel &v) {
    return world.Body().Orientation(world.Mjd()).transpose() * v.motion.positionGlobal;
}
inline Quat BodyFixedAttitude(const World &world, const Vessel &v) {
    return Quat(world.Body().Orientation(world.Mjd()).transpose() * v.Rotation());
}

inline std::size_t FocusIndex(const World &world) {
    const auto &vessels = world.Vessels();
    std::size_t focus = 0;
    for (std::size_t i = 0; i < vessels.size(); ++i)
        if (vessels[i].get() == world.Focus()) focus = i;
    return focus;
}

// ---- a vessel's fixed description

inline const char *ThrusterKind(const Vessel &v, const Thruster *t) {
    auto in = [&](int type) {
        const ThrusterGroup *g = v.Group(type);
        return g && std::find(g->members.begin(), g->members.end(), t) != g->members.end();
    };
    if (in(THGROUP_MAIN)) return "engine";
    if (in(THGROUP_ATT_YAWLEFT) || in(THGROUP_ATT_YAWRIGHT)) return "yaw";
    if (t->maxThrust == 0.0) return "beam";  // shows its exhaust only
    return "other";
}

inline int IndexOf(const Vessel &v, const Thruster *t) {
    for (std::size_t i = 0; i < v.actuators.thrusters.size(); ++i)
        if (v.actuators.thrusters[i].get() == t) return static_cast<int>(i);
    return -1;
}

// Whether the host knows enough of the vessel to build it a stand-in model.
inline bool HasStandInModel(const Vessel &v) { return !v.actuators.components.empty() || v.object != nullptr; }

inline Json ModelJson(const StandInModel &model) {
    Json parts = Json::array();
    for (const ModelPart &p : model.parts) {
        Json positions = Json::array(), normals = Json::array(), indices = Json::array();
        for (std::size_t k = 0; k < p.vertices.size(); ++k) {
            const Vec3 x = Flip(p.vertices[k]), n = Flip(p.normals[k]);
            for (int i = 0; i < 3; ++i) positions.push_back(Rounded(x[i], kModelStep));
            for (int i = 0; i < 3; ++i) normals.push_back(Rounded(n[i], kNormalStep));
        }
        // Turning z about mirrors the faces: the page's front faces wind the other way.
        for (const auto &t : p.triangles) indices.insert(indices.end(), {t[0], t[2], t[1]});
        parts.push_back({{"mesh", p.mesh},
                         {"group", p.group},
                         {"label", p.label},
                         {"animated", p.animated},
                         {"colour", Hex(p.colour)},
                         {"positions", std::move(positions)},
                         {"normals", std::move(normals)},
                         {"indices", std::move(indices)}});
    }
    return Json{{"parts", std::move(parts)},
                {"centre", Triple(Flip(model.Centre()), kModelStep)},
                {"radius", Rounded(model.Radius(), kModelStep)}};
}

inline Json ThrustersJson(const Vessel &v) {
    Json thrusters = Json::array();
    for (const auto &t : v.actuators.thrusters)
        thrusters.push_back({{"pos", Triple(Flip(t->pos), kModelStep)},
                             {"dir", Triple(Flip(t->dir), kNormalStep)},
                             {"maxThrust", Finite(t->maxThrust)},
                             {"kind", ThrusterKind(v, t.get())}});
    return thrusters;
}

// The thrusters of a group by index: the instruments show the engines and
// yaw pairs as the telemetry does, by group.
inline Json GroupMembersJson(const Vessel &v, int type) {
    Json list = Json::array();
    if (const ThrusterGroup *g = v.Group(type))
        for (const Thruster *t : g->members) list.push_back(IndexOf(v, t));
    return list;
}

inline Json ExhaustsJson(const Vessel &v) {
    Json exhausts = Json::array();
    for (const ExhaustRecord &e : v.def.exhausts)
        exhausts.push_back({{"thruster", IndexOf(v, e.thruster)},
                            {"pos", Triple(Flip(e.pos), kModelStep)},
                            {"dir", Triple(Flip(e.dir), kNormalStep)},
                            {"length", Finite(e.length)},
                            {"width", Finite(e.width)}});
    return exhausts;
}

inline Json StreamsJson(const Vessel &v) {
    Json streams = Json::array();
    for (const StreamRecord &s : v.def.streams)
        if (s.thruster)  // the re-entry glow is not shown
            streams.push_back({{"thruster", IndexOf(v, s.thruster)},
                               {"pos", Triple(Flip(s.pos), kModelStep)},
                               {"createdAt", Finite(s.createdAt)}});
    return streams;
}

// What does not change of a vessel while it flies; `model` null: none.
inline Json VesselDescription(const Vessel &v, const StandInModel *model) {
    Json jv;
    jv["name"] = v.name;
    jv["className"] = v.className;
    jv["size"] = Finite(v.def.size);
    Json points = Json::array();
    for (const Vec3 &p : v.def.touchdown) points.push_back(Triple(Flip(p), kModelStep));
    jv["touchdownPoints"] = std::move(points);
    jv["model"] = model ? ModelJson(*model) : Json(nullptr);
    jv["thrusters"] = ThrustersJson(v);
    jv["engines"] = GroupMembersJson(v, THGROUP_MAIN);
    jv["yawLeft"] = GroupMembersJson(v, THGROUP_ATT_YAWLEFT);
    jv["yawRight"] = GroupMembersJson(v, THGROUP_ATT_YAWRIGHT);
    jv["exhausts"] = ExhaustsJson(v);
    jv["streams"] = StreamsJson(v);
    return jv;
}

// Index m names navigation mode m (bit 1 << m); 0 is unused.
inline Json NavmodeNamesJson() {
    Json names = Json::array({""});
    for (int m = kFirstNavmode; m <= kLastNavmode; ++m) names.push_back(NavmodeName(m));
    return names;
}

// ---- poses

inline bool SamePose(const Transform &a, const Transform &b) {
    return (a.matrix() - b.matrix()).cwiseAbs().maxCoeff() < kPoseTolerance;
}

// Groups that move alike share one entry.
inline void AddToPoseSets(std::vector<PoseSet> &sets, const GroupPose &p) {
    PoseSet *set = nullptr;
    for (PoseSet &s : sets)
        if (SamePose(s.transform, p.transform)) set = &s;
    if (!set) {
        sets.push_back({{}, p.transform});
        set = &sets.back();
    }
    set->groups.push_back(p.group);
}

// A pose in whole pose steps: a turn as quaternion "q" and shift "p", or, if
// it stretches, the top three rows of its matrix "m", row by row.
inline Json PoseJson(const Transform &t) {
    const Mat3 r = Flip(Mat3(t.linear()));
    const Vec3 x = Flip(Vec3(t.translation()));
    auto steps = [](double v) { return std::llround(Finite(v) / kPoseStep); };
    Json pose;
    const bool turnOnly =
        (r.transpose() * r - Mat3::Identity()).cwiseAbs().maxCoeff() < kPoseStep && r.determinant() > 0.0;
    if (turnOnly) {
        const Quat q(r);
        pose["q"] = {steps(q.x()), steps(q.y()), steps(q.z()), steps(q.w())};
        pose["p"] = {steps(x.x()), steps(x.y()), steps(x.z())};
    } else {
        Json m = Json::array();
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) m.push_back(steps(r(row, col)));
            m.push_back(steps(x[row]));
        }
        pose["m"] = std::move(m);
    }
    return pose;
}

// Each set as its pose with its groups "g".
inline Json PoseSetsJson(const std::vector<PoseSet> &sets) {
    Json out = Json::array();
    for (const PoseSet &s : sets) {
        Json set = PoseJson(s.transform);
        set["g"] = s.groups;
        out.push_back(std::move(set));
    }
    return out;
}

// ---- the head-up display

inline bool SameRun(const VtalCanvas::TextRun &a, const VtalCanvas::TextRun &b) {
    return a.x == b.x && a.y == b.y && a.color == b.color && a.text == b.text;
}

inline bool SameRuns(const std::vector<VtalCanvas::TextRun> &a, const std::vector<VtalCanvas::TextRun> &b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameRun);
}

inline Json HudRunJson(const VtalCanvas::TextRun &r) {
    return {{"x", r.x}, {"y", r.y}, {"colour", Hex(r.color)}, {"text", r.text}};
}

// Text from modules and scenarios may hold any bytes: invalid UTF-8 is replaced, not refused.
inline std::string Dump(const Json &j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace vtal::sim::viewparts

#include "sim/view/ViewRecorder.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "sim/vessel/VesselStatus.h"
#include "sim/vessel/FlightState.h"

namespace vtal::sim {
namespace {

using Json = nlohmann::json;

constexpr double kTimeTolerance = 1e-9;  // s
constexpr double kPoseTolerance = 1e-9;  // a group pose that changes less than this is unchanged

// Fixed-point steps of the recorded channels. Each channel is kept as whole
// multiples of its step, first value then differences, which keeps long
// flights small.
constexpr double kTimeStep = 1e-6;       // s
constexpr double kPositionStep = 1e-4;   // m
constexpr double kQuaternionStep = 1e-6;
constexpr double kStateStep = 1e-5;      // animation states
constexpr double kLevelStep = 1e-4;      // thruster levels
constexpr double kInstrumentStep = 1e-5; // m, m/s, deg, kg
constexpr double kModelStep = 1e-4;      // model vertices, m
constexpr double kNormalStep = 1e-3;
constexpr double kPoseStep = 1e-5;       // pose matrices, m and unitless

double Rounded(double x, double step) { return std::round(x / step) * step; }

// A channel as {"step": s, "d": [first, then differences]} in whole steps.
Json Channel(const std::vector<double> &values, double step) {
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
Vec3 Flip(const Vec3 &v) { return Vec3(v.x(), v.y(), -v.z()); }
Mat3 Flip(const Mat3 &m) {
    const Eigen::DiagonalMatrix<double, 3> s(1.0, 1.0, -1.0);
    return s * m * s;
}

Json Triple(const Vec3 &v, double step) {
    return Json::array({Rounded(v.x(), step), Rounded(v.y(), step), Rounded(v.z(), step)});
}

std::string Hex(COLORREF c) {
    char text[8];
    // The canvas keeps GDI order: red in the low byte.
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(c & 0xFF),
                  static_cast<unsigned>((c >> 8) & 0xFF), static_cast<unsigned>((c >> 16) & 0xFF));
    return text;
}

std::string Hex(const Vec3 &rgb) {
    auto byte = [](double x) { return static_cast<unsigned>(std::lround(std::clamp(x, 0.0, 1.0) * 255.0)); };
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(rgb.x()), byte(rgb.y()), byte(rgb.z()));
    return text;
}

std::string Hex(const std::array<float, 3> &rgb) { return Hex(Vec3(rgb[0], rgb[1], rgb[2])); }

bool SamePose(const Transform &a, const Transform &b) {
    return (a.matrix() - b.matrix()).cwiseAbs().maxCoeff() < kPoseTolerance;
}

bool SameRuns(const std::vector<VtalCanvas::TextRun> &a, const std::vector<VtalCanvas::TextRun> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].color != b[i].color || a[i].text != b[i].text) return false;
    return true;
}

const char *ThrusterKind(const Vessel &v, const Thruster *t) {
    auto in = [&](int type) {
        const ThrusterGroup *g = v.Group(type);
        return g && std::find(g->members.begin(), g->members.end(), t) != g->members.end();
    };
    if (in(THGROUP_MAIN)) return "engine";
    if (in(THGROUP_ATT_YAWLEFT) || in(THGROUP_ATT_YAWRIGHT)) return "yaw";
    if (t->maxThrust == 0.0) return "beam";  // shows its exhaust only
    return "other";
}

int IndexOf(const Vessel &v, const Thruster *t) {
    for (std::size_t i = 0; i < v.actuators.thrusters.size(); ++i)
        if (v.actuators.thrusters[i].get() == t) return static_cast<int>(i);
    return -1;
}

Json ModelJson(const StandInModel &model) {
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

// A pose in whole pose steps: a turn as quaternion "q" and shift "p", or, if
// it stretches, the top three rows of its matrix "m", row by row.
Json PoseJson(const Transform &t) {
    const Mat3 r = Flip(Mat3(t.linear()));
    const Vec3 x = Flip(Vec3(t.translation()));
    auto steps = [](double v) { return std::llround(v / kPoseStep); };
    Json pose;
    const bool turnOnly = (r.transpose() * r - Mat3::Identity()).cwiseAbs().maxCoeff() < kPoseStep && r.determinant() > 0.0;
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

}  // namespace

ViewRecorder::ViewRecorder(World &world) {
    tracks_.resize(world.Vessels().size());
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const Vessel &v = *world.Vessels()[i];
        tracks_[i].hasModel = !v.actuators.components.empty() || v.object != nullptr;
        if (tracks_[i].hasModel) tracks_[i].model = BuildStandInModel(v);
    }
    Sample(world);
}

bool ViewRecorder::EventHappened(const World &world) const {
    for (std::size_t i = 0; i < tracks_.size() && i < world.Vessels().size(); ++i) {
        const Vessel &v = *world.Vessels()[i];
        const VesselTrack &t = tracks_[i];
        if (t.samples.empty()) continue;
        if (v.contact.groundContact != t.samples.back().contact) return true;
        if (world.TouchdownOf(v).happened != t.touchedDown) return true;
    }
    return false;
}

void ViewRecorder::Frame(World &world) {
    if (world.SimTime() + kTimeTolerance >= nextSample_ || EventHappened(world)) Sample(world);
}

void ViewRecorder::Sample(World &world) {
    const double time = world.SimTime();
    if (time <= lastTime_ + kTimeTolerance) return;
    lastTime_ = time;
    times_.push_back(time);
    nextSample_ = (std::floor((time + kTimeTolerance) / kViewSampleInterval) + 1.0) * kViewSampleInterval;
    for (std::size_t i = 0; i < tracks_.size() && i < world.Vessels().size(); ++i) {
        const Vessel &v = *world.Vessels()[i];
        VesselTrack &track = tracks_[i];
        VesselSample s;
        // Body-fixed, so that the ground stays put under a turning body.
        const Mat3 planet = world.Body().Orientation(world.Mjd());
        s.pos = planet.transpose() * v.motion.positionGlobal;
        s.attitude = Quat(planet.transpose() * v.Rotation());
        for (const Animation &a : v.actuators.animations) s.animations.push_back(a.state);
        for (const auto &t : v.actuators.thrusters) s.thrusters.push_back(t->effective);
        s.navmodes = v.actuators.navmodes;
        s.propellant = v.PropellantMass();
        static_cast<Instruments &>(s) = InstrumentsOf(v, world.Body());
        s.contact = v.contact.groundContact;
        track.samples.push_back(std::move(s));
        track.touchedDown = world.TouchdownOf(v).happened;
        SamplePoses(v, track, time);
    }
    SampleHud(world, time);
}

void ViewRecorder::SamplePoses(const Vessel &v, VesselTrack &track, double time) {
    const std::vector<GroupPose> poses = EvaluateGroupPoses(v);
    PoseFrame frame;
    frame.time = time;
    for (const GroupPose &p : poses) {
        bool changed = true;
        for (const GroupPose &old : track.lastPoses)
            if (old.mesh == p.mesh && old.group == p.group) changed = !SamePose(old.transform, p.transform);
        if (!changed) continue;
        // Groups that move alike share one entry.
        PoseSet *set = nullptr;
        for (PoseSet &s : frame.sets)
            if (SamePose(s.transform, p.transform)) set = &s;
        if (!set) {
            frame.sets.push_back({{}, p.transform});
            set = &frame.sets.back();
        }
        set->groups.push_back(p.group);
    }
    track.lastPoses = poses;
    if (!frame.sets.empty() || track.poses.empty()) track.poses.push_back(std::move(frame));
}

void ViewRecorder::SampleHud(World &world, double time) {
    world.PaintHud();
    const auto &runs = world.Canvas().runs;
    if (!hud_.empty() && SameRuns(hud_.back().runs, runs)) return;
    hud_.push_back({time, runs});
}

std::string ViewRecorder::Finish(World &world) {
    Sample(world);
    const std::vector<std::unique_ptr<Vessel>> &vessels = world.Vessels();

    // The local frame: on the ground below where the focus vessel touched down, else where it ended.
    std::size_t focus = 0;
    for (std::size_t i = 0; i < vessels.size(); ++i)
        if (vessels[i].get() == world.Focus()) focus = i;
    Vec3 originPos = Vec3(world.Body().radius, 0.0, 0.0);
    if (focus < tracks_.size() && !tracks_[focus].samples.empty()) {
        const VesselTrack &t = tracks_[focus];
        const Touchdown &td = world.TouchdownOf(*vessels[focus]);
        const VesselSample *at = &t.samples.back();
        if (td.happened)
            for (std::size_t k = 0; k < times_.size() && k < t.samples.size(); ++k)
                if (std::abs(times_[k] - td.time) < kTimeTolerance) at = &t.samples[k];
        if (at->pos.norm() > 0.0) originPos = at->pos.normalized() * world.Body().radius;
    }
    const HorizonFrame h = HorizonAt(originPos);
    Mat3 toLocal;  // global -> (east, up, north)
    toLocal.row(0) = h.east;
    toLocal.row(1) = h.up;
    toLocal.row(2) = h.north;

    Json out;
    out["format"] = "vtal-view 1";
    out["scenario"] = world.Source().path;
    out["body"] = {{"name", world.Body().name}, {"radius", world.Body().radius}};
    out["dt"] = world.Dt();
    out["endTime"] = world.SimTime();
    out["focus"] = focus;
    out["origin"] = {{"longitude_deg", std::atan2(originPos.z(), originPos.x()) / kRadPerDeg},
                     {"latitude_deg", std::asin(originPos.y() / originPos.norm()) / kRadPerDeg}};
    out["time"] = Channel(times_, kTimeStep);
    out["poseStep"] = kPoseStep;
    Json names = Json::array({""});
    for (int m = kFirstNavmode; m <= kLastNavmode; ++m) names.push_back(NavmodeName(m));
    out["navmodeNames"] = std::move(names);

    Json jvessels = Json::array();
    for (std::size_t i = 0; i < tracks_.size() && i < vessels.size(); ++i) {
        const Vessel &v = *vessels[i];
        const VesselTrack &track = tracks_[i];
        Json jv;
        jv["name"] = v.name;
        jv["className"] = v.className;
        jv["size"] = v.def.size;
        const Touchdown &td = world.TouchdownOf(v);
        jv["touchdown"] = td.happened ? Json(td.time) : Json(nullptr);
        Json points = Json::array();
        for (const Vec3 &p : v.def.touchdown) points.push_back(Triple(Flip(p), kModelStep));
        jv["touchdownPoints"] = std::move(points);
        jv["model"] = track.hasModel ? ModelJson(track.model) : Json(nullptr);

        Json thrusters = Json::array();
        for (const auto &t : v.actuators.thrusters)
            thrusters.push_back({{"pos", Triple(Flip(t->pos), kModelStep)},
                                 {"dir", Triple(Flip(t->dir), kNormalStep)},
                                 {"maxThrust", t->maxThrust},
                                 {"kind", ThrusterKind(v, t.get())}});
        jv["thrusters"] = std::move(thrusters);
        // The instruments show the engines and yaw pairs as the telemetry does: by group.
        auto members = [&](int type) {
            Json list = Json::array();
            if (const ThrusterGroup *g = v.Group(type))
                for (const Thruster *t : g->members) list.push_back(IndexOf(v, t));
            return list;
        };
        jv["engines"] = members(THGROUP_MAIN);
        jv["yawLeft"] = members(THGROUP_ATT_YAWLEFT);
        jv["yawRight"] = members(THGROUP_ATT_YAWRIGHT);
        Json exhausts = Json::array();
        for (const ExhaustRecord &e : v.def.exhausts)
            exhausts.push_back({{"thruster", IndexOf(v, e.thruster)},
                                {"pos", Triple(Flip(e.pos), kModelStep)},
                                {"dir", Triple(Flip(e.dir), kNormalStep)},
                                {"length", e.length},
                                {"width", e.width}});
        jv["exhausts"] = std::move(exhausts);
        Json streams = Json::array();
        for (const StreamRecord &s : v.def.streams)
            if (s.thruster)  // the re-entry glow is not shown
                streams.push_back({{"thruster", IndexOf(v, s.thruster)},
                                   {"pos", Triple(Flip(s.pos), kModelStep)},
                                   {"createdAt", s.createdAt}});
        jv["streams"] = std::move(streams);

        // Channels.
        const std::size_t n = track.samples.size();
        std::vector<double> px(n), py(n), pz(n), qx(n), qy(n), qz(n), qw(n), nav(n), contact(n), prop(n), alt(n),
            vs(n), hs(n), pitch(n), bank(n), heading(n);
        const std::size_t animCount = v.actuators.animations.size(), thrCount = v.actuators.thrusters.size();
        std::vector<std::vector<double>> anims(animCount, std::vector<double>(n)),
            thr(thrCount, std::vector<double>(n));
        Quat previous = Quat::Identity();
        for (std::size_t k = 0; k < n; ++k) {
            const VesselSample &s = track.samples[k];
            const Vec3 p = Flip(Vec3(toLocal * (s.pos - originPos)));
            px[k] = p.x();
            py[k] = p.y();
            pz[k] = p.z();
            Quat q(Flip(Mat3(toLocal * s.attitude.toRotationMatrix())));
            if (k > 0 && q.dot(previous) < 0.0) q.coeffs() = -q.coeffs();  // the shorter way to the next
            previous = q;
            qx[k] = q.x();
            qy[k] = q.y();
            qz[k] = q.z();
            qw[k] = q.w();
            for (std::size_t a = 0; a < animCount && a < s.animations.size(); ++a) anims[a][k] = s.animations[a];
            for (std::size_t t = 0; t < thrCount && t < s.thrusters.size(); ++t) thr[t][k] = s.thrusters[t];
            nav[k] = s.navmodes;
            contact[k] = s.contact ? 1.0 : 0.0;
            prop[k] = s.propellant;
            alt[k] = s.altitude;
            vs[k] = s.verticalSpeed;
            hs[k] = s.horizontalSpeed;
            pitch[k] = s.pitchDeg;
            bank[k] = s.bankDeg;
            heading[k] = s.headingDeg;
        }
        Json ch;
        ch["pos"] = Json::array({Channel(px, kPositionStep), Channel(py, kPositionStep), Channel(pz, kPositionStep)});
        ch["quat"] = Json::array({Channel(qx, kQuaternionStep), Channel(qy, kQuaternionStep),
                                  Channel(qz, kQuaternionStep), Channel(qw, kQuaternionStep)});
        Json ja = Json::array(), jt = Json::array();
        for (const auto &a : anims) ja.push_back(Channel(a, kStateStep));
        for (const auto &t : thr) jt.push_back(Channel(t, kLevelStep));
        ch["anim"] = std::move(ja);
        ch["thrust"] = std::move(jt);
        ch["navmodes"] = Channel(nav, 1.0);
        ch["contact"] = Channel(contact, 1.0);
        ch["propellant"] = Channel(prop, kInstrumentStep);
        ch["altitude"] = Channel(alt, kInstrumentStep);
        ch["verticalSpeed"] = Channel(vs, kInstrumentStep);
        ch["horizontalSpeed"] = Channel(hs, kInstrumentStep);
        ch["pitch"] = Channel(pitch, kInstrumentStep);
        ch["bank"] = Channel(bank, kInstrumentStep);
        ch["heading"] = Channel(heading, kInstrumentStep);
        jv["channels"] = std::move(ch);

        Json poses = Json::array();
        for (const PoseFrame &f : track.poses) {
            Json sets = Json::array();
            for (const PoseSet &s : f.sets) {
                Json set = PoseJson(s.transform);
                set["g"] = s.groups;
                sets.push_back(std::move(set));
            }
            poses.push_back({{"t", Rounded(f.time, kTimeStep)}, {"sets", std::move(sets)}});
        }
        jv["poses"] = std::move(poses);
        jvessels.push_back(std::move(jv));
    }
    out["vessels"] = std::move(jvessels);

    // Each distinct text run once; a frame lists the runs it shows.
    Json hudRuns = Json::array(), hudFrames = Json::array();
    std::vector<VtalCanvas::TextRun> distinct;
    for (const HudFrame &f : hud_) {
        Json shown = Json::array();
        for (const auto &r : f.runs) {
            auto it = std::find_if(distinct.begin(), distinct.end(), [&](const VtalCanvas::TextRun &d) {
                return d.x == r.x && d.y == r.y && d.color == r.color && d.text == r.text;
            });
            if (it == distinct.end()) {
                distinct.push_back(r);
                hudRuns.push_back({{"x", r.x}, {"y", r.y}, {"colour", Hex(r.color)}, {"text", r.text}});
                it = distinct.end() - 1;
            }
            shown.push_back(it - distinct.begin());
        }
        hudFrames.push_back({{"t", Rounded(f.time, kTimeStep)}, {"runs", std::move(shown)}});
    }
    out["hud"] = {{"width", world.Canvas().width},
                  {"height", world.Canvas().height},
                  {"runs", std::move(hudRuns)},
                  {"frames", std::move(hudFrames)}};

    Json notes = Json::array();
    for (const auto &a : world.AllAnnotations())
        notes.push_back({{"text", a->text},
                         {"from", a->createdAt},
                         {"to", a->deleted ? Json(a->deletedAt) : Json(nullptr)},
                         {"colour", Hex(a->colour)},
                         {"size", a->size},
                         {"box", {a->box[0], a->box[1], a->box[2], a->box[3]}}});
    out["annotations"] = std::move(notes);
    // Text from modules and scenarios may hold any bytes: invalid UTF-8 is replaced, not refused.
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vtal::sim

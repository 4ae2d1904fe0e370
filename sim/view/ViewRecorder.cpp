#include "sim/view/ViewRecorder.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "sim/view/RecordParts.h"

namespace vtal::sim {
namespace {

using namespace viewparts;

constexpr double kTimeTolerance = 1e-9;  // s

}  // namespace

VesselSample SampleOf(const World &world, const Vessel &v) {
    VesselSample s;
    s.pos = BodyFixedPosition(world, v);
    s.attitude = BodyFixedAttitude(world, v);
    for (const Animation &a : v.actuators.animations) s.animations.push_back(a.state);
    for (const auto &t : v.actuators.thrusters) s.thrusters.push_back(t->effective);
    s.navmodes = v.actuators.navmodes;
    s.propellant = v.PropellantMass();
    static_cast<Instruments &>(s) = InstrumentsOf(v, world.Body());
    s.contact = v.contact.groundContact;
    return s;
}

ViewRecorder::ViewRecorder(World &world) {
    tracks_.resize(world.Vessels().size());
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const Vessel &v = *world.Vessels()[i];
        tracks_[i].hasModel = HasStandInModel(v);
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
        track.samples.push_back(SampleOf(world, v));
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
        if (changed) AddToPoseSets(frame.sets, p);
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
    const std::size_t focus = FocusIndex(world);
    const LocalFrame frame = LocalFrameBelow(LandingPoint(world, focus), world.Body().radius);
    Json out = RunJson(world, focus, frame);
    Json vessels = Json::array();
    for (std::size_t i = 0; i < tracks_.size() && i < world.Vessels().size(); ++i)
        vessels.push_back(VesselJson(world, i, frame));
    out["vessels"] = std::move(vessels);
    out["hud"] = HudJson(world);
    out["annotations"] = AnnotationsJson(world);
    return Dump(out);
}

// Where the focus vessel touched down, else where it ended (body-fixed); the
// record's local frame is on the ground below it.
Vec3 ViewRecorder::LandingPoint(const World &world, std::size_t focus) const {
    if (focus >= tracks_.size() || tracks_[focus].samples.empty()) return Vec3::Zero();
    const VesselTrack &t = tracks_[focus];
    const Touchdown &td = world.TouchdownOf(*world.Vessels()[focus]);
    const VesselSample *at = &t.samples.back();
    if (td.happened)
        for (std::size_t k = 0; k < times_.size() && k < t.samples.size(); ++k)
            if (std::abs(times_[k] - td.time) < kTimeTolerance) at = &t.samples[k];
    return at->pos;
}

// What holds for the whole run: its source, body, step, end, focus, origin and sample times.
Json ViewRecorder::RunJson(const World &world, std::size_t focus, const LocalFrame &frame) const {
    Json out;
    out["format"] = "vtal-view 1";
    out["scenario"] = world.Source().path;
    out["body"] = {{"name", world.Body().name}, {"radius", world.Body().radius}};
    out["dt"] = world.Dt();
    out["endTime"] = world.SimTime();
    out["focus"] = focus;
    out["origin"] = frame.OriginJson();
    out["time"] = Channel(times_, kTimeStep);
    out["poseStep"] = kPoseStep;
    out["navmodeNames"] = NavmodeNamesJson();
    return out;
}

Json ViewRecorder::VesselJson(const World &world, std::size_t index, const LocalFrame &frame) const {
    const Vessel &v = *world.Vessels()[index];
    const VesselTrack &track = tracks_[index];
    Json jv = VesselDescription(v, track.hasModel ? &track.model : nullptr);
    const Touchdown &td = world.TouchdownOf(v);
    jv["touchdown"] = td.happened ? Json(td.time) : Json(nullptr);
    jv["channels"] = ChannelsJson(track, v, frame);
    jv["poses"] = PosesJson(track);
    return jv;
}

// Every sample's values, a channel each, in the local frame.
Json ViewRecorder::ChannelsJson(const VesselTrack &track, const Vessel &v, const LocalFrame &frame) {
    const std::size_t n = track.samples.size();
    std::vector<double> px(n), py(n), pz(n), qx(n), qy(n), qz(n), qw(n), nav(n), contact(n), prop(n), alt(n), vs(n),
        hs(n), pitch(n), bank(n), heading(n);
    const std::size_t animCount = v.actuators.animations.size(), thrCount = v.actuators.thrusters.size();
    std::vector<std::vector<double>> anims(animCount, std::vector<double>(n)), thr(thrCount, std::vector<double>(n));
    Quat previous = Quat::Identity();
    for (std::size_t k = 0; k < n; ++k) {
        const VesselSample &s = track.samples[k];
        const Vec3 p = frame.Position(s.pos);
        px[k] = p.x();
        py[k] = p.y();
        pz[k] = p.z();
        Quat q = frame.Attitude(s.attitude);
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
    ch["quat"] = Json::array({Channel(qx, kQuaternionStep), Channel(qy, kQuaternionStep), Channel(qz, kQuaternionStep),
                              Channel(qw, kQuaternionStep)});
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
    return ch;
}

// The pose entries: each time some group's pose changed, the changed ones.
Json ViewRecorder::PosesJson(const VesselTrack &track) {
    Json poses = Json::array();
    for (const PoseFrame &f : track.poses)
        poses.push_back({{"t", Rounded(f.time, kTimeStep)}, {"sets", PoseSetsJson(f.sets)}});
    return poses;
}

// Each distinct text run once; a frame lists the runs it shows.
Json ViewRecorder::HudJson(const World &world) const {
    Json hudRuns = Json::array(), hudFrames = Json::array();
    std::vector<VtalCanvas::TextRun> distinct;
    for (const HudFrame &f : hud_) {
        Json shown = Json::array();
        for (const auto &r : f.runs) {
            auto it = std::find_if(distinct.begin(), distinct.end(),
                                   [&](const VtalCanvas::TextRun &d) { return SameRun(d, r); });
            if (it == distinct.end()) {
                distinct.push_back(r);
                hudRuns.push_back(HudRunJson(r));
                it = distinct.end() - 1;
            }
            shown.push_back(it - distinct.begin());
        }
        hudFrames.push_back({{"t", Rounded(f.time, kTimeStep)}, {"runs", std::move(shown)}});
    }
    return {{"width", world.Canvas().width},
            {"height", world.Canvas().height},
            {"runs", std::move(hudRuns)},
            {"frames", std::move(hudFrames)}};
}

// Every annotation of the run, with the times it appeared and went.
Json ViewRecorder::AnnotationsJson(const World &world) {
    Json notes = Json::array();
    for (const auto &a : world.AllAnnotations())
        notes.push_back({{"text", a->text},
                         {"from", Finite(a->createdAt)},
                         {"to", a->deleted ? Json(Finite(a->deletedAt)) : Json(nullptr)},
                         {"colour", Hex(a->colour)},
                         {"size", Finite(a->size)},
                         {"box", {Finite(a->box[0]), Finite(a->box[1]), Finite(a->box[2]), Finite(a->box[3])}}});
    return notes;
}

}  // namespace vtal::sim
